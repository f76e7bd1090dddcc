#pragma once
// The tool and a simulated module that can be pulled out and plugged in again.
//
// The window's "COM5" resolves to a symbolic link in a private folder, and each module links
// its pseudo-terminal there, as a udev rule does for a real adapter: unplugging closes the
// module's line and takes the name away, plugging makes a new module under the same name.
// Reached over the network instead, "COM5" leads through a port map of the rig's own to ser2net
// on 127.0.0.1 in front of the module: unplugging stops ser2net (the connection drops) and the
// module, plugging starts both again on the same port.
// Message dialogs are answered with OK and recorded; error boxes are recorded instead of shown.

#include "app/UMainForm.h"
#include "app/WindowFonts.h"
#include "tests/support/Controls.h"
#include "tools/modsim/ModuleSimulator.h"

#include <QApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

// Runs a helper that checks with QVERIFY and QCOMPARE, and ends the test when a check failed.
#define RIG_CHECKED(call)                                                                          \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

// The program entry of a test that runs the tool: as the program's, with the window's fonts
// installed so that the fields show all eight characters.
#define RIG_TEST_MAIN(TestClass)                                                                   \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QApplication application(argc, argv);                                                      \
        InstallWindowFonts();                                                                      \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

// The factory record with transmit channel 1 at `channel1` and the transmit tone code
// `txTone`: a record whose arrival on screen is plain to see.
nmct::modsim::Record RecordWith(const char *channel1, const char *txTone = "011");

class Ser2net;

class ToolRig
{
public:
    static constexpr int PortIndex = 4; // "COM5"

    enum class Reach
    {
        Line,    // the module's pseudo-terminal
        Rfc2217, // ser2net's telnet(rfc2217) accepter, by the port map
        Raw,     // its raw accepter, by the port map
    };

    // A module that answers at once rather than at 9600 baud.
    static nmct::modsim::Options FastModule();

    explicit ToolRig(nmct::modsim::Options options = FastModule(), Reach reach = Reach::Line);
    ~ToolRig();
    ToolRig(const ToolRig &) = delete;
    ToolRig &operator=(const ToolRig &) = delete;

    TfrmMain &window() { return *frmMain; }
    nmct::modsim::ModuleSimulator &module() { return *simulator; }
    bool Plugged() const { return simulator != nullptr; }

    // The module goes: its line hangs up and the name "COM5" leads nowhere.
    void Unplug();
    // A new module appears under the name "COM5".
    void Plug(nmct::modsim::Options options = FastModule());

    // Commands the module received since the last ForgetWire, as the bytes that made them.
    std::vector<std::string> Wire() const { return simulator->ReceivedCommands(); }
    void ForgetWire() { simulator->ClearReceivedCommands(); }

    // Chooses COM5 and clicks OPEN (or CLOSE); returns once the click's handler has ended.
    void ClickOpen();
    // Gives the module a record with transmit channel 1 at `channel1` (by default the factory
    // record's), clicks OPEN and checks that the tool is connected and shows that channel.
    // Call it through RIG_CHECKED.
    void Connect(const char *channel1 = "450.1250");
    void Click(QWidget *button);
    // Closes the window as the user would, which frees the link.
    void CloseWindow() { frmMain.reset(); }

    QStringList messages; // texts of the message dialogs, in order
    QStringList errors;   // texts of the error boxes, in order

private:
    QTemporaryDir folder;
    std::string linkPath;
    Reach reach;
    int networkPort = 0;
    bool hadConfigHome = false;
    QByteArray configHome; // XDG_CONFIG_HOME before the rig set its own
    std::unique_ptr<nmct::modsim::ModuleSimulator> simulator;
    std::unique_ptr<Ser2net> server;
    std::unique_ptr<TfrmMain> frmMain;
};
