// SETUP_ULMARO.INI as the main window reads it at start: any bytes in the
// file must give a state (defaults where a value does not parse), never a
// crash. Also the number parsers on their own, with their round trip.
#include "core/MainState.h"
#include "fuzz/FuzzSupport.h"
#include "platform/IniFile.h"

#include <cmath>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = FuzzScratchDir() + "/SETUP_ULMARO.INI";
    FuzzWriteFile(path, data, size);

    TMainState st;
    ReadProgramSettings(st, TIniFile(path));
    FuzzCheck(st.TimeSpan == st.Sampling_time_Display * 60.0 * 0.001, "time span follows the display period");

    // The same bytes as one value text.
    const std::string text(reinterpret_cast<const char*>(data), size);
    int i = 0;
    if (ParseIniInteger(text, i)) {
        int back = 0;
        FuzzCheck(ParseIniInteger(std::to_string(i), back) && back == i, "integer round trip");
    }
    for (char sep : {'.', ','}) {
        double d = 0;
        if (ParseIniFloat(text, sep, d))
            FuzzCheck(!std::isnan(d) || text.find_first_of("nN") != std::string::npos, "a number text gives a number");
    }
    return 0;
}
