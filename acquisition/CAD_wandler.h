#pragma once

// Access to the "ELV USB-AD-Wandler" (vendor 0x16C0, product 0x2B5C) through
// libusb 0.1. Every conversion searches the bus afresh and reopens the
// converter, so a cable pulled and plugged back in is found again at the next
// read. The one device handle is shared by every object of the class.
class CAD_wandler {
public:
    static constexpr int VendorId = 0x16C0;
    static constexpr int ProductId = 0x2B5C;
    static constexpr double MillivoltsPerCount = 2.148;

    virtual ~CAD_wandler();

    // Closes the handle of the last search, searches the buses in list order
    // and opens, configures (1) and claims (interface 0) the first converter.
    // 1 on success, 0 otherwise.
    int OpenDevice();

    // One conversion in millivolts. Returns the bytes received (8 asked for),
    // -2 when the transfer failed, or 0 when the converter could not be opened
    // (then `millivolts` is left as it was).
    int ReadRaw(double& millivolts);

    // The reading of one sample: `Average_U` pairs of conversions 20 ms apart,
    // each pair tried up to three times while its halves differ by more than
    // `Delta_U` millivolts. Takes both settings from the main state. Returns
    // the result of the last ReadRaw.
    int ReadAveraged(double& millivolts);
    int ReadAveraged(double& millivolts, int deltaU, int averageU);

    // Decodes the first two reply bytes (sign in bit 10, magnitude in bits 0
    // to 9) into millivolts.
    static double Decode(unsigned char lo, unsigned char hi);
};

// The converter record of a window: the chart and the display window each own
// one; both act on the one shared device handle.
struct USB {
    CAD_wandler Wandler;
};

// Closes the shared handle if one is open (end of a test, end of the program).
void CloseConverterHandle();
