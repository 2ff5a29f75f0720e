#include "console/SettingValue.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

double ReadDigits(const std::string& text, std::size_t start, int base) {
    double value = 0.0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0 || digit >= base) {
            break;
        }
        value = value * base + digit;
    }
    return value;
}

}  // namespace

double TextToNumber(const QString& text) {
    std::string s;
    for (const QChar c : text) {
        if (c != u' ' && c != u'\t') {
            s += c.unicode() < 128 ? static_cast<char>(c.unicode()) : '\x01';
        }
    }
    if (s.size() >= 2 && s[0] == '&') {
        const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(s[1])));
        if (kind == 'H') {
            return ReadDigits(s, 2, 16);
        }
        if (kind == 'O') {
            return ReadDigits(s, 2, 8);
        }
        return 0.0;
    }
    // Take the longest prefix of the form [sign] digits [. digits] [E|D [sign] digits].
    std::size_t i = 0;
    std::string number;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        number += s[i++];
    }
    bool digits = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        number += s[i++];
        digits = true;
    }
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            number += s[i++];
            digits = true;
        }
    }
    if (!digits) {
        return 0.0;
    }
    if (i < s.size() && (std::toupper(static_cast<unsigned char>(s[i])) == 'E' ||
                         std::toupper(static_cast<unsigned char>(s[i])) == 'D')) {
        std::string exponent = "e";
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            exponent += s[j++];
        }
        bool exponentDigits = false;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
            exponent += s[j++];
            exponentDigits = true;
        }
        if (exponentDigits) {
            number += exponent;
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

int TextToSettingValue(const QString& text, int low, int high) {
    const double rounded = std::nearbyint(TextToNumber(text));
    const double in16Bits = std::clamp(rounded, double{std::numeric_limits<qint16>::min()},
                                       double{std::numeric_limits<qint16>::max()});
    return std::clamp(static_cast<int>(in16Bits), low, high);
}
