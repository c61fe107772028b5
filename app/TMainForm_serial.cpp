// The serial instrument entries' use of the one port.
#include "app/TMainForm.h"
#include "serial/TFoCom.h"

void TMainForm::ReopenPortForInstrument(bool closeFirst, bool longReadTimeout)
{
    TComPort* port = FoCom->ComPort1;
    if (closeFirst)
        port->Close();
    port->Open();
    // The tera-ohmmeter and the tester answer slowly; the value stays on the
    // port for whoever uses it next.
    if (longReadTimeout)
        port->Timeouts->ReadConstant(5000);
}
