#pragma once
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>

class TCustomComPort;

// The wrist-strap and shoe tester's statistics: how many measurements it
// made and how many wrist-strap (HGB) and shoe results fell below or above
// its limits. One exchange reads them, optionally clearing the tester's
// memory. No window code: the exchange reaches the user only through the
// prompt interface, so it runs as well against a simulated tester.
class C_Gripo {
public:
    explicit C_Gripo(TCustomComPort& port) : port_(port) {}

    uint32_t Count_all = 0;
    uint32_t Count_HGB_L = 0;
    uint32_t Count_HGB_H = 0;
    uint32_t Count_Shoe_L = 0;
    uint32_t Count_Shoe_H = 0;
    double Percent_HGB_L = 0;
    double Percent_HGB_H = 0;
    double Percent_Shoe_L = 0;
    double Percent_Shoe_H = 0;
    QString Comment;

    static constexpr uint8_t CommandRead = 0x7A;
    static constexpr uint8_t CommandReadAndClear = 0x7B;
    static constexpr int ReplyLength = 12;

    // Result codes of ReadStatistics.
    static constexpr int32_t Ok = 0;
    static constexpr int32_t Cancelled = 2;        // instruction box not confirmed, nothing sent
    static constexpr int32_t ChecksumWrong = -1;   // no acknowledgement sent
    static constexpr int32_t EchoWrong = -2;

    // Asks the user to press the tester's plate, then reads the statistics
    // (and clears the tester's memory when `clear`). Fills the record only on
    // success. Port failures ("Timeout", a closed port) leave as EComError.
    int32_t ReadStatistics(bool clear);

    // The checksum of a reply: command byte plus the first eleven reply
    // bytes, modulo 256. The acknowledgement is its complement.
    static uint8_t Checksum(uint8_t command, const uint8_t* reply11);

    // A percentage as the window, the file and the print-out show it (without
    // the "%"): one decimal, at most four significant digits, the locale's
    // decimal separator; five or more integer digits switch to the
    // exponent form ("2.5", "150.0", "1.235E4").
    static QString PercentText(double percent);

    // The header line of a statistics file and one data line for the record
    // at `when` (both without line end). The comment goes in as a CSV field.
    static QString CsvHeader();
    QString CsvLine(const QDateTime& when) const;

    // The body lines of the print-out: label and count, and for the four
    // result counts the percentage column (empty for the total).
    struct PrintRow {
        QString left, right;
    };
    QList<PrintRow> PrintRows() const;

private:
    TCustomComPort& port_;
};

