// Reads dict_export's timing line, "time: %0.2f\n".
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>

namespace export_test {

// True when `text` is exactly one timing line; its seconds go to `seconds`.
inline bool parseTimingLine(const std::string& text, double& seconds) {
    const std::string prefix = "time: ";
    if (text.compare(0, prefix.size(), prefix) != 0 || text.empty() || text.back() != '\n')
        return false;
    std::string number = text.substr(prefix.size(), text.size() - prefix.size() - 1);
    std::size_t point = number.find('.');
    if (point == 0 || point == std::string::npos || number.size() - point != 3) return false;
    for (std::size_t i = 0; i < number.size(); ++i)
        if (i != point && !std::isdigit(static_cast<unsigned char>(number[i]))) return false;
    seconds = std::strtod(number.c_str(), nullptr);
    return true;
}

} // namespace export_test
