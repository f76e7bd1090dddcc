// The operations that talk to the module over the serial link.

#include "UMainForm.h"

void TfrmMain::btnOpenClick()
{
    // filled in with the serial link
}

void TfrmMain::btnReadClick()
{
    // filled in with the serial link
}

void TfrmMain::btnSetClick()
{
    // filled in with the serial link
}

void TfrmMain::btnDefaultClick()
{
    // filled in with the serial link
}

void TfrmMain::VolSetClick()
{
    // filled in with the serial link
}

void TfrmMain::Timer1Timer()
{
    // filled in with the serial link
}
