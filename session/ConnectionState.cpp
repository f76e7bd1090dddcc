#include "session/ConnectionState.h"

void ConnectionState::OpenSucceeded()
{
    portOpened = true;
}

void ConnectionState::OpenFailed()
{
    deviceFound = false;
}

void ConnectionState::OpenIdentified(bool answered)
{
    deviceFound = answered;
    // A window closed meanwhile starts nothing more.
    if (answered && !closing)
        watching = true;
}

ConnectionState::Close ConnectionState::CloseClicked(bool exchangeRunning)
{
    if (exchangeRunning) {
        closePending = true;
        return Close::Later;
    }
    if (!deviceFound)
        return Close::Now;
    watching = false;
    return Close::NowAndLose;
}

void ConnectionState::PortClosed()
{
    portOpened = false;
}

bool ConnectionState::TakePendingClose()
{
    if (!closePending)
        return false;
    closePending = false;
    return portOpened;
}

bool ConnectionState::TickIdentifies(bool portIsOpen, bool exchangeRunning)
{
    return portIsOpen && !exchangeRunning;
}

bool ConnectionState::Identified(bool answered)
{
    const bool foundBefore = deviceFound;
    deviceFound = answered;
    // The watch goes on ticking; its ticks do nothing while the port is closed.
    return foundBefore && !answered && portOpened;
}

ConnectionState::AfterOperation ConnectionState::OperationEnds()
{
    if (--operationsRunning > 0)
        return AfterOperation::Nothing;
    if (closing)
        return AfterOperation::Quit;
    if (closePending)
        return AfterOperation::CarryOutClose;
    return AfterOperation::Nothing;
}

bool ConnectionState::WindowClosed()
{
    if (operationsRunning == 0)
        return false;
    closing = true;
    watching = false;
    return true;
}
