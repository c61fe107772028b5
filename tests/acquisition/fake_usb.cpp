#include "tests/acquisition/fake_usb.h"

#include "acquisition/CAD_wandler.h"

#include <cstdio>
#include <cstring>
#include <map>

struct FakeUsb::Bus {
    usb_bus bus{};
    std::vector<struct usb_device*> devices;
};

namespace {
FakeUsb* g_current = nullptr;
std::map<const usb_dev_handle*, int> g_handleDevice; // handle -> bus*100 + index
} // namespace

struct FakeUsbCalls {
    static FakeUsb& F() { return *g_current; }

    static void init() { ++F().searches; }
    static int find_busses() { return static_cast<int>(F().buses_.size()); }
    static int find_devices() { return 0; }
    static usb_bus* get_busses() { return F().buses_.empty() ? nullptr : &F().buses_[0]->bus; }

    static usb_dev_handle* open(struct usb_device* dev)
    {
        FakeUsb& f = F();
        if (f.failOpen)
            return nullptr;
        for (size_t b = 0; b < f.buses_.size(); ++b)
            for (size_t i = 0; i < f.buses_[b]->devices.size(); ++i)
                if (f.buses_[b]->devices[i] == dev) {
                    ++f.opens;
                    ++f.openHandles;
                    f.opened.emplace_back(int(b), int(i));
                    f.handles_.push_back(int(b * 100 + i));
                    auto* h = reinterpret_cast<usb_dev_handle*>(&f.handles_.back());
                    g_handleDevice[h] = int(b * 100 + i);
                    return h;
                }
        return nullptr;
    }
    static int close(usb_dev_handle* h)
    {
        FakeUsb& f = F();
        if (!g_handleDevice.erase(h))
            return -1;
        ++f.closes;
        --f.openHandles;
        return 0;
    }
    static int set_configuration(usb_dev_handle* h, int c)
    {
        return (!F().failConfig && g_handleDevice.count(h) && c == 1) ? 0 : -1;
    }
    static int claim_interface(usb_dev_handle* h, int i)
    {
        return (!F().failClaim && g_handleDevice.count(h) && i == 0) ? 0 : -1;
    }
    static int control_msg(usb_dev_handle* h, int type, int request, int value, int index,
                           char* bytes, int size, int timeout)
    {
        FakeUsb& f = F();
        if (!g_handleDevice.count(h))
            return -19;
        f.requests.push_back({type, request, value, index, size, timeout});
        f.transferDevices.push_back(g_handleDevice[h]);
        FakeUsb::Reply r{8, 0, 0};
        if (!f.replies_.empty()) {
            r = f.replies_.front();
            f.replies_.pop_front();
        }
        if (r.rc < 0)
            return r.rc;
        // Bytes 2 and on carry nothing the program may use: make them noise.
        for (int i = 2; i < r.rc && i < size; ++i)
            bytes[i] = char(0xA5);
        if (r.rc > 0)
            bytes[0] = char(r.lo);
        if (r.rc > 1)
            bytes[1] = char(r.hi);
        return r.rc;
    }
};

namespace {
const TUsbApi g_fakeApi = {FakeUsbCalls::init,        FakeUsbCalls::find_busses,
                           FakeUsbCalls::find_devices, FakeUsbCalls::get_busses,
                           FakeUsbCalls::open,        FakeUsbCalls::close,
                           FakeUsbCalls::set_configuration, FakeUsbCalls::claim_interface,
                           FakeUsbCalls::control_msg};
}

FakeUsb::FakeUsb()
{
    g_current = this;
    g_handleDevice.clear();
    previous_ = SetUsbApi(&g_fakeApi);
}

FakeUsb::~FakeUsb()
{
    CloseConverterHandle();
    SetUsbApi(previous_);
    Clear();
    g_current = nullptr;
}

FakeUsb* FakeUsb::Current() { return g_current; }

void FakeUsb::Clear()
{
    for (Bus* b : buses_) {
        for (auto* d : b->devices)
            delete d;
        delete b;
    }
    buses_.clear();
}

void FakeUsb::SetBuses(const std::vector<std::vector<std::pair<uint16_t, uint16_t>>>& layout)
{
    Clear();
    for (const auto& ids : layout) {
        Bus* b = new Bus;
        std::snprintf(b->bus.dirname, sizeof b->bus.dirname, "%03zu", buses_.size() + 1);
        struct usb_device* prev = nullptr;
        for (const auto& [vid, pid] : ids) {
            auto* d = new struct usb_device;
            std::memset(d, 0, sizeof *d);
            d->descriptor.idVendor = vid;
            d->descriptor.idProduct = pid;
            d->bus = &b->bus;
            d->prev = prev;
            if (prev)
                prev->next = d;
            else
                b->bus.devices = d;
            prev = d;
            b->devices.push_back(d);
        }
        if (!buses_.empty()) {
            buses_.back()->bus.next = &b->bus;
            b->bus.prev = &buses_.back()->bus;
        }
        buses_.push_back(b);
    }
}

void FakeUsb::OneConverter() { SetBuses({{{0x16C0, 0x2B5C}}}); }

void FakeUsb::QueueBytes(uint8_t lo, uint8_t hi, int length) { replies_.push_back({length, lo, hi}); }

void FakeUsb::QueueCounts(int counts)
{
    const int word = counts < 0 ? 1024 - counts : counts;
    QueueBytes(uint8_t(word & 0xFF), uint8_t(word >> 8));
}

void FakeUsb::QueueFailure(int rc) { replies_.push_back({rc, 0, 0}); }
