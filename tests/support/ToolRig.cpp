#include "tests/support/ToolRig.h"

#include "dialogs/UMsg.h"
#include "link/UComm.h"
#include "serial/platform/Port.h"
#include "widgets/CircleShape.h"
#include "widgets/ErrorBox.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QApplication>
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

ToolRig::ToolRig(nmct::modsim::Options options)
{
    QVERIFY(folder.isValid());
    linkPath = folder.filePath(QStringLiteral("COM5")).toStdString();
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
    simulator.reset();
    SetErrorBoxHook(nullptr);
    TfrmMsg::SetShownHook(nullptr);
    port::SetDeviceResolver(nullptr);
}

void ToolRig::Unplug()
{
    simulator->Vanish();
    simulator.reset(); // removes the link, which now leads nowhere
}

void ToolRig::Plug(nmct::modsim::Options options)
{
    options.link = linkPath;
    simulator = std::make_unique<nmct::modsim::ModuleSimulator>(std::move(options));
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
