// Libraries opened on first use: what is found, what is not, and that the
// converter's and the port list's libraries stay out of a process until
// the program first asks for them.
#include "acquisition/UsbApi.h"
#include "platform/LazyLibrary.h"
#include "serial/ComPort.h"

#include <gtest/gtest.h>
#include <dlfcn.h>
#include <unistd.h>

namespace {

bool Loaded(const char* soname)
{
    void* h = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
    if (h)
        dlclose(h);  // drops only the reference NOLOAD took
    return h != nullptr;
}

TEST(LazyLibrary, FindsWhatIsThereAndGivesNullForWhatIsNot)
{
    struct TCase {
        const char* soname;
        const char* function;
        bool library, found;
    } const cases[] = {
        {"libc.so.6", "getpid", true, true},
        {"libc.so.6", "ulmaro_no_such_function", true, false},
        {"libulmaro-no-such-library.so.0", "getpid", false, false},
        {"", "getpid", false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.soname) + " " + c.function);
        TLazyLibrary lib(c.soname);
        EXPECT_EQ(lib.Available(), c.library);
        auto* fn = lib.Function<decltype(::getpid)>(c.function);
        EXPECT_EQ(fn != nullptr, c.found);
        if (fn) {
            EXPECT_EQ(fn(), getpid());
        }
        // Asked again, the same answer (the library is opened once).
        EXPECT_EQ(lib.Function<decltype(::getpid)>(c.function), fn);
    }
}

TEST(LazyLibrary, ConverterAndPortListLibrariesLoadOnFirstUseOnly)
{
    // Neither is linked: nothing in this process has opened them yet.
    ASSERT_FALSE(Loaded("libusb-0.1.so.4"));
    ASSERT_FALSE(Loaded("libserialport.so.0"));

    // The real bus: looked through as the converter code does. A machine
    // without USB access has no busses (the counts are then error codes);
    // either way the walk ends.
    const TUsbApi& usb = RealUsbApi();
    usb.init();
    usb.find_busses();
    usb.find_devices();
    for (usb_bus* bus = usb.get_busses(); bus; bus = bus->next)
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next)
            EXPECT_NE(dev->filename[0], '\0');
    EXPECT_TRUE(Loaded("libusb-0.1.so.4"));

    QStringList ports{"first"};
    TCustomComPort::EnumComDevicesFromRegistry(ports);
    EXPECT_EQ(ports.front(), "first");
    EXPECT_TRUE(Loaded("libserialport.so.0"));
}

} // namespace
