#include "acquisition/UsbApi.h"

namespace {

void RealInit() { usb_init(); }
int RealFindBusses() { return usb_find_busses(); }
int RealFindDevices() { return usb_find_devices(); }
usb_bus* RealGetBusses() { return usb_get_busses(); }
usb_dev_handle* RealOpen(struct usb_device* d) { return usb_open(d); }
int RealClose(usb_dev_handle* h) { return usb_close(h); }
int RealSetConfiguration(usb_dev_handle* h, int c) { return usb_set_configuration(h, c); }
int RealClaimInterface(usb_dev_handle* h, int i) { return usb_claim_interface(h, i); }
int RealControlMsg(usb_dev_handle* h, int rt, int rq, int v, int i, char* b, int s, int t)
{
    return usb_control_msg(h, rt, rq, v, i, b, s, t);
}

const TUsbApi g_real = {RealInit, RealFindBusses, RealFindDevices, RealGetBusses, RealOpen,
                        RealClose, RealSetConfiguration, RealClaimInterface, RealControlMsg};

const TUsbApi* g_override = nullptr;

} // namespace

const TUsbApi& RealUsbApi() { return g_real; }

const TUsbApi& UsbApi()
{
    if (g_override)
        return *g_override;
    return g_real;
}

const TUsbApi* SetUsbApi(const TUsbApi* api)
{
    const TUsbApi* old = g_override;
    g_override = api;
    return old;
}
