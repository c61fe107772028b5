#pragma once
#include <QLocale>
#include <functional>
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

// Looks at `pred` every few milliseconds (letting Qt handle pending events
// in between when an application exists) until it holds or `timeoutMs` have
// passed; returns its last value. Use it instead of sleeping for a guessed
// time and then asserting: a loaded machine only makes it take longer.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
