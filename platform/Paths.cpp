#include "platform/Paths.h"

#include <cstdlib>
#include <climits>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_override;

std::string WithSlash(std::string dir)
{
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

} // namespace

std::string ExePath()
{
    char buf[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return {};
    return std::string(buf, size_t(n));
}

std::string ExeDirectory()
{
    const std::string p = ExePath();
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string("./") : p.substr(0, slash + 1);
}

std::string ExeBaseName()
{
    std::string p = ExePath();
    const size_t slash = p.rfind('/');
    if (slash != std::string::npos)
        p = p.substr(slash + 1);
    const size_t dot = p.rfind('.');
    if (dot != std::string::npos && dot > 0)
        p = p.substr(0, dot);
    return p;
}

std::string HomeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return WithSlash(home);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return WithSlash(pw->pw_dir);
    return "/";
}

void SetSettingsDirectoryOverride(const std::string& dir)
{
    g_override = dir.empty() ? std::string() : WithSlash(dir);
}

std::string SettingsDirectoryOverride() { return g_override; }

std::string UserConfigDirectory()
{
    std::string cfg;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/')
        cfg = WithSlash(x);
    else
        cfg = HomeDirectory() + ".config/";
    return cfg + "ulmaro/";
}

std::string FindSetupUlmaroIni(const std::string& exeDir, const std::string& configDir)
{
    const char* name = "SETUP_ULMARO.INI";
    for (const std::string& dir : {exeDir, configDir, exeDir + "../share/ulmaro/"}) {
        struct stat st;
        const std::string path = dir + name;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return path;
    }
    return exeDir + name;
}

std::string SetupUlmaroIniPath()
{
    if (!g_override.empty())
        return g_override + "SETUP_ULMARO.INI";
    return FindSetupUlmaroIni(ExeDirectory(), UserConfigDirectory());
}

std::string ChooseSetupIni(const std::string& exeDir, const std::string& configDir)
{
    const std::string beside = exeDir + "SETUP.INI";
    struct stat st;
    // A file someone put beside the program is used wherever that is.
    if (access(beside.c_str(), W_OK) == 0)
        return beside;
    const bool installed = stat((exeDir + "../share/ulmaro/SETUP_ULMARO.INI").c_str(), &st) == 0;
    if (!installed && access(beside.c_str(), F_OK) != 0 && access(exeDir.c_str(), W_OK) == 0)
        return beside;
    return configDir + "SETUP.INI";
}

std::string SetupIniPath()
{
    if (!g_override.empty())
        return g_override + "SETUP.INI";
    const std::string cfg = UserConfigDirectory();
    const std::string path = ChooseSetupIni(ExeDirectory(), cfg);
    if (path.compare(0, cfg.size(), cfg) == 0) {
        mkdir(cfg.substr(0, cfg.size() - std::string("ulmaro/").size()).c_str(), 0700);
        mkdir(cfg.c_str(), 0700);
    }
    return path;
}
