// The settings file: after a value is written it is read back; every line the write does not
// concern is kept, byte for byte and in order; nothing but the file is left in its folder.
// Input: the file's content, then key, value and section, each after a NUL byte.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "settings/IniLines.h"
#include "settings/Mod_INI.h"

namespace {

bool Printable(const QByteArray& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

// A key the writer can store as a key line of its own.
bool PlainKey(const QByteArray& key) {
    return !key.isEmpty() && Printable(key) && !key.contains('=') &&
           Mod_INI::ClassifyLine(key + '=') == Mod_INI::LineKind::Other;
}

// A section named literally: reading takes a header as a pattern, writing the section, and the
// two meet only where neither holds a wildcard.
bool Literal(const QByteArray& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isalnum(c) || c == ' '; });
}

bool HeaderWithWildcard(const QByteArray& line) {
    return Mod_INI::ClassifyLine(line) == Mod_INI::LineKind::Header &&
           !Literal(Mod_INI::HeaderName(line));
}

// The lines that neither name the key nor head the section.
QList<QByteArray> Untouched(const QByteArray& content, const QByteArray& key,
                            const QByteArray& header) {
    QList<QByteArray> kept;
    for (const QByteArray& line : Mod_INI::SplitLines(content)) {
        const qsizetype eq = line.indexOf('=');
        const bool keyLine = eq >= 0 && line.first(eq).toUpper() == key.toUpper();
        if (!keyLine && line != header) {
            kept.append(line);
        }
    }
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\0');
    if (parts.size() != 4) {
        return 0;
    }
    const QByteArray &content = parts[0], &key = parts[1], &value = parts[2], &section = parts[3];
    if (!PlainKey(key) || !Printable(value) || section.isEmpty() || !Literal(section)) {
        return 0;
    }
    const QList<QByteArray> lines = Mod_INI::SplitLines(content);
    if (std::any_of(lines.begin(), lines.end(), HeaderWithWildcard)) {
        return 0;
    }
    const QString path = dir.filePath(QStringLiteral("settings.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size()) {
        std::abort();
    }
    file.close();

    const QString k = QString::fromLatin1(key), v = QString::fromLatin1(value),
                  s = QString::fromLatin1(section);
    Mod_INI::PutIniValue(path, k, v, s);
    if (Mod_INI::GetIniValue(path, k, QStringLiteral("\x01"), s) != v) {
        std::abort();  // what was written is not what is read
    }
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly)) {
        std::abort();
    }
    const QByteArray header = '[' + section + ']';
    if (Untouched(content, key, header) != Untouched(written.readAll(), key, header)) {
        std::abort();  // a line the write does not concern was changed, lost or moved
    }
    if (QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) !=
        QStringList{QStringLiteral("settings.ini")}) {
        std::abort();  // a temporary file was left behind
    }
    return 0;
}
