#include "settings/Mod_INI.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <bitset>
#include <optional>
#include <vector>

#include "platform/files.h"
#include "support/Mod_Diskinfo.h"
#include "support/ProgramLocation.h"

namespace Mod_INI {

namespace {

Q_LOGGING_CATEGORY(lcSettings, "corvane.settings")

struct Token {
    enum Kind { Star, Any, Digit, Set, Literal };
    explicit Token(Kind k, char c = 0) : kind(k), literal(c) {}

    Kind kind;
    char literal;
    std::bitset<256> set;  // for Set: the characters, ranges included
    bool negate = false;

    bool Matches(char c) const {
        switch (kind) {
            case Any:
                return true;
            case Digit:
                return c >= '0' && c <= '9';
            case Set:
                return set.test(static_cast<unsigned char>(c)) != negate;
            case Literal:
                return c == literal;
            case Star:
                break;
        }
        return false;
    }
};

// The tokens of a pattern, or nothing when the pattern needs more than `longest` characters: no
// text that long is being matched, and a hostile header of millions of tokens is never built.
std::optional<std::vector<Token>> ParsePattern(QByteArrayView pattern, qsizetype longest) {
    std::vector<Token> tokens;
    std::size_t stars = 0;
    qsizetype close = -1;  // the next "]" at or after the position looked from, -2 for none
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (static_cast<qsizetype>(tokens.size() - stars) > longest) {
            return std::nullopt;  // every token but "*" takes one character
        }
        const char c = pattern[i];
        if (c == '[' && close != -2 && close <= i) {
            close = pattern.indexOf(']', i + 1);  // each "]" is searched for once
            close = close < 0 ? -2 : close;
        }
        if (c == '*') {
            if (tokens.empty() || tokens.back().kind != Token::Star) {
                tokens.emplace_back(Token::Star);
                ++stars;
            }
        } else if (c == '?') {
            tokens.emplace_back(Token::Any);
        } else if (c == '#') {
            tokens.emplace_back(Token::Digit);
        } else if (c == '[' && close > i) {
            QByteArrayView body = pattern.sliced(i + 1, close - i - 1);
            i = close;
            if (body.isEmpty()) {
                continue;  // "[]" stands for nothing at all
            }
            Token token(Token::Set);
            if (body.front() == '!') {
                token.negate = true;
                body = body.sliced(1);
            }
            for (qsizetype k = 0; k < body.size(); ++k) {
                if (k + 2 < body.size() && body[k + 1] == '-') {
                    const auto from = static_cast<unsigned char>(body[k]);
                    const auto to = static_cast<unsigned char>(body[k + 2]);
                    for (unsigned v = from; v <= to; ++v) {
                        token.set.set(v);
                    }
                    k += 2;
                } else {
                    token.set.set(static_cast<unsigned char>(body[k]));
                }
            }
            tokens.push_back(token);
        } else {
            tokens.emplace_back(Token::Literal, c);
        }
    }
    if (static_cast<qsizetype>(tokens.size() - stars) > longest) {
        return std::nullopt;
    }
    return tokens;
}

bool IsComment(QByteArrayView line) {
    return ClassifyLine(line) == LineKind::Comment;
}

// The key of a key line (everything before the first "="), or nothing for a line without "=".
std::optional<QByteArrayView> KeyOf(QByteArrayView line) {
    const qsizetype eq = line.indexOf('=');
    if (eq < 0) {
        return std::nullopt;
    }
    return line.first(eq);
}

bool KeyMatches(QByteArrayView line, const QByteArray& upperKey) {
    const auto key = KeyOf(line);
    return key && key->toByteArray().toUpper() == upperKey;
}

QByteArray Encode(const QString& text) {
    return text.toLocal8Bit();
}

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

// The file's lines with `key` set to `value` in `section`: every matching line in scope replaced,
// or one line added at the end of the section (after a new header when there is none).
QByteArray WithValue(QList<QByteArray> lines, const QString& key, const QString& value,
                     const QString& section) {
    const QByteArray sectionPattern = Encode(section);
    const QByteArray newLine = Encode(key) + '=' + Encode(value);
    const QByteArray upperKey = Encode(key).toUpper();
    static constexpr char kLineEnd[] = "\r\n";

    QByteArray out;
    bool written = false;
    bool sectionSeen = false;
    bool inScope = false;
    QByteArray currentName;
    for (QByteArray& line : lines) {
        if (!IsComment(line)) {
            if (ClassifyLine(line) == LineKind::Header) {
                if (inScope && !written) {
                    out += newLine + kLineEnd;
                    written = true;
                }
                currentName = HeaderName(line);
            }
            const bool nameMatches = LikeMatch(currentName, sectionPattern);
            inScope = nameMatches || section.isEmpty();
            if (nameMatches && !section.isEmpty()) {
                sectionSeen = true;
            }
            if (inScope && KeyMatches(line, upperKey)) {
                line = newLine;
                written = true;
            }
        }
        out += line + kLineEnd;
        if (inScope) {
            sectionSeen = true;
        }
    }
    if (!written) {
        if (!sectionSeen && !section.isEmpty()) {
            out += '[' + sectionPattern + ']' + kLineEnd;
        }
        out += newLine + kLineEnd;
    }
    return out;
}

}  // namespace

