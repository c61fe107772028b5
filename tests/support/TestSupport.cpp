#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

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
