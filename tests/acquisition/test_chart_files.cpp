// The chart's files without widgets: the recording as it is written (on a
// driven clock, into a full disk and a read-only folder, killed mid-run in a
// child process) and the reading of recordings, exports and files that are
// neither.
#include "acquisition/ChartFile.h"
#include "acquisition/TraceStore.h"
#include "platform/CsvText.h"
#include "tests/acquisition/fake_usb.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

TChartFileInfo Info()
{
    TChartFileInfo info;
    info.Device = QString::fromUtf8("Prüfung 5 µC; Los 7");
    info.Mode = "E-Fieldmeter";
    info.Range = QString::fromUtf8("±20kV/m");
    info.Unit = QString::fromUtf8("µC");
    info.PeriodMs = 10;
    info.Start = QDateTime(QDate(2026, 12, 9), QTime(22, 36, 16, 120));
    return info;
}

constexpr int64_t Stamp0 = 1796852176120;  // some evening in December 2026

double Value(size_t i) { return std::round(std::sin(double(i) * 0.1) * 20000.0) / 1000.0; }

std::string Line(size_t i)
{
    QString text;
    TStampText stamp;
    AppendChartCsvLine(text, double(i) * 0.046, Value(i), Stamp0 + int64_t(i) * 46, ChartFileLocale(), stamp);
    return text.toStdString();
}

uint64_t MonotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

TEST(ChartRecording, HeaderAndLinesAreWindows1252WithCrLfAndReadBack)
{
    FakeHost host;
    TempDir dir;
    const std::string path = dir.file("Recordings/deep/run.csv");
    TChartRecorder rec;
    ASSERT_EQ(rec.Begin(path, Info()), 0);  // the folders are made
    EXPECT_TRUE(rec.Active());
    for (size_t i = 0; i < 3; ++i)
        rec.Append(double(i) * 0.046, Value(i), Stamp0 + int64_t(i) * 46);
    rec.End();
    EXPECT_FALSE(rec.Active());

    const std::string bytes = ReadAll(path);
    const std::string header =
        "Device;Pr\xFC" "fung 5 \xB5" "C, Los 7\r\n"
        "Mode;E-Fieldmeter\r\n"
        "Range;\xB1" "20kV/m\r\n"
        "Sample time (ms);10\r\n"
        "Start;2026-12-09T22:36:16.120";
    ASSERT_EQ(bytes.substr(0, header.size()), header);
    const std::string columns = "Time (s);Value (\xB5" "C);Time stamp\r\n";
    const size_t columnsAt = bytes.find(columns);
    ASSERT_NE(columnsAt, std::string::npos);
    EXPECT_EQ(bytes.substr(columnsAt + columns.size()), Line(0) + Line(1) + Line(2));
    EXPECT_EQ(bytes.find("\xC2"), std::string::npos) << "no UTF-8 in the file";
    for (size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1))
        ASSERT_EQ(bytes[i - 1], '\r') << "line end at " << i;

    TTraceStore store;
    TChartFileInfo info;
    QString error;
    ASSERT_EQ(ReadChartFile(QString::fromStdString(path), store, info, error), TChartReadResult::Ok)
        << error.toStdString();
    EXPECT_EQ(info.Device, QString::fromUtf8("Prüfung 5 µC, Los 7"));
    EXPECT_EQ(info.Mode, "E-Fieldmeter");
    EXPECT_EQ(info.Range, QString::fromUtf8("±20kV/m"));
    EXPECT_EQ(info.Unit, QString::fromUtf8("µC"));
    EXPECT_EQ(info.PeriodMs, 10);
    EXPECT_EQ(info.Start.toMSecsSinceEpoch(), Info().Start.toMSecsSinceEpoch());
    ASSERT_EQ(store.Size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(store.X(i), double(i) * 0.046);
        EXPECT_DOUBLE_EQ(store.Y(i), Value(i));
        EXPECT_EQ(store.Stamp(i), Stamp0 + int64_t(i) * 46);
    }
}

