// Replies of the charge plate monitor: display lines, decay frames, result
// records, the identification and setup reply and the stored-file read-out.
// The first byte picks the reply kind; the rest is what the monitor sends
// (through a port that replays it) or, for the pure decoders, the text
// itself. A reply that stops short ends in the port's EComError, which is
// the one way out besides a normal return.
#include "core/MainState.h"
#include "cpm/C_CPM_EF.h"
#include "fuzz/FuzzPort.h"
#include "fuzz/FuzzSupport.h"

#include <array>
#include <cmath>
#include <string>

namespace {

void CheckRecord(const C_CPM_EF& c)
{
    FuzzCheck(std::isfinite(c.PosDecayTime) && std::isfinite(c.NegDecayTime) && std::isfinite(c.OffsetVoltage),
              "a record decodes to finite numbers");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static TMainState state;
    state = TMainState();
    MainState = &state;
    const uint8_t kind = data[0];
    ++data, --size;
    const std::string text(reinterpret_cast<const char*>(data), size);

    try {
        switch (kind % 6) {
        case 0: { // a display text as the read returns it
            double value = 0;
            QString unit;
            C_CPM_EF::EvaluateDisplay(text, value, unit);
            FuzzCheck(!std::isnan(value), "a display gives a number or 9999");
            break;
        }
        case 1: { // a result record
            FuzzLine line(nullptr, 0, false);
            C_CPM_EF c(line.port);
            c.ParseRecord(text);
            CheckRecord(c);
            const std::string bits = C_CPM_EF::StatusBits(text.substr(0, 2));
            FuzzCheck(bits.size() == 8, "status bits are eight digits");
            break;
        }
        case 2: { // "r2" display read over the line
            state.DeviceCode = 101 + (kind / 6) % 3;
            FuzzLine line(data, size, kind & 0x80);
            C_CPM_EF c(line.port);
            double value = 0;
            QString unit;
            c.ReadDisplay(value, unit);
            FuzzCheck(!std::isnan(value), "a display read gives a number or 9999");
            break;
        }
        case 3: { // "w2" and the decay frames up to the result
            FuzzLine line(data, size, kind & 0x80);
            C_CPM_EF c(line.port);
            int32_t start = 0, stop = 0, offset = 0;
            double pos = 0, neg = 0, off = 0;
            bool aborted = false;
            c.MeasureDecay(start, stop, offset, pos, neg, off, aborted);
            CheckRecord(c);
            break;
        }
        case 4: { // identification and setup replies
            state.DeviceCode = 103;
            FuzzLine line(data, size, kind & 0x80);
            C_CPM_EF c(line.port);
            c.UpdateIdentification();
            c.ReadSetup();
            c.FillReadingSetup(101 + (kind / 6) % 3, 60 + (kind / 18) % 8);
            c.WriteSetup();
            break;
        }
        case 5: { // "r3" stored files
            if (size < 2)
                return 0;
            FuzzLine line(data + 2, size - 2, kind & 0x80);
            C_CPM_EF c(line.port);
            std::array<std::string, 100> records;
            int count = 0;
            const int first = 1 + data[0] % 99, last = first + data[1] % 8;
            const int status = c.ReadStoredFiles(first, last, records, count);
            FuzzCheck(count >= first - 1 && count <= last, "record count within the asked numbers");
            FuzzCheck(status == 0 || status == -1 || status == -2 || status == -3 || status == -10, "a listed status");
            for (int i = 0; i < 100; ++i)
                if (!records[size_t(i)].empty())
                    c.ParseRecord(records[size_t(i)]);
            break;
        }
        }
    } catch (const EComError&) {
        // The port's own failure (time-out, reply too long): what the window shows.
    } catch (const EComAbort&) {
    } catch (const std::runtime_error& e) {
        // A display number that does not convert (two minus signs) ends the
        // reading with its message; any other exception is a fault.
        FuzzCheck(std::string(e.what()).find("is not a valid floating point value") != std::string::npos,
                  "only the conversion error escapes besides the port's");
    }
    MainState = nullptr;
    return 0;
}
