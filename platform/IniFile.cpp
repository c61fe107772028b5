#include "platform/IniFile.h"

// Bytes in, bytes out: settings files are plain 8-bit text.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <QLocale>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return s.substr(b, e - b);
}

// CSimpleIniA compares section and key names without regard to case.
// Loads the file; false when it is missing or unreadable (the ini then reads empty).
bool Load(CSimpleIniA& ini, const std::string& path)
{
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    // Only a plain file is a settings file: a folder reads as a file of
    // absurd size (the loader would try to allocate it), a FIFO would block
    // the start-up and a device would read without end.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return ini.LoadFile(path.c_str()) >= 0;
}

} // namespace

struct TIniFile::Parsed {
    CSimpleIniA ini;
    bool loaded = false;
};

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

TIniFile TIniFile::Snapshot() const
{
    TIniFile snap(path_);
    auto parsed = std::make_shared<Parsed>();
    parsed->loaded = Load(parsed->ini, path_);
    snap.parsed_ = std::move(parsed);
    return snap;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const
{
    std::shared_ptr<const Parsed> parsed = parsed_;
    if (!parsed) {
        auto fresh = std::make_shared<Parsed>();
        fresh->loaded = Load(fresh->ini, path_);
        parsed = std::move(fresh);
    }
    if (!parsed->loaded)
        return def;
    const char* v = parsed->ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (!v)
        return def;
    std::string s = Trim(v);
    // Windows ini readers drop one pair of surrounding quotes.
    if (s.size() >= 2 && ((s.front() == '"' && s.back() == '"') || (s.front() == '\'' && s.back() == '\'')))
        s = s.substr(1, s.size() - 2);
    return s;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const
{
    int v = 0;
    return ParseIniInteger(ReadString(section, key, ""), v) ? v : def;
}

double TIniFile::ReadFloat(const std::string& section, const std::string& key, double def) const
{
    double v = 0;
    return ParseIniFloat(ReadString(section, key, ""), SystemDecimalSeparator(), v) ? v : def;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    parsed_.reset();
    CSimpleIniA ini;
    // "Key=value" as the files have always been written: the lines the
    // write does not change keep their look, and strict readers read them.
    ini.SetSpaces(false);
    // A missing file is created by the save below; one that exists but cannot
    // be read must not be replaced by a file holding only this key.
    if (!Load(ini, path_) && access(path_.c_str(), F_OK) == 0)
        return false;
    if (ini.SetValue(section.c_str(), key.c_str(), value.c_str()) < 0)
        return false;
    // Written beside and renamed over, so a full disk or a crash mid-write
    // leaves the old file (with its calibration values) whole.
    const std::string tmp = path_ + ".new";
    // Reading strips one UTF-8 signature from the start of a file. A file
    // that had one keeps it, and text that would itself begin with those
    // bytes (a second signature, a key name starting with one) gets one in
    // front: otherwise the next read would strip them and read the first
    // line, and with it other keys, differently.
    std::string text;
    if (ini.Save(text, ini.IsUnicode()) < 0)
        return false;
    if (!ini.IsUnicode() && text.rfind(SI_UTF8_SIGNATURE, 0) == 0)
        text.insert(0, SI_UTF8_SIGNATURE);
    FILE* f = std::fopen(tmp.c_str(), "wb");
    const bool written = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (!f || (std::fclose(f) != 0) || !written) {
        std::remove(tmp.c_str());
        return false;
    }
    if (std::rename(tmp.c_str(), path_.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

bool TIniFile::WriteFloat(const std::string& section, const std::string& key, double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string s(buf);
    const char sep = SystemDecimalSeparator();
    for (char& c : s)
        if (c == '.')
            c = sep;
    return WriteString(section, key, s);
}

bool TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    return WriteString(section, key, value ? "1" : "0");
}

bool ParseIniInteger(const std::string& text, int& out)
{
    const std::string s = Trim(text);
    if (s.empty())
        return false;
    size_t i = 0;
    bool neg = false;
    if (s[i] == '+' || s[i] == '-') {
        neg = s[i] == '-';
        ++i;
    }
    if (i >= s.size())
        return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (neg)
        v = -v;
    if (v < -2147483648LL || v > 2147483647LL)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool ParseIniFloat(const std::string& text, char decimalSeparator, double& out)
{
    const std::string s = Trim(text);
    if (s.empty())
        return false;
    // Only the given separator counts; rebuild the text in the C locale's form.
    std::string c;
    c.reserve(s.size());
    size_t i = 0;
    if (s[i] == '+' || s[i] == '-')
        c += s[i++];
    bool digits = false, sep = false;
    for (; i < s.size(); ++i) {
        const char ch = s[i];
        if (ch >= '0' && ch <= '9') {
            c += ch;
            digits = true;
        } else if (ch == decimalSeparator && !sep) {
            c += '.';
            sep = true;
        } else {
            break;
        }
    }
    if (!digits)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        c += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            c += s[i++];
        bool expDigits = false;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
            c += s[i];
            expDigits = true;
        }
        if (!expDigits)
            return false;
    }
    if (i != s.size())
        return false;
    // strtod follows LC_NUMERIC; the rebuilt text always uses '.', so parse
    // it through a locale-independent path.
    bool ok = false;
    const double v = QLocale::c().toDouble(QString::fromStdString(c), &ok);
    if (!ok || !std::isfinite(v))
        return false;
    out = v;
    return true;
}

char SystemDecimalSeparator()
{
    const QString dp = QLocale().decimalPoint();
    return dp.isEmpty() ? '.' : dp.at(0).toLatin1();
}
