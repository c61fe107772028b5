#include "acquisition/CAD_wandler.h"

#include "acquisition/UsbApi.h"
#include "core/MainState.h"
#include "platform/Host.h"

#include <cstring>

namespace {
// The handle of the converter found by the last search; shared by all objects.
usb_dev_handle* g_handle = nullptr;

constexpr int RequestTypeVendorIn = 0xC0; // device to host, vendor, device recipient
constexpr int RequestConversion = 5;
constexpr int ReplySize = 8;
constexpr int TransferTimeoutMs = 1000;
constexpr unsigned PairWaitMs = 20;
constexpr int MaxPairAttempts = 3;
} // namespace

CAD_wandler::~CAD_wandler() = default;

void CloseConverterHandle()
{
    if (g_handle) {
        UsbApi().close(g_handle);
        g_handle = nullptr;
    }
}

int CAD_wandler::OpenDevice()
{
    const TUsbApi& api = UsbApi();
    CloseConverterHandle();

    api.init();
    api.find_busses();
    api.find_devices();

    for (usb_bus* bus = api.get_busses(); bus; bus = bus->next) {
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next) {
            if (dev->descriptor.idVendor != VendorId || dev->descriptor.idProduct != ProductId)
                continue;
            g_handle = api.open(dev);
            if (!g_handle)
                return 0;
            if (api.set_configuration(g_handle, 1) < 0)
                return 0;
            if (api.claim_interface(g_handle, 0) < 0)
                return 0;
            return 1;
        }
    }
    return 0;
}

double CAD_wandler::Decode(unsigned char lo, unsigned char hi)
{
    int raw = lo + 256 * hi;
    if (raw >= 1024)
        raw = 1024 - raw;
    return raw * MillivoltsPerCount;
}

int CAD_wandler::ReadRaw(double& millivolts)
{
    const int opened = OpenDevice();
    if (opened != 1)
        return opened;

    // Zeroed so that a short reply decodes from defined bytes.
    char reply[ReplySize];
    std::memset(reply, 0, sizeof reply);
    int n = UsbApi().control_msg(g_handle, RequestTypeVendorIn, RequestConversion, 0, 0, reply,
                                 ReplySize, TransferTimeoutMs);
    if (n < 0)
        return -2;
    millivolts = Decode(static_cast<unsigned char>(reply[0]), static_cast<unsigned char>(reply[1]));
    return n;
}

int CAD_wandler::ReadAveraged(double& millivolts)
{
    const TMainState* st = MainState;
    return ReadAveraged(millivolts, st ? st->Delta_U : 200, st ? st->Average_U : 1);
}

// A pair in which either conversion failed (converter gone, transfer error)
// has no reading worth averaging: it is left out, and the result is the mean
// of the pairs that did succeed. When no pair succeeded the reading is 0 mV,
// so a lost converter shows as zero rather than as a stale or half value.
int CAD_wandler::ReadAveraged(double& millivolts, int deltaU, int averageU)
{
    if (averageU < 1)
        averageU = 1;

    double sum = 0;
    int goodPairs = 0;
    int result = 0;
    for (int pair = 0; pair < averageU; ++pair) {
        double a = 0, b = 0;
        bool failed = false;
        for (int attempt = 1;; ++attempt) {
            Host().PauseAnswering(PairWaitMs);
            result = ReadRaw(a);
            if (result < 1) {
                failed = true;
                break;
            }
            Host().PauseAnswering(PairWaitMs);
            result = ReadRaw(b);
            if (result < 1) {
                failed = true;
                break;
            }
            const long d = static_cast<long>(a - b); // truncated toward zero
            if ((d > deltaU || -d > deltaU) && attempt < MaxPairAttempts)
                continue;
            break;
        }
        if (!failed) {
            sum += (a + b) * 0.5;
            ++goodPairs;
        }
    }
    millivolts = goodPairs > 0 ? sum / goodPairs : 0.0;
    return result;
}
