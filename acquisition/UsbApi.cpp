#include "acquisition/UsbApi.h"

#include "platform/LazyLibrary.h"

namespace {

// Opened when the converter is first looked for, not at start-up; without
// the library the bus simply has no converter on it.
TLazyLibrary g_libusb("libusb-0.1.so.4");

// The library's function `name`, looked up once; null when unavailable.
#define ULMARO_USB_FUNCTION(name)                                                                  \
    static auto* const fn = g_libusb.Function<decltype(::name)>(#name)

void RealInit()
{
    ULMARO_USB_FUNCTION(usb_init);
    if (fn)
        fn();
}
int RealFindBusses()
{
    ULMARO_USB_FUNCTION(usb_find_busses);
    return fn ? fn() : 0;
}
int RealFindDevices()
{
    ULMARO_USB_FUNCTION(usb_find_devices);
    return fn ? fn() : 0;
}
usb_bus* RealGetBusses()
{
    ULMARO_USB_FUNCTION(usb_get_busses);
    return fn ? fn() : nullptr;
}
usb_dev_handle* RealOpen(struct usb_device* d)
{
    ULMARO_USB_FUNCTION(usb_open);
    return fn ? fn(d) : nullptr;
}
int RealClose(usb_dev_handle* h)
{
    ULMARO_USB_FUNCTION(usb_close);
    return fn ? fn(h) : -1;
}
int RealSetConfiguration(usb_dev_handle* h, int c)
{
    ULMARO_USB_FUNCTION(usb_set_configuration);
    return fn ? fn(h, c) : -1;
}
int RealClaimInterface(usb_dev_handle* h, int i)
{
    ULMARO_USB_FUNCTION(usb_claim_interface);
    return fn ? fn(h, i) : -1;
}
int RealControlMsg(usb_dev_handle* h, int rt, int rq, int v, int i, char* b, int s, int t)
{
    ULMARO_USB_FUNCTION(usb_control_msg);
    return fn ? fn(h, rt, rq, v, i, b, s, t) : -1;
}

#undef ULMARO_USB_FUNCTION

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
