// Replies of the tera-ohmmeter: the acknowledgement and the reply frame of
// a measurement, the information block, a stored measurement and the
// parameter block, plus the decoders of their numbers. The first byte picks
// the exchange; the rest is what the instrument sends (FuzzPort.h) or, for
// the decoders, the values themselves.
#include "fuzz/FuzzPort.h"
#include "fuzz/FuzzSupport.h"
#include "ohmra/C_Ohmra.h"

#include <string>

namespace {

int32_t Byte(const uint8_t* data, size_t size, size_t i) { return i < size ? data[i] : 0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t kind = data[0];
    ++data, --size;
    const bool retry = kind & 0x80;

    try {
        switch (kind % 6) {
        case 0: { // measurement, with or without the timer
            FuzzLine line(data, size, retry);
            C_Ohmra o(line.port);
            const int mode = (kind >> 3) & 0x1F;
            std::string cmd = "C0" + C_Ohmra::WordToHexLE(mode).substr(0, 2);
            if (mode & kOhmraModeTimerOn)
                cmd += "0A";
            if (o.Measure(cmd) == 0) {
                FuzzCheck(o.Mantissa >= 0 && o.Mantissa <= 65535, "mantissa is a word");
                FuzzCheck(o.Range >= 0 && o.Range <= 7 && o.Exponent >= 0 && o.Exponent <= 31,
                          "range and exponent from one byte");
                QString unit;
                C_Ohmra::FormatResistance(o.Mantissa, o.Exponent, unit);
                C_Ohmra::ExpoText(o.Mantissa, o.Exponent, 5);
                FuzzCheck(C_Ohmra::StatusBitText(o.Status).size() == 8, "eight status digits");
            }
            break;
        }
        case 1: { // information block
            FuzzLine line(data, size, retry);
            C_Ohmra o(line.port);
            QString date, version, serial;
            o.ReadInfo(date, version, serial);
            break;
        }
        case 2: { // a stored measurement
            FuzzLine line(data, size, retry);
            C_Ohmra o(line.port);
            std::string record;
            if (o.ReadStoredFile(1 + (kind >> 3) % 99, record) == 0)
                FuzzCheck(record.size() % 2 == 0, "reply data is whole hex pairs");
            break;
        }
        case 3: { // parameter block, then written back
            FuzzLine line(data, size, retry);
            C_Ohmra o(line.port);
            Ohmra_Para_Struct para;
            if (o.ReadParameters(para) == 0)
                o.WriteParameters(para);
            o.WriteCalibrationDate(Byte(data, size, 0) * 256 + Byte(data, size, 1), Byte(data, size, 2),
                                   Byte(data, size, 3), 8, 12, 9);
            o.Reset();
            break;
        }
        case 4: { // the decoders on their own
            const int64_t mantissa = Byte(data, size, 0) | Byte(data, size, 1) << 8 | Byte(data, size, 2) << 16;
            const int64_t exponent = int8_t(Byte(data, size, 3));
            QString unit;
            C_Ohmra::FormatResistance(mantissa, exponent, unit);
            C_Ohmra::ExpoText(mantissa, exponent, Byte(data, size, 4) % 12);
            int32_t range = 0, exp = 0;
            C_Ohmra::SplitRangeExponent(std::string(reinterpret_cast<const char*>(data), size).substr(0, 2), range, exp);
            FuzzCheck(range >= 0 && range <= 7 && exp >= 0 && exp <= 31, "range and exponent from one byte");
            break;
        }
        case 5: { // the checksum over any text
            FuzzLine quiet(nullptr, 0, false); // its complaints go to the recording prompt
            int32_t mean = 0;
            if (C_Ohmra::MeanChecksum(std::string(reinterpret_cast<const char*>(data), size), mean))
                FuzzCheck(mean >= 0 && mean <= 255, "mean of bytes is a byte");
            break;
        }
        }
    } catch (const EComError&) {
        // The port's failure (time-out, malformed frame): what the window shows.
    } catch (const EComAbort&) {
    }
    return 0;
}
