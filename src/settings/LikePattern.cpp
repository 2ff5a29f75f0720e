#include "settings/LikePattern.h"

#include <bitset>
#include <optional>
#include <vector>

namespace Mod_INI {

namespace {

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

// The token of a list's body, the text between "[" and "]".
Token SetToken(QByteArrayView body) {
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
    return token;
}

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
            const QByteArrayView body = pattern.sliced(i + 1, close - i - 1);
            i = close;
            if (!body.isEmpty()) {  // "[]" stands for nothing at all
                tokens.push_back(SetToken(body));
            }
        } else {
            tokens.emplace_back(Token::Literal, c);
        }
    }
    if (static_cast<qsizetype>(tokens.size() - stars) > longest) {
        return std::nullopt;
    }
    return tokens;
}

}  // namespace

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

}  // namespace Mod_INI
