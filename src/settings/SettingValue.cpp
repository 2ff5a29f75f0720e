#include "settings/SettingValue.h"

#include <algorithm>
#include <cctype>
#include <charconv>
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

// Moves a leading sign at `i` over to `out`.
void TakeSign(const std::string& s, std::size_t& i, std::string& out) {
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        out += s[i++];
    }
}

// Moves the decimal digits at `i` over to `out`; false when there are none.
bool TakeDigits(const std::string& s, std::size_t& i, std::string& out) {
    const std::size_t start = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        out += s[i++];
    }
    return i > start;
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
    TakeSign(s, i, number);
    bool digits = TakeDigits(s, i, number);
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        digits = TakeDigits(s, i, number) || digits;
    }
    if (!digits) {
        return 0.0;
    }
    if (i < s.size() && (std::toupper(static_cast<unsigned char>(s[i])) == 'E' ||
                         std::toupper(static_cast<unsigned char>(s[i])) == 'D')) {
        std::string exponent = "e";
        std::size_t j = i + 1;
        TakeSign(s, j, exponent);
        if (TakeDigits(s, j, exponent)) {
            number += exponent;
        }
    }
    // from_chars reads the C convention whatever the user's locale; it takes no plus sign.
    const char* first = number.data() + (number[0] == '+' ? 1 : 0);
    double value = 0.0;
    if (std::from_chars(first, number.data() + number.size(), value).ec ==
        std::errc::result_out_of_range) {
        // Too large is infinite, too small is nothing, as the value is read to 16 bits anyway.
        const bool tiny = number.find("e-") != std::string::npos;
        value = tiny ? 0.0 : (number[0] == '-' ? -HUGE_VAL : HUGE_VAL);
    }
    return value;
}

int TextToSettingValue(const QString& text, int low, int high) {
    const double rounded = std::nearbyint(TextToNumber(text));
    const double in16Bits = std::clamp(rounded, double{std::numeric_limits<qint16>::min()},
                                       double{std::numeric_limits<qint16>::max()});
    return std::clamp(static_cast<int>(in16Bits), low, high);
}
