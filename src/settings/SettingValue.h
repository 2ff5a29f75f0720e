#pragma once

#include <QString>

// Reading a stored setting as a number: blanks and tabs are ignored wherever they stand; a sign,
// digits, one decimal point and an exponent (E or D, then an optional sign and digits) are read,
// or "&H" / "&O" then hexadecimal / octal digits; reading stops at the first character that does
// not fit, and a text without a number reads as 0.
double TextToNumber(const QString& text);

// The number rounded half to even and clamped to 16 bits and then to [low, high], so that no
// stored value, however odd, can put a control out of its range.
int TextToSettingValue(const QString& text, int low, int high);
