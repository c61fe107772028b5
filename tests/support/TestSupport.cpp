#include "tests/support/TestSupport.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

TempDir::TempDir()
{
    char tmpl[] = "/tmp/ulmaro-test-XXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& content) const
{
    std::ofstream f(file(name), std::ios::binary);
    f << content;
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred())
            return true;
        if (Clock::now() >= end)
            return pred();
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
