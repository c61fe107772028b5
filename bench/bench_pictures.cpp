// Start-up cost of the pictures: the wallpaper is decoded before the main
// window first shows, a Banner file when the chart view opens.
#include "platform/Pictures.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>

static void BM_DecodeWallpaperFile(benchmark::State& state)
{
    std::ifstream f(std::string(ULMARO_RESOURCES_DIR) + "/wallpaper.jpg", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), {});
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeJpeg(bytes));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_DecodeWallpaperFile)->Unit(benchmark::kMillisecond);

static void BM_RejectTruncatedLogo(benchmark::State& state)
{
    std::ifstream f(std::string(ULMARO_RESOURCES_DIR) + "/logo.jpg", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), {});
    const std::string cut = bytes.substr(0, bytes.size() / 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(DecodeJpeg(cut));
}
BENCHMARK(BM_RejectTruncatedLogo)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
