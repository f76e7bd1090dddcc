#pragma once
// ConnectionState: where the connection to a module stands, apart from any window.
//
// OPEN opens the port and identifies the module; a module that answers is then watched (the
// window identifies it every two seconds) until CLOSE, or until the watch finds it gone, which
// closes the port. CLOSE on a module that was found stops the watch and identifies once more
// over the closed port, which ends in "not found".
//
// Every exchange lets events in while it waits for its reply, so a CLOSE, a watch tick or the
// window's close can arrive in the middle of an operation. A CLOSE then waits for the operation
// to end, and a window close ends the program once the operation has unwound: carried out at
// once, the operation's outcome would show over an idle (or gone) window.
//
// A front end forwards each event here, carries out what the answer says and shows the state;
// nothing here talks to the module or to a widget.

class ConnectionState
{
public:
    bool PortOpened() const { return portOpened; }   // opened with OPEN and not closed since
    bool DeviceFound() const { return deviceFound; } // the last identify got a reply
    bool Watching() const { return watching; }       // the presence watch runs
    bool ClosePending() const { return closePending; }
    bool Closing() const { return closing; } // the window was closed during an operation
    bool OperationRunning() const { return operationsRunning > 0; }

    // ---- OPEN -----------------------------------------------------------------------------
    void OpenSucceeded();
    void OpenFailed();
    // The identify that follows OPEN: a module that answers is watched from now on (before
    // OPEN's READ, so a READ that fails leaves it watched all the same).
    void OpenIdentified(bool answered);

    // ---- CLOSE ----------------------------------------------------------------------------
    enum class Close
    {
        Later,      // an exchange runs: carried out when the operation ends
        Now,        // close the port
        NowAndLose, // close the port, stop the watch, identify once more and show the defaults
    };
    Close CloseClicked(bool exchangeRunning);
    // The port was closed, by CLOSE or because the watch found the module gone.
    void PortClosed();
    // A CLOSE clicked during an operation, from the event loop once it ended: true if the port
    // is still to be closed (the watch may have closed it meanwhile).
    bool TakePendingClose();

    // ---- The presence watch ----------------------------------------------------------------
    // A tick identifies only over an open port with no exchange running.
    static bool TickIdentifies(bool portIsOpen, bool exchangeRunning);
    // Any identify but OPEN's. True when a module that was found is gone: the port must close.
    bool Identified(bool answered);

    // ---- Operations and the window's end ---------------------------------------------------
    enum class AfterOperation
    {
        Nothing,
        CarryOutClose, // a CLOSE came meanwhile
        Quit,          // the window was closed meanwhile
    };
    void OperationBegins() { ++operationsRunning; }
    AfterOperation OperationEnds();
    // The window is being closed. True if an operation runs: the watch stops, the operation
    // shows nothing more, and the program ends when it has unwound.
    bool WindowClosed();

private:
    bool portOpened = false;
    bool deviceFound = false;
    bool watching = false;
    bool closePending = false;
    bool closing = false;
    int operationsRunning = 0;
};