// Random appends, polls and pauses on a driven clock. After every Append
// and Poll the file holds the header and a whole-line prefix of what was
// appended, and nothing taken FlushAfterMs ago or earlier is missing from it.
TEST(ChartRecording, DueLinesAreOnDiskAfterEveryStepModel)
{
    FakeHost host;
    TempDir dir;
    const std::string path = dir.file("run.csv");
    TChartRecorder rec;
    ASSERT_EQ(rec.Begin(path, Info()), 0);
    const std::string header = ReadAll(path);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> action(0, 9), pause(0, 400);
    std::string all;
    std::vector<uint32_t> taken;  // tick each line was appended at
    for (int step = 0; step < 600; ++step) {
        const int a = action(rng);
        if (a < 6) {
            host.now += uint32_t(pause(rng) / 8);
            rec.Append(double(taken.size()) * 0.046, Value(taken.size()), Stamp0 + int64_t(taken.size()) * 46);
            all += Line(taken.size());
            taken.push_back(host.now);
        } else if (a < 9) {
            host.now += uint32_t(pause(rng));
            rec.Poll();
        } else {
            host.now += uint32_t(pause(rng));
            continue;  // a wait without a poll: nothing is promised
        }
        const std::string bytes = ReadAll(path);
        ASSERT_EQ(bytes.substr(0, header.size()), header);
        const std::string body = bytes.substr(header.size());
        ASSERT_EQ(all.compare(0, body.size(), body), 0) << "step " << step;
        ASSERT_TRUE(body.empty() || body.back() == '\n');
        size_t lines = 0;
        for (char c : body)
            lines += c == '\n';
        for (size_t i = lines; i < taken.size(); ++i)
            ASSERT_LT(host.now - taken[i], TChartRecorder::FlushAfterMs) << "line " << i << " step " << step;
    }
    rec.End();
    EXPECT_EQ(ReadAll(path), header + all);
}

