#include "support/Mod_Version.h"

namespace Mod_Version {

QString VersionString() {
    return VersionString(kMajor, kMinor, kRevision);
}

QString VersionString(quint16 major, quint16 minor, quint16 revision) {
    return QStringLiteral("%1.%2.%3")
        .arg(major)
        .arg(minor, 2, 10, QLatin1Char('0'))
        .arg(revision, 4, 10, QLatin1Char('0'));
}

}  // namespace Mod_Version
