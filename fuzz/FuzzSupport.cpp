#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

std::string MakeScratch()
{
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    std::string templ = base + "/ulmaro-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    return templ;
}

struct Scratch {
    std::string dir = MakeScratch();
    ~Scratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

} // namespace

const std::string& FuzzScratchDir()
{
    static Scratch s;
    return s.dir;
}

void FuzzWriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

void FuzzCheck(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}
