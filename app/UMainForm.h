#pragma once
// The main window: the tool's only working window.
//
// Names: the window keeps the names its behaviour was first described with (T type, U unit,
// E exception; btn, cbx, Edt, MEd, shp, lbl prefixes; handler = control + event). NAMES.md
// explains them; the comment beside each control below says what it shows.
//
// Ownership: TfrmMain owns every control through Qt's parent chain; the controls are created in
// the constructor (MainFormLayout.cpp) and go with the window. It owns the module session for
// its whole life: created first in FormCreate, freed in FormDestroy, which stops an open port
// and its threads. The session owns the link to the module and the connection's life (the
// presence watch `Timer1`, a CLOSE or window close that waits for an operation); the window
// forwards OPEN/CLOSE and marks its operations, and draws the connection as the session shows
// it. Beside its controls it keeps one flag of its own, recordShown (what SET may send).
//
// Threads: everything here runs on the GUI thread. Every handler entered from Qt (clicks,
// toggles, the timer) runs through RunGuarded, so an error escaping it shows the default error
// box and the program goes on.
//
// The controls and the state are private: tests find controls by their object names and read
// the state through State().
//
// Files: UMainForm.cpp holds the start, the window state and the check box pairing;
// MainFormLayout.cpp builds the controls from their tables, MainFormPlacement.cpp centres the
// window; MainFormParams.cpp shows a parameter record or file's settings and assembles the set
// command; MainFormOperations.cpp holds the operations that talk to the module;
// MainFormFiles.cpp saves and loads parameter files. Why a port could not be opened is worded
// by the session (session/PortAdvice.h), for the command line too.

#include "protocol/Commands.h"
#include "protocol/ParamFile.h"
#include "protocol/ParamRecord.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

class BevelPanel;
class CircleShape;
class CloseRequests;
class ClickLabel;
class CompletingComboBox;
class FrequencyEdit;
class PortComboBox;
class QAction;
class QCheckBox;
class QCloseEvent;
class QContextMenuEvent;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QShowEvent;
class QLineEdit;
class QPushButton;
class ModuleSession;
namespace port {
struct OpenFailure;
}
enum class StepResult;

class TfrmMain : public QWidget
{
    Q_OBJECT

public:
    static constexpr int ClientWidth = 969;
    static constexpr int ClientHeight = 596;
    static constexpr int ChannelCount = ParamRecord::ChannelCount;

    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // What tests and benchmarks read of the window's state; reading it changes nothing.
    struct Status
    {
        bool deviceFound; // the last identify exchange got a reply
        bool linkBusy;    // an exchange with the module is running
        bool portIsOpen;  // the link's port is open
    };
    Status State() const;

    // Sets the enabled state of control and of the controls directly inside it; controls
    // nested deeper keep their own.
    static void EnableGroup(QWidget *control, bool state);
    // The editing groups: p1, p2, p3, P4, btnSet, btnRead, btnDefault.
    void EnableEditing(bool state);

    // ---- Parameters ---------------------------------------------------------------------
    // Spreads a record over the frequency fields, the tone selectors with their check boxes
    // and the squelch selector, in that order, read as ReadShownRecord reads it. A tone code
    // or squelch field that is not a decimal number throws EConvertError; what was shown before
    // it stays shown, and SET refuses until a whole record is shown.
    void ShowParams(ParamRecord record);
    // Shows settings read from a file: they are whole and within the lists by construction.
    void ShowSettings(const ModuleSettings &settings);
    // The start-up values; SET refuses to send them.
    void LoadDefaults();
    // The complete set command as the controls stand, line end included. Throws when the tone
    // selector a direction's check box chooses shows no item: no code would match what it shows.
    std::string BuildSetCommand() const;

    // ---- Parameter files (MainFormFiles.cpp) ----------------------------------------------
    // The file a user picks in the platform's file dialog, empty for none; a test answers in
    // the dialog's place while a hook is set.
    enum class FileChoice
    {
        Save,
        Load
    };
    using FileDialogHook = std::function<QString(FileChoice)>;
    static void SetFileDialogHook(FileDialogHook hook);

