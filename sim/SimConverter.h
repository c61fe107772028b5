#pragma once
#include <usb.h>

// A simulated "ELV USB-AD-Wandler" for --demo, built from the wire description
// alone: one bus with a hub and the converter (vendor 0x16C0, product 0x2B5C);
// the vendor request 5 (type 0xC0) answers 8 bytes whose first two carry a
// count with the sign in bit 10 and the magnitude in bits 0 to 9, 2.148 mV a
// count. The functions stand in for the libusb 0.1 calls of the same names.
//
// The signal is a believable field-meter output in volts (1 V = full scale):
// a slow drift, a faster swing, a little noise, and every 25 s a short
// excursion past full scale, alternately positive and negative, so that the
// overflow display can be seen.
namespace SimConverter {

void usb_init();
int usb_find_busses();
int usb_find_devices();
usb_bus* usb_get_busses();
usb_dev_handle* usb_open(struct usb_device* dev);
int usb_close(usb_dev_handle* h);
int usb_set_configuration(usb_dev_handle* h, int configuration);
int usb_claim_interface(usb_dev_handle* h, int interface);
int usb_control_msg(usb_dev_handle* h, int requesttype, int request, int value, int index,
                    char* bytes, int size, int timeout);

// The converter's input in volts at `seconds` after the first conversion
// (noise not included).
double VoltsAt(double seconds);

// Unplugs (false) or plugs in (true) the simulated converter. Plugged in at
// start unless the environment variable ULMARO_SIM_NO_ADC is set.
void SetPresent(bool present);
bool Present();

// Handles open now (a correct client keeps at most one).
int OpenHandles();

} // namespace SimConverter
