#include "serial/DataDirectory.h"

#include "core/MainState.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"

QString DirectoryOf(const QString& fileName)
{
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : fileName.left(slash + 1);
}

bool UpdateCpmDataDirectory(TMainState& state, const QString& fileName)
{
    const QString dir = DirectoryOf(fileName);
    if (dir == state.CpmDataDirectory)
        return false;
    state.CpmDataDirectory = dir;
    TIniFile ini(SetupIniPath());
    ini.WriteString("CPM", "DataDirectory", dir.toStdString());
    return true;
}
