#pragma once

// A shared library opened the first time one of its functions is wanted
// rather than when the program starts. For libraries only some sessions use
// (the USB converter's, the port enumeration's): the dynamic loader would
// otherwise map and bind them before the main window can appear.
//
// A library or function that cannot be found gives a null pointer; callers
// behave as if the hardware were absent. The library stays loaded for the
// rest of the process. GUI thread or not: opening is done once, safely.
class TLazyLibrary {
public:
    // `soname`: the name the library is installed under ("libusb-0.1.so.4").
    explicit constexpr TLazyLibrary(const char* soname) : soname_(soname) {}

    // The function `name` of the type declared in the library's header, e.g.
    // Function<decltype(usb_init)>("usb_init"); null when unavailable.
    template <class F>
    F* Function(const char* name)
    {
        return reinterpret_cast<F*>(Symbol(name));
    }

    // True once the library could be opened (opening it if need be).
    bool Available();
    const char* SoName() const { return soname_; }

private:
    void* Symbol(const char* name);
    void* Handle();

    const char* soname_;
};
