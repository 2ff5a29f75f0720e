#pragma once

#include <QString>

namespace Mod_Version {

inline constexpr quint16 kMajor = 1;
inline constexpr quint16 kMinor = 0;
inline constexpr quint16 kRevision = 9;

// "major.mm.rrrr" for this release.
QString VersionString();
QString VersionString(quint16 major, quint16 minor, quint16 revision);

}  // namespace Mod_Version
