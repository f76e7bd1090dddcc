#pragma once
// The tool and a simulated module wired together for end-to-end tests: the window's port
// "COM5" is the simulator's pseudo-terminal, message dialogs are answered with OK and recorded,
// and error boxes are recorded instead of shown.

#include "app/UMainForm.h"
#include "tools/modsim/ModuleSimulator.h"

#include <QStringList>

#include <memory>

class ToolUnderTest
{
public:
    static constexpr int SimulatedPortIndex = 4; // "COM5"

    explicit ToolUnderTest(nmct::modsim::Options options = {.pacing = false});
    ~ToolUnderTest();

    TfrmMain &window() { return *frmMain; }
    nmct::modsim::ModuleSimulator &module() { return *simulator; }
    std::vector<std::string> Wire() const { return simulator->ReceivedCommands(); }

    // Chooses COM5 and clicks OPEN (or CLOSE): returns once the click's handler has ended.
    void ClickOpen();
    void Click(QWidget *button);
    // Closes the window as the user would, which frees the link.
    void CloseWindow();

    QStringList messages; // texts of the message dialogs, in order
    QStringList errors;   // texts of the error boxes, in order

private:
    std::unique_ptr<nmct::modsim::ModuleSimulator> simulator;
    std::unique_ptr<TfrmMain> frmMain;
};
