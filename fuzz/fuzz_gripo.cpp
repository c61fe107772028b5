// Replies of the wrist-strap and shoe tester: twelve statistics bytes with
// their sum checksum, then the echo of the command. The first byte picks
// reading or reading-and-clearing; the rest is what the tester sends
// (FuzzPort.h). A decoded record must also make its file line and its
// print-out rows.
#include "fuzz/FuzzPort.h"
#include "fuzz/FuzzSupport.h"
#include "gripo/C_Gripo.h"

#include <QDateTime>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool clear = data[0] & 1;
    ++data, --size;
    try {
        FuzzLine line(data, size, true); // the instruction box is confirmed
        C_Gripo g(line.port);
        g.Comment = QStringLiteral("bench; 3");
        const int32_t r = g.ReadStatistics(clear);
        FuzzCheck(r == C_Gripo::Ok || r == C_Gripo::ChecksumWrong || r == C_Gripo::EchoWrong, "a listed result");
        if (r == C_Gripo::Ok) {
            for (double p : {g.Percent_HGB_L, g.Percent_HGB_H, g.Percent_Shoe_L, g.Percent_Shoe_H}) {
                FuzzCheck(std::isfinite(p) && p >= 0, "a share is a finite percentage");
                FuzzCheck(!C_Gripo::PercentText(p).isEmpty(), "a share has a text");
            }
            const QString csv = g.CsvLine(QDateTime(QDate(2024, 5, 17), QTime(9, 5, 3)));
            FuzzCheck(!csv.contains(QLatin1Char('\r')) && !csv.contains(QLatin1Char('\n')), "one file line");
            FuzzCheck(!g.PrintRows().isEmpty(), "a print-out has rows");
        }
    } catch (const EComError&) {
        // The port's failure ("Timeout"): what the window shows.
    } catch (const EComAbort&) {
    }
    return 0;
}
