#pragma once
#include <usb.h>

// The libusb 0.1 calls the converter code makes, as a table. The program
// runs on the real library unless its composition root hands in another
// table (the simulated converter of --demo); tests hand in a scripted bus.
// Either way the converter code itself is always the code that runs.
struct TUsbApi {
    void (*init)();
    int (*find_busses)();
    int (*find_devices)();
    usb_bus* (*get_busses)();
    usb_dev_handle* (*open)(struct usb_device* dev);
    int (*close)(usb_dev_handle* h);
    int (*set_configuration)(usb_dev_handle* h, int configuration);
    int (*claim_interface)(usb_dev_handle* h, int interface);
    int (*control_msg)(usb_dev_handle* h, int requesttype, int request, int value, int index,
                       char* bytes, int size, int timeout);
};

// The real libusb, opened on first use (no library: a bus without devices).
const TUsbApi& RealUsbApi();

// The table in force: the one set with SetUsbApi, else the real library.
const TUsbApi& UsbApi();
// Installs a table (nullptr: back to the real library); returns the old one.
// The table must outlive its use.
const TUsbApi* SetUsbApi(const TUsbApi* api);
