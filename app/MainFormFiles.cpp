// Parameter files in the window, without a control of their own: Ctrl+S saves what the window
// shows, Ctrl+O loads a file into the controls, a file dropped onto the window loads it, and
// the window's background offers both in a context menu. Nothing is sent until SET.

#include "app/UMainForm.h"

#include "protocol/ParamFile.h"
#include "protocol/TextFile.h"
#include "session/Latin1.h"
#include "session/ModuleSession.h"
#include "widgets/ErrorBox.h"
#include "widgets/Selectors.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include <stdexcept>

namespace {

const QString ParamFileSuffix = QStringLiteral("nmct");
const QString FileFilter =
    QStringLiteral("Parameter files (*.nmct);;Text files (*.txt);;All files (*)");

// A name typed without an extension gets the parameter files' own, so that the load's filter
// shows the file.
QString WithParamFileSuffix(const QString &fileName)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + QLatin1Char('.') + ParamFileSuffix;
}

TfrmMain::FileDialogHook &DialogHook()
{
    static TfrmMain::FileDialogHook hook;
    return hook;
}

[[noreturn]] void Fail(const QString &text)
{
    throw std::runtime_error(text.toStdString());
}

// The file unit speaks the system's bytes, in file names and in its messages.
std::string SystemName(const QString &fileName)
{
    return QFile::encodeName(fileName).toStdString();
}

QString FromSystem(const std::string &text)
{
    return QFile::decodeName(QByteArray::fromStdString(text));
}

// The one local file a drag carries, or none.
QString DraggedFile(const QMimeData *data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1)
        return {};
    const QUrl url = data->urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

void TfrmMain::SetFileDialogHook(FileDialogHook hook)
{
    DialogHook() = std::move(hook);
}

void TfrmMain::BuildFileActions()
{
    actSave = new QAction(QStringLiteral("Save parameters…"), this);
    actSave->setObjectName(QStringLiteral("actSave"));
    actSave->setShortcut(QKeySequence::Save);
    actLoad = new QAction(QStringLiteral("Load parameters…"), this);
    actLoad->setObjectName(QStringLiteral("actLoad"));
    actLoad->setShortcut(QKeySequence::Open);
    for (QAction *action : {actSave, actLoad}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    ConnectGuarded(actSave, &QAction::triggered, this, &TfrmMain::SaveParamsClick);
    ConnectGuarded(actLoad, &QAction::triggered, this, &TfrmMain::LoadParamsClick);
    setAcceptDrops(true);
}

QString TfrmMain::AskFileName(FileChoice choice)
{
    if (DialogHook())
        return DialogHook()(choice);
    QFileDialog dialog(this,
                       choice == FileChoice::Save ? QStringLiteral("Save parameters")
                                                  : QStringLiteral("Load parameters"),
                       lastFile, FileFilter);
    if (choice == FileChoice::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        // Asked to replace a file by the name it will have.
        dialog.setDefaultSuffix(ParamFileSuffix);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

ModuleSettings TfrmMain::SavableSettings() const
{
    // The tone selectors are checked as SET checks them; a file holds only whole frequencies
    // and a squelch from the list.
    const ModuleSettings settings = ShownSettings("nothing was saved");
    for (std::size_t i = 0; i < ChannelCount; ++i)
        for (const auto &[text, what] : {std::pair{&settings.channels[i].tx, "transmit"},
                                         std::pair{&settings.channels[i].rx, "receive"}})
            if (!IsFrequencyText(*text))
                Fail(QStringLiteral("Channel %1 %2 frequency \"%3\" is not a frequency; nothing "
                                    "was saved")
                         .arg(i + 1)
                         .arg(QLatin1String(what), QString::fromStdString(*text)));
    if (CbxSQ->findText(Latin1Text(settings.squelch), Qt::MatchExactly) < 0)
        Fail(QStringLiteral("SQ: \"%1\" is not in the list; nothing was saved")
                 .arg(Latin1Text(settings.squelch)));
    return settings;
}

void TfrmMain::SaveParamsClick()
{
    if (session->OperationRunning()) // a modal dialog would wait inside the exchange
        return;
    const ModuleSettings settings = SavableSettings();
    const QString fileName = WithParamFileSuffix(AskFileName(FileChoice::Save));
    if (fileName.isEmpty())
        return;
    // Replaced only by a complete file; on failure the old one stays as it was.
    if (const std::optional<std::string> failed =
            WriteTextFile(SystemName(fileName), WriteParamFile(settings)))
        Fail(QStringLiteral("Cannot save the parameters: %1").arg(FromSystem(*failed)));
    lastFile = fileName;
}

void TfrmMain::LoadParamsClick()
{
    if (session->OperationRunning())
        return;
    const QString fileName = AskFileName(FileChoice::Load);
    if (!fileName.isEmpty())
        LoadParamsFrom(fileName);
}

void TfrmMain::LoadParamsFrom(const QString &fileName)
{
    const TextRead file = ReadTextFile(SystemName(fileName), LargestParamFile);
    if (!file.Ok())
        Fail(QStringLiteral("Cannot load the parameters: %1").arg(FromSystem(file.error)));
    const SettingsResult read = ReadParamFile(file.text);
    lastFile = fileName;
    if (!read.Ok()) {
        QString text = QStringLiteral("Cannot load %1; nothing was changed:").arg(fileName);
        for (const std::string &error : read.errors)
            text += QLatin1Char('\n') + QString::fromStdString(error);
        Fail(text);
    }
    ShowSettings(read.settings);
}

void TfrmMain::contextMenuEvent(QContextMenuEvent *event)
{
    // Reached from the background: the panels and labels leave the event to their parent.
    QMenu menu(this);
    menu.addAction(actSave);
    menu.addAction(actLoad);
    menu.exec(event->globalPos());
}

void TfrmMain::RouteDropsToWindow()
{
    // Qt gives a drag to the innermost widget under the pointer that accepts drops; an editable
    // selector's line edit would paste the file's URL.
    for (QWidget *child : findChildren<QWidget *>())
        child->setAcceptDrops(false);
}

void TfrmMain::dragEnterEvent(QDragEnterEvent *event)
{
    if (!DraggedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent *event)
{
    const QString fileName = DraggedFile(event->mimeData());
    if (fileName.isEmpty() || session->OperationRunning())
        return;
    event->acceptProposedAction();
    RunGuarded([&] { LoadParamsFrom(fileName); });
}
