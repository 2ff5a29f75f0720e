#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>

// The program's own reader and writer of a sectioned settings file of key lines ("key=value").
// Every call opens the file, does all its work and closes it again; nothing is cached. The text
// itself is read and edited by IniLines, section names matched as LikePattern says.
namespace Mod_INI {

// The key's value in `section` (a pattern; "" searches the whole file), or `defaultValue` when
// the key is absent or the file cannot be read.
QString GetIniValue(const QString& fileName, const QString& key, const QString& defaultValue = {},
                    const QString& section = {});

// Stores `value` for `key`: every matching line in scope is replaced, or one line is added. The
// file is replaced atomically; when it cannot be read or written it is left as it was.
void PutIniValue(const QString& fileName, const QString& key, const QString& value,
                 const QString& section = {});

// Stores several values as PutIniValue would one after the other, with the same resulting bytes,
// in one replacement of the file: a program ended between two of them leaves no mix.
void PutIniValues(const QString& fileName, const QList<std::pair<QString, QString>>& values,
                  const QString& section = {});

// The lines of `section` (its name compared without case), with their line numbers from 1, as
// they stand: for sections whose lines are not "key=value" settings. Comments and blank lines are
// left out.
QList<std::pair<int, QByteArray>> GetIniSection(const QString& fileName, const QString& section);

// Replaces every line of `section` but its comments with `lines`, or adds the section at the end;
// the rest of the file stays byte for byte. Atomic as PutIniValues is.
void PutIniSection(const QString& fileName, const QString& section, const QList<QByteArray>& lines);

// Replaces several sections as PutIniSection would one after the other, with the same resulting
// bytes, in one replacement of the file: sections that belong together are never left half new.
void PutIniSections(const QString& fileName,
                    const QList<std::pair<QString, QList<QByteArray>>>& sections);

// The default settings file: beside the executable, named after it, with ".ini".
QString IniFilePath();

}  // namespace Mod_INI
