#include "sim/SimConverter.h"

#include "platform/Host.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

namespace SimConverter {
namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double MvPerCount = 2.148;

struct Bus {
    usb_bus bus{};
    struct usb_device hub{};
    struct usb_device adc{};
    bool built = false;
};

Bus g_bus;
int g_present = -1; // -1: not decided yet (environment)
int g_open = 0;
int g_handleToken = 0;
bool g_started = false;
uint32_t g_t0 = 0;
std::mt19937 g_rng(20261209u);

bool IsPresent()
{
    if (g_present < 0)
        g_present = std::getenv("ULMARO_SIM_NO_ADC") ? 0 : 1;
    return g_present == 1;
}

void Build()
{
    Bus& b = g_bus;
    std::memset(&b.bus, 0, sizeof b.bus);
    std::memset(&b.hub, 0, sizeof b.hub);
    std::memset(&b.adc, 0, sizeof b.adc);
    std::strcpy(b.bus.dirname, "001");
    std::strcpy(b.hub.filename, "001");
    b.hub.descriptor.idVendor = 0x1D6B;
    b.hub.descriptor.idProduct = 0x0002;
    b.hub.bus = &b.bus;
    std::strcpy(b.adc.filename, "004");
    b.adc.descriptor.idVendor = 0x16C0;
    b.adc.descriptor.idProduct = 0x2B5C;
    b.adc.bus = &b.bus;
    b.bus.devices = &b.hub;
    if (IsPresent()) {
        b.hub.next = &b.adc;
        b.adc.prev = &b.hub;
    }
    b.built = true;
}

usb_dev_handle* Token() { return reinterpret_cast<usb_dev_handle*>(&g_handleToken); }

} // namespace

void SetPresent(bool present)
{
    g_present = present ? 1 : 0;
    g_bus.built = false;
}

bool Present() { return IsPresent(); }
int OpenHandles() { return g_open; }

double VoltsAt(double t)
{
    double v = 0.35 * std::sin(2 * Pi * t / 45.0) + 0.12 * std::sin(2 * Pi * t / 9.5 + 1.0);
    // Excursion: 1.5 s of a half-wave reaching about 1.3 V, late in every 25 s window.
    const double window = 25.0;
    const long n = static_cast<long>(std::floor(t / window));
    const double phase = t - n * window - 18.0;
    if (phase >= 0 && phase < 1.5) {
        const double bump = 1.25 * std::sin(Pi * phase / 1.5);
        v += (n % 2 == 0) ? bump : -bump;
    }
    return v;
}

void usb_init() {}

int usb_find_busses()
{
    Build();
    return 1;
}

int usb_find_devices()
{
    if (!g_bus.built)
        Build();
    return IsPresent() ? 1 : 0;
}

usb_bus* usb_get_busses()
{
    if (!g_bus.built)
        Build();
    return &g_bus.bus;
}

usb_dev_handle* usb_open(struct usb_device* dev)
{
    if (dev != &g_bus.adc || !IsPresent())
        return nullptr;
    ++g_open;
    return Token();
}

int usb_close(usb_dev_handle* h)
{
    if (h != Token() || g_open == 0)
        return -1;
    --g_open;
    return 0;
}

int usb_set_configuration(usb_dev_handle* h, int configuration)
{
    return (h == Token() && configuration == 1) ? 0 : -1;
}

int usb_claim_interface(usb_dev_handle* h, int interface)
{
    return (h == Token() && interface == 0) ? 0 : -1;
}

int usb_control_msg(usb_dev_handle* h, int requesttype, int request, int, int, char* bytes,
                    int size, int)
{
    if (h != Token() || !IsPresent() || g_open == 0)
        return -19; // no such device
    if (requesttype != 0xC0 || request != 5 || size < 2)
        return -32; // stall: the converter knows only this request
    const uint32_t now = Host().TickCount();
    if (!g_started) {
        g_started = true;
        g_t0 = now;
    }
    const double t = static_cast<uint32_t>(now - g_t0) * 0.001;
    std::normal_distribution<double> noise(0.0, 0.006);
    const double volts = VoltsAt(t) + noise(g_rng);
    long counts = std::lround(volts * 1000.0 / MvPerCount);
    if (counts > 1023)
        counts = 1023;
    if (counts < -1023)
        counts = -1023;
    const long word = counts < 0 ? 1024 - counts : counts;
    const int n = size < 8 ? size : 8;
    std::memset(bytes, 0, n);
    bytes[0] = static_cast<char>(word & 0xFF);
    bytes[1] = static_cast<char>((word >> 8) & 0xFF);
    return n;
}

} // namespace SimConverter
