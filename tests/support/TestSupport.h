#pragma once
#include <QLocale>
#include <string>

// Pins the locale for the rest of the scope (number texts depend on it).
class LocaleGuard {
public:
    explicit LocaleGuard(const QLocale& l) : old_(QLocale()) { QLocale::setDefault(l); }
    ~LocaleGuard() { QLocale::setDefault(old_); }
private:
    QLocale old_;
};

// A fresh empty directory under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& content) const;
private:
    std::string path_;
};
