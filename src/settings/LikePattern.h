#pragma once

#include <QByteArrayView>

namespace Mod_INI {

// Whole-text match, case-sensitive: "?" one character, "*" any run, "#" one digit, "[list]" one
// character of the list ("[!list]" one not in it, "a-z" a range); anything else stands for itself.
bool LikeMatch(QByteArrayView text, QByteArrayView pattern);

}  // namespace Mod_INI