    // The outcomes the parameter operations report.
    static const QString SetSucceeded;
    static const QString DefaultSucceeded;
    static const QString VolumeSucceeded;
    static const QString OperationFailed;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    friend struct WindowSeam; // tests reach the session through it

    // ---- Window state -------------------------------------------------------------------
    // Whether the device is found and the port open, the presence watch, and a CLOSE or window
    // close that waits for an operation live in the session; the window shows them.
    // The controls show a whole record, read from the module since OPEN or loaded from a file
    // (edited since, perhaps); SET sends nothing else.
    bool recordShown = false;

    // The one door to the module: it owns the link and the connection's life.
    std::unique_ptr<ModuleSession> session;
    // A close request that a modal message would swallow while an operation runs.
    std::unique_ptr<CloseRequests> closeRequests;
    bool TakeOverCloseRequest();

    // Sets the status text; the status label is as wide as its text.
    void ShowStatus(const QString &text);

    // What the controls show, as SET sends it: the frequency fields' and the squelch's text
    // unchanged. Throws as BuildSetCommand does, the message ending in `refusal`.
    ModuleSettings ShownSettings(const char *refusal = "nothing was sent") const;
    // Shows the frequencies, then the tones and the squelch up to `last`.
    void ShowSettingsUpTo(const ModuleSettings &settings, ShownRecord::Part last);

    // Shows text in the modal message dialog; returns when the user has closed it.
    void ShowInfo(const QString &text);
    void ShowFailed(); // OperationFailed

    // ---- Port connection and device presence (MainFormOperations.cpp) ---------------------
    void ConnectSession();
    // The port selector, the light, OPEN/CLOSE, model, version, the status and the editing
    // groups, as the session shows the connection.
    void ShowConnection();
    // Tells why OPEN could not open the port: the status line's tooltip and standard error.
    void ShowOpenFailure(const port::OpenFailure &failure);

    // ---- Controls, named as the window names them ---------------------------------------
    BevelPanel *p1 = nullptr;     // identification row
    BevelPanel *Panel2 = nullptr; // port selection
    BevelPanel *p2 = nullptr;     // transmit frequencies
    BevelPanel *P4 = nullptr;     // receive frequencies
    BevelPanel *p3 = nullptr;     // sub-audio, squelch, volume
    BevelPanel *Panel6 = nullptr; // status bar

    QLabel *Image1 = nullptr;      // the vendor's logo
    QLabel *Image4 = nullptr;      // "TX Channel" heading
    QLabel *Image2 = nullptr;      // "RX Channel" heading
    QLabel *Label42 = nullptr;     // the vendor's name in Chinese
    QLabel *Label43 = nullptr;     // the vendor's name in English
    ClickLabel *Label14 = nullptr; // the vendor's web address
    QLabel *Label21 = nullptr;     // the vendor's telephone number
    QLabel *Label22 = nullptr;     // hidden: the web-store caption
    ClickLabel *Label23 = nullptr; // hidden: the web-store address
    QPushButton *btnSet = nullptr;
    QPushButton *btnRead = nullptr;
    QPushButton *btnDefault = nullptr;
    QPushButton *btnHelp = nullptr; // hidden

    // In p1.
    QLabel *Label3 = nullptr; // "Model"
    QLineEdit *EdtModel = nullptr;
    QLabel *Label5 = nullptr; // "Version"
    QLineEdit *EdtVer = nullptr;

    // In Panel2.
    PortComboBox *cbxComm = nullptr;
    QPushButton *btnOpen = nullptr;
    CircleShape *Shape1 = nullptr;   // the silver rim around the light
    CircleShape *shpLight = nullptr; // the connection light: green while the port is open