TEST(ChartRecording, AFullDiskEndsTheRecordingWithOneReport)
{
    FakeHost host;
    TempDir dir;
    const std::string path = dir.file("run.csv");
    TChartRecorder rec;
    std::vector<int> reports;
    rec.OnFailure = [&](const std::string& p, int err) {
        EXPECT_EQ(p, path);
        reports.push_back(err);
    };
    ASSERT_EQ(rec.Begin(path, Info()), 0);
    rec.Append(0, Value(0), Stamp0);
    ASSERT_EQ(rec.Flush(), 0);
    // The disk fills up under the running recording.
    ASSERT_EQ(::rename(path.c_str(), (path + ".kept").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/full", path.c_str()), 0);
    rec.Append(0.046, 2, Stamp0 + 46);
    EXPECT_EQ(rec.Flush(), ENOSPC);
    EXPECT_FALSE(rec.Active());
    for (int i = 0; i < 50; ++i) {
        host.now += 100;
        rec.Append(0.1 * i, 3, Stamp0 + 100 * i);
        rec.Poll();
    }
    EXPECT_EQ(reports, std::vector<int>{ENOSPC});
    EXPECT_EQ(rec.LastError(), ENOSPC);
    // what reached the disk before stays whole
    const std::string kept = ReadAll(path + ".kept");
    ASSERT_GT(kept.size(), Line(0).size());
    EXPECT_EQ(kept.substr(kept.size() - Line(0).size()), Line(0));
}

// Lines that wait for a file another program holds are written when it
// lets go; a file still held when the recording ends is reported, and what
// reached it before stays whole.
TEST(ChartRecording, AFileHeldAtTheEndIsReportedNotCutShortQuietly)
{
    for (const bool releasedBeforeEnd : {true, false}) {
        SCOPED_TRACE(releasedBeforeEnd ? "released before the end" : "held at the end");
        FakeHost host;
        TempDir dir;
        const std::string path = dir.file("run.csv");
        TChartRecorder rec;
        std::vector<int> reports;
        rec.OnFailure = [&](const std::string&, int err) { reports.push_back(err); };
        ASSERT_EQ(rec.Begin(path, Info()), 0);
        rec.Append(0, Value(0), Stamp0);
        ASSERT_EQ(rec.Flush(), 0);
        const std::string before = ReadAll(path);

        // Another open of the file takes the lock a spreadsheet would.
        const int holder = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        for (size_t i = 1; i < 4; ++i) {
            host.now += TChartRecorder::FlushAfterMs;
            rec.Append(double(i) * 0.046, Value(i), Stamp0 + int64_t(i) * 46);
            rec.Poll();
        }
        EXPECT_TRUE(rec.Active()) << "a held file is waited for while the chart runs";
        EXPECT_EQ(ReadAll(path), before);
        if (releasedBeforeEnd)
            ::flock(holder, LOCK_UN);
        rec.End();
        ::close(holder);

        EXPECT_FALSE(rec.Active());
        if (releasedBeforeEnd) {
            EXPECT_TRUE(reports.empty());
            EXPECT_EQ(rec.LastError(), 0);
            EXPECT_EQ(ReadAll(path), before + Line(1) + Line(2) + Line(3));
        } else {
            EXPECT_EQ(reports, std::vector<int>{EAGAIN});
            EXPECT_EQ(rec.LastError(), EAGAIN);
            EXPECT_EQ(ReadAll(path), before);
        }
    }
}

// Locales that write a minus sign of their own (U+2212): the recording
// still holds "-" and reads back as the negative value it was.
TEST(ChartRecording, NegativeValuesReadBackUnderEveryLocale)
{
    for (const char* name : {"sv_SE", "fi_FI", "nb_NO", "lt_LT", "de_DE", "en_US", "fr_FR"}) {
        SCOPED_TRACE(name);
        LocaleGuard guard{QLocale(QString::fromLatin1(name))};
        FakeHost host;
        TempDir dir;
        const std::string path = dir.file("run.csv");
        TChartRecorder rec;
        ASSERT_EQ(rec.Begin(path, Info()), 0);
        rec.Append(0, -1234.5, Stamp0);
        rec.Append(0.046, -0.25, Stamp0 + 46);
        rec.End();
        const std::string bytes = ReadAll(path);
        EXPECT_EQ(bytes.find('?'), std::string::npos) << bytes;
        const char decimal = QLocale().decimalPoint() == QLatin1String(",") ? ',' : '.';
        EXPECT_NE(bytes.find(std::string(";-1234") + decimal + "5;"), std::string::npos) << bytes;

        TTraceStore store;
        TChartFileInfo info;
        QString error;
        ASSERT_EQ(ReadChartFile(QString::fromStdString(path), store, info, error), TChartReadResult::Ok)
            << error.toStdString();
        ASSERT_EQ(store.Size(), 2u);
        EXPECT_DOUBLE_EQ(store.Y(0), -1234.5);
        EXPECT_DOUBLE_EQ(store.Y(1), -0.25);
    }
}

TEST(ChartRecording, AFolderThatCannotBeWrittenIsReportedAtBegin)
{
    FakeHost host;
    TempDir dir;
    // Root writes into any folder of a disk; sysfs refuses even root.
    std::string folder = "/sys";
    if (::geteuid() != 0) {
        folder = dir.file("locked");
        ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
    }
    for (const std::string& path : {folder + "/run.csv", std::string("/proc/no_such_folder/Recordings/run.csv")}) {
        TChartRecorder rec;
        int reports = 0;
        rec.OnFailure = [&](const std::string&, int) { ++reports; };
        const int err = rec.Begin(path, Info());
        EXPECT_NE(err, 0) << path;
        EXPECT_EQ(reports, 1) << path;
        EXPECT_FALSE(rec.Active()) << path;
        rec.Append(0, 1, Stamp0);  // the chart goes on; nothing is written
        EXPECT_EQ(reports, 1) << path;
    }
}

// The child of the test below: records a sample every 2 ms until it is
// killed, and notes after each one, on its own, which sample it appended when.
TEST(ChartRecordingChild, Writer)
{
    const char* dir = std::getenv("ULMARO_RECORDER_CHILD");
    if (!dir)
        return;  // only as a child
    const std::string folder(dir);
    TChartRecorder rec;
    if (rec.Begin(folder + "/run.csv", Info()) != 0)
        std::_Exit(3);
    const int progress = ::open((folder + "/progress").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    for (size_t i = 0;; ++i) {
        rec.Append(double(i) * 0.046, Value(i), Stamp0 + int64_t(i) * 46);
        const std::string note = std::to_string(i) + " " + std::to_string(MonotonicMs()) + "\n";
        if (::write(progress, note.data(), note.size()) != ssize_t(note.size()))
            std::_Exit(4);
        ::usleep(2000);
    }
}

TEST(ChartRecording, AKilledProgramLeavesEverySampleOlderThanASecondWhole)
{
    TempDir dir;
    const std::string filter = "--gtest_filter=ChartRecordingChild.Writer";
    const std::string env = "ULMARO_RECORDER_CHILD=" + dir.path();
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    envp.push_back(const_cast<char*>(env.c_str()));
    envp.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, const_cast<char*>(filter.c_str()), nullptr};
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, envp.data()), 0);

    // Let it record for a good two seconds of its own clock.
    auto progress = [&] { return ReadAll(dir.file("progress")); };
    auto firstTime = [&]() -> uint64_t {
        const std::string p = progress();
        const size_t space = p.find(' '), end = p.find('\n');
        return space == std::string::npos || end == std::string::npos ? 0
                                                                       : std::stoull(p.substr(space + 1, end - space));
    };
    const bool running = WaitUntil([&] {
        const uint64_t t0 = firstTime();
        return t0 != 0 && MonotonicMs() > t0 + 2500;
    }, 60000);
    const uint64_t killedAt = MonotonicMs();
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(running) << "the child did not start recording";
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    // What the child had appended, and when.
    std::istringstream notes(progress());
    std::vector<uint64_t> when;
    size_t index = 0;
    uint64_t at = 0;
    while (notes >> index >> at) {
        ASSERT_EQ(index, when.size());
        when.push_back(at);
    }
    ASSERT_GT(when.size(), 100u);

    // The file is the header and whole lines, byte for byte as written, and
    // holds every sample taken a second or more before the kill.
    const std::string bytes = ReadAll(dir.file("run.csv"));
    const std::string header = ToWindows1252(ChartRecordingHeader(Info()));
    ASSERT_EQ(bytes.substr(0, header.size()), header);
    std::string expected;
    size_t lines = 0;
    while (expected.size() < bytes.size() - header.size())
        expected += Line(lines++);
    EXPECT_EQ(bytes.substr(header.size()), expected) << "torn or wrong lines";
    size_t due = 0;
    while (due < when.size() && when[due] + 1000 <= killedAt)
        ++due;
    EXPECT_GE(lines, due) << "samples older than a second were lost";
}

