#pragma once
#include <memory>
#include <string>

// One ini file, read and written the way the program's settings files have
// always been: section and key names match without regard to letter case,
// a missing or unreadable file gives every default, numbers that do not
// parse give the default, and each access opens and closes the file.
class TIniFile {
public:
    explicit TIniFile(std::string path);

    const std::string& FileName() const { return path_; }

    // The file as it reads now, parsed once: its reads answer from that
    // copy, as one consistent view (a whole settings block read at start-up
    // cannot mix two versions of the file). A write through it goes to disk
    // and drops the copy, so later reads see the file again.
    TIniFile Snapshot() const;

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    // Floating-point values use the system's decimal separator.
    double ReadFloat(const std::string& section, const std::string& key, double def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;

    // Writes go to disk at once. Returns false when the file cannot be written.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, int value);
    bool WriteFloat(const std::string& section, const std::string& key, double value);
    bool WriteBool(const std::string& section, const std::string& key, bool value);

private:
    struct Parsed;
    std::string path_;
    std::shared_ptr<const Parsed> parsed_;
};

// Parses a whole decimal integer as the settings files write it (optional
// sign, surrounding blanks allowed). False when the text is not a number or
// does not fit 32 bits.
bool ParseIniInteger(const std::string& text, int& out);
// Parses a decimal number with the given decimal separator (and an optional
// exponent). False when the text is not a number.
bool ParseIniFloat(const std::string& text, char decimalSeparator, double& out);
// The system's decimal separator (from the locale in force).
char SystemDecimalSeparator();
