// Start-up time: from starting the process to its main window shown (first
// paint), for the program and, in the same run, for a bare Qt Widgets
// window, both on the offscreen platform. The goal is the program within
// 2 x the bare window.
//
//   ./bench_startup [--benchmark_repetitions=...]
//
// Cases: bare (startup_bare), bare_menu_bar (the same with the main window's
// menu bar: the share of the start that is Qt's own text set-up, fonts and
// style, which the bare window never pays), ulmaro (real-hardware mode:
// nothing attached), ulmaro_demo (--demo: the simulated instruments are
// started too). The
// program is started with "task" (so a copy of it already running does not
// end it) and "--quit-after 0", which reports the first paint on standard
// output and then closes the window. Each iteration is one process; the
// timed part ends at the report, the exit is waited for untimed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::map<std::string, std::vector<double>> g_ms;

// Starts `argv`, returns the milliseconds until a line containing "shown"
// arrived on its standard output (-1 when it never came), then waits for
// the process to end.
double TimeToShown(const std::vector<std::string>& args)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return -1;
    }
    double ms = -1;
    std::string seen;
    char buf[256];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) {
        seen.append(buf, size_t(n));
        if (ms < 0 && seen.find("shown") != std::string::npos)
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return ms;
}

void BM_Startup(benchmark::State& state, std::vector<std::string> args, std::string name)
{
    for (auto _ : state) {
        const double ms = TimeToShown(args);
        if (ms < 0) {
            state.SkipWithError("no window was reported");
            return;
        }
        g_ms[name].push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + long(v.size() / 2), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    // Both the same way: offscreen, whatever the caller's display.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    benchmark::Initialize(&argc, argv);
    const std::string ulmaro = ULMARO_EXE, bare = STARTUP_BARE_EXE;
    // Interleaved, so a busy machine weighs on all cases alike.
    for (int round = 0; round < 3; ++round) {
        benchmark::RegisterBenchmark("BM_Startup/bare", BM_Startup, std::vector<std::string>{bare}, "bare")
            ->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_Startup/bare_menu_bar", BM_Startup,
                                     std::vector<std::string>{bare, "--menu-bar"}, "bare_menu_bar")
            ->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_Startup/ulmaro", BM_Startup,
                                     std::vector<std::string>{ulmaro, "task", "--quit-after", "0"}, "ulmaro")
            ->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_Startup/ulmaro_demo", BM_Startup,
                                     std::vector<std::string>{ulmaro, "--demo", "task", "--quit-after", "0"},
                                     "ulmaro_demo")
            ->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double b = Median(g_ms["bare"]);
    std::printf("\nMedian time to the window shown (%zu starts each):\n", g_ms["bare"].size());
    for (const char* name : {"bare", "bare_menu_bar", "ulmaro", "ulmaro_demo"}) {
        const double m = Median(g_ms[name]);
        std::printf("  %-14s %8.1f ms   %5.2f x bare\n", name, m, b > 0 ? m / b : 0.0);
    }
    std::printf("Goal: ulmaro within 2 x bare.\n");
    return 0;
}