// Files offered to "Open": what reads, what is refused and why.
TEST(ChartFileReading, RecordingsExportsAndFilesThatAreNeither)
{
    TempDir dir;
    const std::string exportText = "Time (s);Value (kV/m);Time stamp\r\n"
                                   "0;1.5;2026-12-09T22:36:16.120+01:00\r\n"
                                   "0.046;-2;2026-12-09T22:36:16.166+01:00\r\n"
                                   "0.092;3;\r\n";
    struct Case {
        const char* name;
        std::string content;
        TChartReadResult result;
        const char* error;  // a part of the message
        size_t points;
    };
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const Case cases[] = {
        {"export", exportText, TChartReadResult::Ok, "", 3},
        {"export without stamps", "Time (s);Value\r\n0;1\r\n1;2\r\n", TChartReadResult::Ok, "", 2},
        {"older UTF-8 export", "Time (s);Value (\xC2\xB5" "C);Time stamp\n0;1;\n", TChartReadResult::Ok, "", 1},
        {"torn last line", exportText + "0.13", TChartReadResult::Ok, "", 3},
        {"torn last field", exportText + "0.13;4.", TChartReadResult::Ok, "", 3},
        {"cut inside the stamp", exportText + "0.2;5;2026-12-0", TChartReadResult::Ok, "", 3},
        {"edited, no last line end", "Time (s);Value\n0;1\n1;2", TChartReadResult::Ok, "", 2},
        {"empty", "", TChartReadResult::Failed, "empty", 0},
        {"picture", png, TChartReadResult::Failed, "not a chart recording", 0},
        {"other CSV", "Name;Result\r\nA;1\r\n", TChartReadResult::Failed, "not a chart recording", 0},
        {"header only of another kind", "Time (s);Resistance\r\n", TChartReadResult::Failed, "not a chart", 0},
        {"prose", std::string(200, 'x') + "\n", TChartReadResult::Failed, "not a chart recording", 0},
        {"bad point", exportText + "abc;1;\r\n0.2;2;\r\n", TChartReadResult::Failed, "Line 5", 0},
    };
    for (const Case& c : cases) {
        dir.write("f.csv", c.content);
        TTraceStore store;
        TChartFileInfo info;
        QString error;
        const TChartReadResult r = ReadChartFile(QString::fromStdString(dir.file("f.csv")), store, info, error);
        EXPECT_EQ(int(r), int(c.result)) << c.name << ": " << error.toStdString();
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.error))) << c.name << ": " << error.toStdString();
        if (r == TChartReadResult::Ok) {
            EXPECT_EQ(store.Size(), c.points) << c.name;
        }
    }
    // the export's values and stamps
    dir.write("f.csv", exportText);
    TTraceStore store;
    TChartFileInfo info;
    QString error;
    ASSERT_EQ(ReadChartFile(QString::fromStdString(dir.file("f.csv")), store, info, error), TChartReadResult::Ok);
    EXPECT_EQ(info.Unit, "kV/m");
    EXPECT_DOUBLE_EQ(store.X(1), 0.046);
    EXPECT_DOUBLE_EQ(store.Y(1), -2);
    EXPECT_EQ(store.Stamp(1) - store.Stamp(0), 46);
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(store.Stamp(0)).toOffsetFromUtc(3600).toString(Qt::ISODateWithMs),
              "2026-12-09T22:36:16.120+01:00");
    EXPECT_EQ(store.Stamp(2), TTraceStore::NoStamp);
    // a missing file
    EXPECT_EQ(ReadChartFile(QString::fromStdString(dir.file("none.csv")), store, info, error), TChartReadResult::Failed);
    EXPECT_TRUE(error.contains("could not be opened"));
}