LineKind ClassifyLine(QByteArrayView line) {
    if ((line.size() >= 3 && line.first(3).toByteArray().toUpper() == "REM") ||
        line.startsWith('\'')) {
        return LineKind::Comment;
    }
    if (line.startsWith('[')) {
        return LineKind::Header;
    }
    return LineKind::Other;
}

QByteArray HeaderName(QByteArrayView headerLine) {
    // "[" alone names the empty section.
    return headerLine.size() < 2 ? QByteArray()
                                 : headerLine.sliced(1, headerLine.size() - 2).toByteArray();
}

bool LikeMatch(QByteArrayView text, QByteArrayView pattern) {
    const std::optional<std::vector<Token>> parsed = ParsePattern(pattern, text.size());
    if (!parsed) {
        return false;
    }
    const std::vector<Token>& tokens = *parsed;
    // Every token but "*" takes exactly one character, so one back-tracking point suffices.
    std::size_t t = 0;
    qsizetype n = 0;
    std::optional<std::size_t> starToken;
    qsizetype starText = 0;
    while (n < text.size()) {
        if (t < tokens.size() && tokens[t].kind == Token::Star) {
            starToken = t++;
            starText = n;
        } else if (t < tokens.size() && tokens[t].Matches(text[n])) {
            ++t;
            ++n;
        } else if (starToken) {
            t = *starToken + 1;
            n = ++starText;
        } else {
            return false;
        }
    }
    while (t < tokens.size() && tokens[t].kind == Token::Star) {
        ++t;
    }
    return t == tokens.size();
}

QList<QByteArray> SplitLines(const QByteArray& content) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c == '\r' || c == '\n') {
            lines.append(content.sliced(start, i - start));
            if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < content.size()) {
        lines.append(content.sliced(start));
    }
    return lines;
}

QString GetIniValue(const QString& fileName, const QString& key, const QString& defaultValue,
                    const QString& section) {
    const QString path = ResolveFileName(fileName);
    if (!FileExists(path)) {
        return defaultValue;
    }
    const std::optional<QByteArray> content = ReadWhole(path);
    if (!content) {
        return defaultValue;
    }
    const QByteArray wantedSection = Encode(section);
    const QByteArray upperKey = Encode(key).toUpper();
    bool inScope = section.isEmpty();
    for (const QByteArray& line : SplitLines(*content)) {
        switch (ClassifyLine(line)) {
            case LineKind::Comment:
                break;
            case LineKind::Header:
                inScope = section.isEmpty() || LikeMatch(wantedSection, HeaderName(line));
                break;
            case LineKind::Other:
                if (inScope && KeyMatches(line, upperKey)) {
                    return QString::fromLocal8Bit(line.sliced(line.indexOf('=') + 1));
                }
                break;
        }
    }
    return defaultValue;
}

