#include "platform/LazyLibrary.h"

#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex;

// One handle per library name, however many TLazyLibrary objects name it.
std::map<std::string, void*>& Handles()
{
    static std::map<std::string, void*> handles;
    return handles;
}

} // namespace

void* TLazyLibrary::Handle()
{
    std::lock_guard lock(g_mutex);
    auto [it, inserted] = Handles().try_emplace(soname_ ? soname_ : "", nullptr);
    // RTLD_LOCAL: its symbols serve only the lookups made here.
    // An empty name would give the program's own handle, not a library.
    if (inserted && soname_ && *soname_)
        it->second = dlopen(soname_, RTLD_NOW | RTLD_LOCAL);
    return it->second;
}

bool TLazyLibrary::Available() { return Handle() != nullptr; }

void* TLazyLibrary::Symbol(const char* name)
{
    void* handle = Handle();
    return handle ? dlsym(handle, name) : nullptr;
}
