#pragma once
#include "acquisition/UsbApi.h"
#include "sim/SimConverter.h"

// The simulated converter of --demo as the converter code's function table.
inline const TUsbApi& SimulatedUsbApi()
{
    static const TUsbApi table = {SimConverter::usb_init, SimConverter::usb_find_busses,
                                  SimConverter::usb_find_devices, SimConverter::usb_get_busses,
                                  SimConverter::usb_open, SimConverter::usb_close,
                                  SimConverter::usb_set_configuration, SimConverter::usb_claim_interface,
                                  SimConverter::usb_control_msg};
    return table;
}
