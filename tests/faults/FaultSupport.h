#pragma once
// What every fault case checks: the messages a user saw (framework error
// boxes and prompts), descriptors before and after, a file's lines, and a
// second process that holds a lock on a file.
#include "app/TApplication.h"
#include "tests/support/Descriptors.h"
#include "tests/support/ScriptedPrompt.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

// Replaces the framework's error box for its lifetime and records what it
// would have shown. Click runs a handler the way a button click reaches it.
class ErrorBoxes {
public:
    ErrorBoxes();
    ~ErrorBoxes();
    void Click(const std::function<void()>& handler);
    std::vector<QString> shown;

private:
    std::function<void(const QString&)> old_;
};

// Every message a user saw since `from` prompts and `fromErrors` error
// boxes: prompts that are not questions the case answered itself.
QStringList MessagesSince(const ScriptedPrompt& prompt, size_t from, const ErrorBoxes& errors, size_t fromErrors,
                          const QString& skipCaption = QString());

std::string ReadWholeFile(const std::string& path);
// The file's lines, each checked to end in CR LF (a torn line fails the test).
QStringList CompleteLines(const std::string& path);

// A second process that takes a write lock on the whole file and keeps it
// until Release (or the object goes).
class LockHolder {
public:
    explicit LockHolder(const std::string& path);
    ~LockHolder();
    bool Holding() const { return pid_ > 0; }
    void Release();

private:
    int pid_ = -1;
};

// Makes a file read-only for everyone, root included (the immutable flag
// where the file system has it). False when that is not possible here.
bool MakeReadOnly(const std::string& path);
void MakeWritable(const std::string& path);

// A disk that takes only `bytes` bytes of any file this process writes, for
// the object's lifetime: a write past it fails (EFBIG) instead of ending the
// process.
class DiskFullAfter {
public:
    explicit DiskFullAfter(unsigned long bytes);
    ~DiskFullAfter();

private:
    unsigned long oldLimit_ = 0;
    void (*oldHandler_)(int) = nullptr;
};
