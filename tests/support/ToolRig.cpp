#include "tests/support/ToolRig.h"

#include "tests/support/Ser2net.h"

#include "dialogs/UMsg.h"
#include "link/UComm.h"
#include "serial/platform/Port.h"
#include "widgets/CircleShape.h"
#include "widgets/ErrorBox.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstring>

nmct::modsim::Record RecordWith(const char *channel1, const char *txTone)
{
    nmct::modsim::Record record = nmct::modsim::FactoryRecord();
    std::memcpy(record.data() + 2, channel1, std::strlen(channel1));
    std::memcpy(record.data() + 290, txTone, std::strlen(txTone));
    return record;
}

nmct::modsim::Options ToolRig::FastModule()
{
    return {.pacing = false};
}

ToolRig::ToolRig(nmct::modsim::Options options, Reach reach) : reach(reach)
{
    QVERIFY(folder.isValid());
    linkPath = folder.filePath(QStringLiteral("COM5")).toStdString();
    if (reach != Reach::Line) {
        networkPort = Ser2net::FreePort();
        const QString scheme = reach == Reach::Rfc2217 ? "rfc2217" : "tcp";
        const QByteArray map =
            "COM5 " + scheme.toUtf8() + "://127.0.0.1:" + QByteArray::number(networkPort) + "\n";
        QVERIFY(QDir(folder.path()).mkpath("config/nmct"));
        QFile file(folder.filePath("config/nmct/ports"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(map) == map.size() && file.flush());
        hadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        configHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", folder.filePath("config").toUtf8());
    }
    Plug(std::move(options));

    port::SetDeviceResolver([link = linkPath](const std::string &name) {
        return name == "COM5" ? link : "/nonexistent/" + name;
    });
    TfrmMsg::SetShownHook([this](TfrmMsg &dialog) {
        messages << dialog.lblMsg->text();
        dialog.Button1->click();
    });
    SetErrorBoxHook([this](const QString &text) { errors << text; });

    frmMain = std::make_unique<TfrmMain>();
    frmMain->show();
    frmMain->activateWindow();
    QApplication::setActiveWindow(frmMain.get());
    QVERIFY(QTest::qWaitForWindowActive(frmMain.get()));
}

ToolRig::~ToolRig()
{
    frmMain.reset();
    server.reset();
    simulator.reset();
    if (reach != Reach::Line && hadConfigHome)
        qputenv("XDG_CONFIG_HOME", configHome);
    else if (reach != Reach::Line)
        qunsetenv("XDG_CONFIG_HOME");
    SetErrorBoxHook(nullptr);
    TfrmMsg::SetShownHook(nullptr);
    port::SetDeviceResolver(nullptr);
}

void ToolRig::Unplug()
{
    server.reset();
    simulator->Vanish();
    simulator.reset(); // removes the link, which now leads nowhere
}

void ToolRig::Plug(nmct::modsim::Options options)
{
    options.link = linkPath;
    simulator = std::make_unique<nmct::modsim::ModuleSimulator>(std::move(options));
    if (reach == Reach::Line)
        return;
    server = std::make_unique<Ser2net>(std::vector<Ser2netLine>{
        {simulator->SlavePath(), reach == Reach::Rfc2217, "9600n81", networkPort}});
    QVERIFY2(server->Started(), server->Log().c_str());
}

void ToolRig::ClickOpen()
{
    Control<QComboBox>(*frmMain, "cbxComm")->setCurrentIndex(PortIndex);
    Click(Control<QPushButton>(*frmMain, "btnOpen"));
}

void ToolRig::Connect(const char *channel1)
{
    simulator->SetRecord(RecordWith(channel1));
    ClickOpen();
    TfrmMain &w = *frmMain;
    QCOMPARE(Control<QLabel>(w, "lblStatus")->text(), QString("Device Found!"));
    QCOMPARE(Control<QPushButton>(w, "btnOpen")->text(), QString("CLOSE"));
    QCOMPARE(Control<CircleShape>(w, "shpLight")->BrushColor(), QColor(0, 128, 0));
    QVERIFY(w.State().portIsOpen && Control<QTimer>(w, "Timer1")->isActive());
    QCOMPARE(Control<FrequencyEdit>(w, "MEdChannel1")->EditText(), QByteArray(channel1));
}

void ToolRig::Click(QWidget *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}
