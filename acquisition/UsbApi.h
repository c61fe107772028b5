#pragma once
#include <usb.h>

// The libusb 0.1 calls the converter code makes, as a table. The program
// normally runs on the real library; --demo runs on the simulated converter
// and the tests on a scripted bus, so the converter code itself is always
// the code that runs.
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

// The real libusb.
const TUsbApi& RealUsbApi();
// The simulated converter of --demo (sim/SimConverter).
const TUsbApi& SimUsbApi();

// The table in force: one set with SetUsbApi, else the simulated converter in
// demo mode, else the real library.
const TUsbApi& UsbApi();
// Installs a table (nullptr: back to the choice by demo mode); returns the old one.
const TUsbApi* SetUsbApi(const TUsbApi* api);
