#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

// The text of a settings file: its kinds of line, and the text with a value or a section changed.
// Bytes in, bytes out: reading and replacing the file is left to the caller.
namespace Mod_INI {

enum class LineKind { Comment, Header, Other };
LineKind ClassifyLine(QByteArrayView line);
QByteArray HeaderName(QByteArrayView headerLine);
// Lines end at CR, CR LF or a lone LF; the last line needs no end.
QList<QByteArray> SplitLines(const QByteArray& content);

// The value of the first line of `key` in `section` (a pattern; "" searches the whole text).
std::optional<QString> ValueIn(const QByteArray& content, const QString& key,
                               const QString& section);
// `content` with `key` set to `value` in `section`: every matching line in scope replaced, or one
// line added at the end of the section (after a new header when there is none). Every line of
// the result ends in CR LF.
QByteArray WithValue(const QByteArray& content, const QString& key, const QString& value,
                     const QString& section);

// The lines of `section` (its name compared without case) that are neither comments nor blank,
// with their line numbers from 1.
QList<std::pair<int, QByteArray>> SectionLines(const QByteArray& content, const QString& section);
// `content` with every line of `section` but its comments replaced by `lines`, or the section
// added at the end when there is none.
QByteArray WithSection(const QByteArray& content, const QString& section,
                       const QList<QByteArray>& lines);

}  // namespace Mod_INI