TEST(ChartFileReading, ACommaLocaleFileReadsUnderAnyLocale)
{
    TempDir dir;
    dir.write("f.csv", "Time (s);Value (V);Time stamp\r\n0;-1,25;\r\n0,046;2,5;\r\n");
    for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English)}) {
        LocaleGuard guard(locale);
        TTraceStore store;
        TChartFileInfo info;
        QString error;
        ASSERT_EQ(ReadChartFile(QString::fromStdString(dir.file("f.csv")), store, info, error), TChartReadResult::Ok)
            << error.toStdString();
        ASSERT_EQ(store.Size(), 2u);
        EXPECT_DOUBLE_EQ(store.Y(0), -1.25);
        EXPECT_DOUBLE_EQ(store.X(1), 0.046);
    }
}

// A gigabyte (sparse: it costs no disk) is refused at its first block, not
// read to the end; a long file reports progress and can be cancelled.
TEST(ChartFileReading, HugeFilesAreRefusedOrReadWithProgress)
{
    TempDir dir;
    const std::string huge = dir.file("huge.csv");
    dir.write("huge.csv", "Time (s);Value (V);Time stamp\r\n0;1;\r\n");
    ASSERT_EQ(::truncate(huge.c_str(), qint64(1) << 30), 0);
    TTraceStore store;
    TChartFileInfo info;
    QString error;
    int calls = 0;
    EXPECT_EQ(ReadChartFile(QString::fromStdString(huge), store, info, error,
                            [&](qint64, qint64) { return ++calls, true; }),
              TChartReadResult::Failed);
    EXPECT_TRUE(error.contains("not a chart recording"));
    EXPECT_EQ(calls, 0);

    std::string big = "Time (s);Value (V);Time stamp\r\n";
    for (size_t i = 0; big.size() < (9u << 20); ++i)
        big += std::to_string(i) + ";" + std::to_string(i % 7) + ";\r\n";
    dir.write("big.csv", big);
    std::vector<std::pair<qint64, qint64>> seen;
    TTraceStore all;
    ASSERT_EQ(ReadChartFile(QString::fromStdString(dir.file("big.csv")), all, info, error,
                            [&](qint64 done, qint64 total) { return seen.emplace_back(done, total), true; }),
              TChartReadResult::Ok);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.back().first, qint64(big.size()));
    EXPECT_EQ(seen.back().second, qint64(big.size()));
    TTraceStore part;
    EXPECT_EQ(ReadChartFile(QString::fromStdString(dir.file("big.csv")), part, info, error,
                            [](qint64, qint64) { return false; }),
              TChartReadResult::Cancelled);
    EXPECT_LT(part.Size(), all.Size());
}

}  // namespace
