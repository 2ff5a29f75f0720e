// Stored numbers: never NaN, a setting always inside the range asked for, and the same result in
// every locale, whatever the text.

#include <QString>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "settings/SettingValue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first two bytes choose the range; the rest is the stored text.
    const int low = data[0] - 128;
    const int high = low + data[1];
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data) + 2,
                                             static_cast<qsizetype>(size - 2));
    double numbers[2] = {};
    int values[2] = {};
    const char* const locales[2] = {"C", "de_DE.UTF-8"};
    for (int i = 0; i < 2; ++i) {
        std::setlocale(LC_NUMERIC, locales[i]);  // where it is missing, C stays
        numbers[i] = TextToNumber(text);
        values[i] = TextToSettingValue(text, low, high);
    }
    std::setlocale(LC_NUMERIC, "C");
    if (std::isnan(numbers[0]) || values[0] < low || values[0] > high) {
        std::abort();
    }
    if (numbers[0] != numbers[1] || values[0] != values[1]) {
        std::abort();  // the locale changed the reading
    }
    return 0;
}
