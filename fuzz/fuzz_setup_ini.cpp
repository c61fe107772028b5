// SETUP.INI as the program reads and rewrites it: the keys of the serial
// port, the charge plate monitor, the tera-ohmmeter and the tester. Any
// bytes in the file must read without a crash, and rewriting one key must
// store that key and leave every other value as it read before.
#include "core/MainState.h"
#include "fuzz/FuzzSupport.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "serial/DataDirectory.h"

#include <array>
#include <string>

namespace {

struct Values {
    std::array<int, 13> ints {};
    std::array<std::string, 3> dirs;
    bool operator==(const Values&) const = default;
};

const char* const kOhmraKeys[] = {"k0", "k1", "k2", "k3", "k4", "k5", "k_TF0", "k_TF2", "k_TF3"};

Values ReadAll(const TIniFile& ini)
{
    Values v;
    v.ints[0] = ini.ReadInteger("CPM", "ComPortIndex", 0);
    v.ints[1] = ini.ReadInteger("CPM", "vStart", 0);
    v.ints[2] = ini.ReadInteger("CPM", "vStop", 0);
    v.ints[3] = ini.ReadInteger("CPM", "tOffset", 0);
    for (int k = 0; k < 9; ++k)
        v.ints[4 + k] = ini.ReadInteger("Ohmra", kOhmraKeys[k], 200);
    v.dirs[0] = ini.ReadString("CPM", "DataDirectory", "~/");
    v.dirs[1] = ini.ReadString("Ohmra", "DataDirectory", "~/");
    v.dirs[2] = ini.ReadString("Gripo", "DataDirectory", "~/");
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool pinned = (SetSettingsDirectoryOverride(FuzzScratchDir()), true);
    (void)pinned;
    const std::string path = SetupIniPath();
    FuzzWriteFile(path, data, size);

    TIniFile ini(path);
    const Values before = ReadAll(ini.Snapshot());

    // The port choice, stored the way the port selection stores it.
    const int index = before.ints[0] == 7 ? 8 : 7;
    FuzzCheck(ini.WriteInteger("CPM", "ComPortIndex", index), "the port index can be stored");
    Values after = ReadAll(ini.Snapshot());
    FuzzCheck(after.ints[0] == index, "the stored port index reads back");
    after.ints[0] = before.ints[0];
    FuzzCheck(after == before, "storing the port index keeps every other value");

    // A saved charge plate monitor file moves the data folder.
    TMainState st;
    st.CpmDataDirectory = QString::fromStdString(before.dirs[0]);
    const QString file = QStringLiteral("/data/fuzz/run.csv");
    UpdateCpmDataDirectory(st, file);
    FuzzCheck(ini.ReadString("CPM", "DataDirectory", "") == "/data/fuzz/", "the data folder reads back");
    return 0;
}
