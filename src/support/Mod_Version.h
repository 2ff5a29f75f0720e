#pragma once

#include <QString>

namespace Mod_Version {

// The release is the project's version, set once in the build.
inline constexpr quint16 kMajor = CORVANE_VERSION_MAJOR;
inline constexpr quint16 kMinor = CORVANE_VERSION_MINOR;
inline constexpr quint16 kRevision = CORVANE_VERSION_PATCH;

// "major.mm.rrrr" for this release.
QString VersionString();
QString VersionString(quint16 major, quint16 minor, quint16 revision);

}  // namespace Mod_Version
