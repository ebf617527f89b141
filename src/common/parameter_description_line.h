#pragma once
// One line of a parameter description file, as the converter and the console host both read
// it: fields split at ';' with the quote rule, numbers read as the C library reads decimals.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Splits one description-file line into its fields at ';'. A quoted part that starts a field
// (its first quote at or after the field's start and before the next ';') keeps its ';': the
// field runs to the closing quote, quotes included, and the character after it is skipped as
// the separator. An unclosed quote splits as if it were not there.
inline std::vector<std::string> SplitParameterLine(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t separator = line.find(';', start);
        const size_t quote = line.find('"', start);
        if (quote != std::string::npos && (separator == std::string::npos || quote < separator)) {
            const size_t closing = line.find('"', quote + 1);
            if (closing != std::string::npos) {
                fields.push_back(line.substr(start, closing + 1 - start));
                if (closing + 1 >= line.size()) return fields;  // the line ends with the quote
                start = closing + 2;                            // the separator after it is skipped
                continue;
            }
        }
        if (separator == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, separator - start));
        start = separator + 1;
    }
}

// Decimal number as the C library's string-to-integer conversion reads it (leading blanks and a
// sign accepted, stops at the first non-digit, no digits give 0), saturated to 32 bits.
inline int64_t ParseDescriptionNumber(const std::string& field) {
    size_t i = 0;
    while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    int64_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = value * 10 + (field[i] - '0');
        if (value > INT32_MAX) value = static_cast<int64_t>(INT32_MAX) + 1;  // saturate, keep going
    }
    return negative ? -value : value;
}