    // In p2 and P4; index 0 is channel 1.
    std::array<FrequencyEdit *, ChannelCount> MEdChannel{};  // transmit
    std::array<FrequencyEdit *, ChannelCount> MEDRChannel{}; // receive

    // In p3.
    QCheckBox *CheckBox1 = nullptr;        // TX CTCS
    QCheckBox *CheckBox2 = nullptr;        // TX CDCS
    QCheckBox *CheckBox3 = nullptr;        // RX CTCS
    QCheckBox *CheckBox4 = nullptr;        // RX CDCS
    CompletingComboBox *CbxTxCT = nullptr; // transmit CTCSS tone
    CompletingComboBox *CbxTxCD = nullptr; // transmit CDCSS code
    CompletingComboBox *CbxRxCT = nullptr; // receive CTCSS tone
    CompletingComboBox *CbxRxCD = nullptr; // receive CDCSS code
    CompletingComboBox *CbxSQ = nullptr;   // squelch level
    QPushButton *VolSet = nullptr; // "Set Vol ", below the panel's visible area, reached with Tab
    CompletingComboBox *CbxVol = nullptr; // volume, 0 to 4, beside VolSet
    QLabel *Label39 = nullptr;            // dashed line under the transmit tones
    QLabel *Label40 = nullptr;            // dashed line under the receive tones
    QLabel *Label41 = nullptr;            // "S  Q", the squelch caption

    // In Panel6.
    QLabel *lblStatus = nullptr; // "Device Found!" or "Device Not Found!"

    // ---- Handlers, connected through RunGuarded --------------------------------------------
    // Each box of a pair switches its partner to the opposite state.
    void CheckBox1Click();
    void CheckBox2Click();
    void CheckBox3Click();
    void CheckBox4Click();

    void Label14Click();
    void Label23Click();
    void btnHelpClick();

    // The operations that talk to the module (MainFormOperations.cpp). `Timer1` and its
    // handler are the session's.
    void btnOpenClick();
    void btnReadClick();
    void btnSetClick();
    void btnDefaultClick();
    void VolSetClick();
    // The frame of READ, SET, DEFAULT and "Set Vol ": nothing at all while an exchange runs,
    // the button disabled and the operation marked for as long as `body` runs, its message
    // included.
    void RunParameterOperation(QPushButton *button, const std::function<void()> &body);
    // The outcome's message; true for success.
    bool ShowOutcome(StepResult result, const QString &succeeded);

    // Ctrl+S and Ctrl+O, also in the background's context menu (MainFormFiles.cpp).
    void SaveParamsClick();
    void LoadParamsClick();

    // MainFormFiles.cpp
    QAction *actSave = nullptr; // Ctrl+S
    QAction *actLoad = nullptr; // Ctrl+O
    QString lastFile;           // where the file dialog starts
    void BuildFileActions();
    // A drop anywhere on the window reaches the window, which loads the file: no field or
    // selector takes the dragged file's path (or any dragged text) as its own text.
    void RouteDropsToWindow();
    QString AskFileName(FileChoice choice);
    // What the window shows, as a file keeps it; throws, as SET does, when a selector shows no
    // item, and when a frequency field holds no frequency.
    ModuleSettings SavableSettings() const;
    // Shows the file's settings, or throws with every error in it and changes nothing.
    void LoadParamsFrom(const QString &fileName);

    void FormCreate();
    void FormDestroy();

    // MainFormLayout.cpp
    void BuildWindow();
    void BuildBranding();
    void BuildIdentificationPanel();
    void BuildPortPanel();
    void BuildFrequencyPanels();
    void BuildTonePanel();
    void BuildButtons();
    void BuildStatusBar();
    void SetTabOrder();
    void ConnectHandlers();
    void CentreOnScreen();
    void KeepTitleBarEmpty();
    // Where the frame's top-left goes for the frame to stand centred on the screen.
    QPoint CentredFramePosition() const;
    bool centredByFrame = false; // once the window manager's frame is known
};
