#pragma once
// Reading of initialisation files: [section] headers and key=value lines.
#include <map>
#include <string>

// Reads the whole file once at creation; a missing or unreadable file reads as empty.
// Section and key names compare without regard to ASCII case; blanks around names and
// values are ignored; lines starting with ';' are comments. The first occurrence of a key
// in a section wins. Values are the file's bytes as they stand.
class TIniFile {
public:
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return fileName_; }
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;

private:
    std::string fileName_;
    std::map<std::string, std::string> values_; // "section\nkey" in lower case -> value
};
