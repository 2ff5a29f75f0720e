#include "settings/Mod_INI.h"

#include <QFile>
#include <QLoggingCategory>
#include <optional>

#include "platform/files.h"
#include "settings/IniLines.h"
#include "support/Mod_Diskinfo.h"
#include "support/ProgramLocation.h"
#include "support/SafeWrite.h"

namespace Mod_INI {

namespace {

Q_LOGGING_CATEGORY(lcSettings, "corvane.settings")

// A literal test: the folder or name of a settings file may hold "*" or "?", which a wildcard
// search would take for a pattern and so lose the file.
bool FileExists(const QString& path) {
    return !Platform::Files::ShortPathName(path).isEmpty();
}

QString ResolveFileName(const QString& fileName) {
    return fileName.isEmpty() ? IniFilePath() : fileName;
}

std::optional<QByteArray> ReadWhole(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return content;
}

std::optional<QByteArray> ReadExisting(const QString& path) {
    return FileExists(path) ? ReadWhole(path) : std::nullopt;
}

// Reads the file for a rewrite: nothing when it exists and cannot be read, since rewriting what
// could not be read would lose it.
std::optional<std::optional<QByteArray>> ReadForRewrite(const QString& path) {
    if (!FileExists(path)) {
        return std::optional<QByteArray>();
    }
    std::optional<QByteArray> old = ReadWhole(path);
    if (!old) {
        qCWarning(lcSettings, "%s cannot be read, so it is not rewritten", qPrintable(path));
        return std::nullopt;
    }
    return old;
}

// Rewrites the file where it is and reads it back; on any failure the old content is put back.
// Only for a file that cannot be replaced: a cut power or a full disk here can still lose it.
void WriteInPlace(const QString& path, const QByteArray& content, const QByteArray& old) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        return;
    }
    const auto writeWhole = [&file](const QByteArray& bytes) {
        return file.seek(0) && file.write(bytes) == bytes.size() && file.flush() &&
               file.resize(bytes.size()) && file.seek(0) && file.readAll() == bytes;
    };
    if (!writeWhole(content)) {
        qCWarning(lcSettings, "%s could not be written in place: %s", qPrintable(path),
                  qPrintable(file.errorString()));
        writeWhole(old);
    }
}

void Replace(const QString& path, const QByteArray& out, const std::optional<QByteArray>& old) {
    const SafeWrite::Result result = SafeWrite::ReplaceFile(path, out);
    if (result.outcome == SafeWrite::Outcome::NotOpened && old) {
        // No temporary file can be made beside it: a folder that may not be written, holding a
        // file that may, as an administrator may set it up.
        WriteInPlace(path, out, *old);
    } else if (result.outcome == SafeWrite::Outcome::NotOpened) {
        qCWarning(lcSettings, "%s could not be made: %s", qPrintable(path),
                  qPrintable(result.reason));
    } else if (!result) {
        qCWarning(lcSettings, "%s could not be written: %s", qPrintable(path),
                  qPrintable(result.reason));
    }
}

}  // namespace

QString GetIniValue(const QString& fileName, const QString& key, const QString& defaultValue,
                    const QString& section) {
    const std::optional<QByteArray> content = ReadExisting(ResolveFileName(fileName));
    return content ? ValueIn(*content, key, section).value_or(defaultValue) : defaultValue;
}

void PutIniValue(const QString& fileName, const QString& key, const QString& value,
                 const QString& section) {
    PutIniValues(fileName, {{key, value}}, section);
}

void PutIniValues(const QString& fileName, const QList<std::pair<QString, QString>>& values,
                  const QString& section) {
    const QString path = ResolveFileName(fileName);
    const std::optional<std::optional<QByteArray>> old = ReadForRewrite(path);
    if (!old) {
        return;
    }
    QByteArray out = old->value_or(QByteArray());
    for (const auto& [key, value] : values) {
        out = WithValue(out, key, value, section);
    }
    Replace(path, out, *old);
}

QList<std::pair<int, QByteArray>> GetIniSection(const QString& fileName, const QString& section) {
    const std::optional<QByteArray> content = ReadExisting(ResolveFileName(fileName));
    return content ? SectionLines(*content, section) : QList<std::pair<int, QByteArray>>();
}

void PutIniSection(const QString& fileName, const QString& section,
                   const QList<QByteArray>& lines) {
    PutIniSections(fileName, {{section, lines}});
}

void PutIniSections(const QString& fileName,
                    const QList<std::pair<QString, QList<QByteArray>>>& sections) {
    const QString path = ResolveFileName(fileName);
    const std::optional<std::optional<QByteArray>> old = ReadForRewrite(path);
    if (!old) {
        return;  // unreadable
    }
    QByteArray out = old->value_or(QByteArray());
    for (const auto& [section, lines] : sections) {
        out = WithSection(out, section, lines);
    }
    // No file is made to hold nothing.
    if (old->has_value() || !out.isEmpty()) {
        Replace(path, out, *old);
    }
}

QString IniFilePath() {
    return Mod_Diskinfo::StripTrailingBackslash(Program().folder) + Platform::Files::kSeparator +
           Program().baseName + QStringLiteral(".ini");
}

}  // namespace Mod_INI
