#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;

// The small modal box every operation reports its outcome in: a centred line or two of
// navy text and an OK button. Each message gets a dialog of its own (ShowMessageDialog).
class TfrmMsg : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmMsg(QWidget *owner);

    QLabel *lblMsg = nullptr;
    QPushButton *Button1 = nullptr;

    // Test seam: called once the modal dialog is up, from inside its event loop, so a test can
    // read the text and close the dialog. An exception thrown by the hook closes the dialog and
    // leaves ShowMessageDialog after the dialog has been destroyed.
    static void SetShownHook(std::function<void(TfrmMsg &)> hook);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// Shows text in a new modal TfrmMsg owned by owner and centred over it, captioned "PC_VELKA6";
// returns once the user has closed it. The dialog is destroyed on every way out.
void ShowMessageDialog(QWidget *owner, const QString &text);
