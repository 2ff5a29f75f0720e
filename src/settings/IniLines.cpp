#include "settings/IniLines.h"

#include "settings/LikePattern.h"

namespace Mod_INI {

namespace {

constexpr char kLineEnd[] = "\r\n";

QByteArray Encode(const QString& text) {
    return text.toLocal8Bit();
}

bool KeyMatches(QByteArrayView line, const QByteArray& upperKey) {
    const qsizetype eq = line.indexOf('=');
    return eq >= 0 && line.first(eq).toByteArray().toUpper() == upperKey;
}

bool IsSection(const QByteArray& line, const QString& section) {
    return ClassifyLine(line) == LineKind::Header &&
           QString::fromLocal8Bit(HeaderName(line.trimmed()))
                   .compare(section, Qt::CaseInsensitive) == 0;
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

std::optional<QString> ValueIn(const QByteArray& content, const QString& key,
                               const QString& section) {
    const QByteArray wantedSection = Encode(section);
    const QByteArray upperKey = Encode(key).toUpper();
    bool inScope = section.isEmpty();
    for (const QByteArray& line : SplitLines(content)) {
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
    return std::nullopt;
}

QByteArray WithValue(const QByteArray& content, const QString& key, const QString& value,
                     const QString& section) {
    const QByteArray sectionPattern = Encode(section);
    const QByteArray newLine = Encode(key) + '=' + Encode(value);
    const QByteArray upperKey = Encode(key).toUpper();
    QByteArray out;
    bool written = false;
    bool sectionSeen = false;
    bool inScope = false;
    // The lines before the first header are in a section of no name.
    bool nameMatches = LikeMatch(QByteArray(), sectionPattern);
    for (QByteArray& line : SplitLines(content)) {
        const LineKind kind = ClassifyLine(line);
        if (kind != LineKind::Comment) {
            if (kind == LineKind::Header) {
                if (inScope && !written) {
                    out += newLine + kLineEnd;
                    written = true;
                }
                nameMatches = LikeMatch(HeaderName(line), sectionPattern);
            }
            inScope = nameMatches || section.isEmpty();
            if (inScope && KeyMatches(line, upperKey)) {
                line = newLine;
                written = true;
            }
        }
        out += line + kLineEnd;
        sectionSeen = sectionSeen || inScope;
    }
    if (!written) {
        if (!sectionSeen && !section.isEmpty()) {
            out += '[' + sectionPattern + ']' + kLineEnd;
        }
        out += newLine + kLineEnd;
    }
    return out;
}

QList<std::pair<int, QByteArray>> SectionLines(const QByteArray& content, const QString& section) {
    QList<std::pair<int, QByteArray>> found;
    bool inScope = false;
    int number = 0;
    for (const QByteArray& line : SplitLines(content)) {
        ++number;
        const LineKind kind = ClassifyLine(line);
        if (kind == LineKind::Header) {
            inScope = IsSection(line, section);
        } else if (inScope && kind == LineKind::Other && !line.trimmed().isEmpty()) {
            found.append({number, line});
        }
    }
    return found;
}

QByteArray WithSection(const QByteArray& content, const QString& section,
                       const QList<QByteArray>& lines) {
    QByteArray body;
    for (const QByteArray& line : lines) {
        body += line + kLineEnd;
    }
    QByteArray out;
    bool inScope = false;
    bool written = false;
    for (const QByteArray& line : SplitLines(content)) {
        const LineKind kind = ClassifyLine(line);
        if (kind == LineKind::Header) {
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
        if (!inScope || kind == LineKind::Comment) {
            out += line + kLineEnd;
        }
    }
    if (!written && !lines.isEmpty()) {
        out += '[' + Encode(section) + ']' + kLineEnd + body;
    }
    return out;
}

}  // namespace Mod_INI