void PutIniValue(const QString& fileName, const QString& key, const QString& value,
                 const QString& section) {
    PutIniValues(fileName, {{key, value}}, section);
}

namespace {

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

void Replace(const QString& path, const QByteArray& out, const std::optional<QByteArray>& old) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        // No temporary file can be made beside it: a folder that may not be written, holding a
        // file that may, as an administrator may set it up.
        if (old) {
            WriteInPlace(path, out, *old);
        } else {
            qCWarning(lcSettings, "%s could not be made: %s", qPrintable(path),
                      qPrintable(file.errorString()));
        }
        return;
    }
    // QSaveFile buffers what it is given; a failure while the buffer goes to disk (a full disk)
    // shows only in flush(), and commit() would still put the cut-short file in place.
    if (file.write(out) != out.size() || !file.flush()) {
        file.cancelWriting();
    }
    if (!file.commit()) {
        qCWarning(lcSettings, "%s could not be written: %s", qPrintable(path),
                  qPrintable(file.errorString()));
    }
}

bool IsSection(const QByteArray& line, const QString& section) {
    return ClassifyLine(line) == LineKind::Header &&
           QString::fromLocal8Bit(HeaderName(line.trimmed()))
                   .compare(section, Qt::CaseInsensitive) == 0;
}

}  // namespace

void PutIniValues(const QString& fileName, const QList<std::pair<QString, QString>>& values,
                  const QString& section) {
    const QString path = ResolveFileName(fileName);
    const std::optional<std::optional<QByteArray>> old = ReadForRewrite(path);
    if (!old) {
        return;
    }
    QByteArray out = old->value_or(QByteArray());
    for (const auto& [key, value] : values) {
        out = WithValue(SplitLines(out), key, value, section);
    }
    Replace(path, out, *old);
}

QList<std::pair<int, QByteArray>> GetIniSection(const QString& fileName, const QString& section) {
    const QString path = ResolveFileName(fileName);
    const std::optional<QByteArray> content = FileExists(path) ? ReadWhole(path) : std::nullopt;
    QList<std::pair<int, QByteArray>> found;
    if (!content) {
        return found;
    }
    bool inScope = false;
    int number = 0;
    for (const QByteArray& line : SplitLines(*content)) {
        ++number;
        if (ClassifyLine(line) == LineKind::Header) {
            inScope = IsSection(line, section);
        } else if (inScope && ClassifyLine(line) == LineKind::Other && !line.trimmed().isEmpty()) {
            found.append({number, line});
        }
    }
    return found;
}

void PutIniSection(const QString& fileName, const QString& section,
                   const QList<QByteArray>& lines) {
    const QString path = ResolveFileName(fileName);
    const std::optional<std::optional<QByteArray>> old = ReadForRewrite(path);
    if (!old) {
        return;
    }
    if (!old->has_value() && lines.isEmpty()) {
        return;  // nothing to keep, and no file to make for it
    }
    static constexpr char kLineEnd[] = "\r\n";
    QByteArray body;
    for (const QByteArray& line : lines) {
        body += line + kLineEnd;
    }
    QByteArray out;
    bool inScope = false;
    bool written = false;
    for (const QByteArray& line : SplitLines(old->value_or(QByteArray()))) {
        if (ClassifyLine(line) == LineKind::Header) {
            inScope = IsSection(line, section);
            if (inScope && std::exchange(written, true)) {
                continue;  // a second header of the section: its lines went with the first
            }
            out += line + kLineEnd;
            if (inScope) {
                out += body;
            }
            continue;
        }
        // Comments in the section stay; its settings are the new ones.
        if (!inScope || ClassifyLine(line) == LineKind::Comment) {
            out += line + kLineEnd;
        }
    }
    if (!written && !lines.isEmpty()) {
        out += '[' + Encode(section) + ']' + kLineEnd + body;
    }
    Replace(path, out, *old);
}

QString IniFilePath() {
    return Mod_Diskinfo::StripTrailingBackslash(Program().folder) + Platform::Files::kSeparator +
           Program().baseName + QStringLiteral(".ini");
}

}  // namespace Mod_INI
