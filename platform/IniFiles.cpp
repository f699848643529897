#include "IniFiles.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace {

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
    std::ifstream file(fileName_, std::ios::binary);
    std::string line, section;
    while (std::getline(file, line)) {
        const std::string text = Trim(line);
        if (text.empty() || text[0] == ';')
            continue;
        if (text.front() == '[') {
            const auto close = text.find(']');
            section = Lower(
                Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            continue;
        }
        const auto equals = text.find('=');
        if (equals == std::string::npos)
            continue;
        values_.emplace(section + '\n' + Lower(Trim(text.substr(0, equals))),
                        Trim(text.substr(equals + 1)));
    }
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const auto it = values_.find(Lower(section) + '\n' + Lower(key));
    return it == values_.end() ? defaultValue : it->second;
}
