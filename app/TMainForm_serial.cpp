// The serial instrument entries' use of the one port.
#include "app/TMainForm.h"

void TMainForm::ReopenPortForInstrument(bool /*closeFirst*/, bool /*longReadTimeout*/)
{
    // Wired to ComPort1 when the serial link lands.
}
