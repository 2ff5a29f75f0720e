// The two wildcard matchers against small reference matchers that try every way a pattern can
// take its text: the file-name wildcards ("*", "?", case ignored) and the settings file's section
// patterns ("*", "?", "#", "[list]", "[!list]", ranges).
// Input: pattern, a NUL byte, text; either kind of match is tried on the same input.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>

#include "platform/files.h"
#include "settings/LikePattern.h"

namespace {

// Whether pattern[p..] takes text[t..], trying every split at each "*", remembered per position.
template <typename Step>
bool Reference(qsizetype patternSize, qsizetype textSize, const Step& step) {
    std::map<std::pair<qsizetype, qsizetype>, bool> memo;
    std::function<bool(qsizetype, qsizetype)> match = [&](qsizetype p, qsizetype t) {
        if (p == patternSize) {
            return t == textSize;
        }
        const auto key = std::make_pair(p, t);
        if (const auto found = memo.find(key); found != memo.end()) {
            return found->second;
        }
        bool result = false;
        qsizetype next = 0;                 // where the pattern goes on after one character
        const int kind = step(p, t, next);  // 0: no match, 1: one character, 2: star, 3: nothing
        if (kind == 2) {
            result = match(p + 1, t) || (t < textSize && match(p, t + 1));
        } else if (kind == 3) {
            result = match(next, t);
        } else if (kind == 1) {
            result = match(next, t + 1);
        }
        memo[key] = result;
        return result;
    };
    return match(0, 0);
}

bool ReferenceWildcard(const QString& pattern, const QString& name) {
    return Reference(pattern.size(), name.size(), [&](qsizetype p, qsizetype t, qsizetype& next) {
        next = p + 1;
        if (pattern[p] == u'*') {
            return 2;
        }
        return t < name.size() &&
                       (pattern[p] == u'?' || pattern[p].toCaseFolded() == name[t].toCaseFolded())
                   ? 1
                   : 0;
    });
}

bool ReferenceLike(const QByteArray& pattern, const QByteArray& text) {
    return Reference(pattern.size(), text.size(), [&](qsizetype p, qsizetype t, qsizetype& next) {
        const char c = pattern[p];
        next = p + 1;
        if (c == '*') {
            return 2;
        }
        if (c == '[') {
            const qsizetype close = pattern.indexOf(']', p + 1);
            if (close > p) {
                QByteArray body = pattern.mid(p + 1, close - p - 1);
                next = close + 1;
                if (body.isEmpty()) {
                    return 3;  // "[]" stands for nothing
                }
                const bool negate = body[0] == '!';
                body = negate ? body.mid(1) : body;
                if (t >= text.size()) {
                    return 0;
                }
                const auto ch = static_cast<unsigned char>(text[t]);
                bool member = false;
                for (qsizetype k = 0; k < body.size(); ++k) {
                    if (k + 2 < body.size() && body[k + 1] == '-') {
                        member |= ch >= static_cast<unsigned char>(body[k]) &&
                                  ch <= static_cast<unsigned char>(body[k + 2]);
                        k += 2;
                    } else {
                        member |= ch == static_cast<unsigned char>(body[k]);
                    }
                }
                return member != negate ? 1 : 0;
            }
        }
        if (t >= text.size()) {
            return 0;
        }
        if (c == '?') {
            return 1;
        }
        if (c == '#') {
            return text[t] >= '0' && text[t] <= '9' ? 1 : 0;
        }
        return c == text[t] ? 1 : 0;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype cut = input.indexOf('\0');
    if (cut < 0 || input.size() > 200) {
        return 0;
    }
    const QByteArray pattern = input.left(cut);
    const QByteArray text = input.mid(cut + 1);
    if (Mod_INI::LikeMatch(text, pattern) != ReferenceLike(pattern, text)) {
        std::abort();
    }
    const QString wildcard = QString::fromUtf8(pattern);
    const QString name = QString::fromUtf8(text);
    if (Platform::Files::WildcardMatch(wildcard, name) != ReferenceWildcard(wildcard, name)) {
        std::abort();
    }
    return 0;
}
