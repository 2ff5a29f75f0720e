#include "support/Text.h"

#include <QCoreApplication>

namespace Language {

Text::Text(const char* source, std::vector<Text> args) : source_(source), args_(std::move(args)) {}

Text::Text(QString plain) : plain_(std::move(plain)) {}

bool Text::IsEmpty() const {
    return source_ == nullptr && plain_.isEmpty();
}

QString Text::English() const {
    return source_ == nullptr ? plain_ : Fill(QString::fromUtf8(source_), false);
}

QString Text::Shown() const {
    return source_ == nullptr ? plain_
                              : Fill(QCoreApplication::translate("Problems", source_), true);
}

bool Text::operator==(const Text& other) const {
    return English() == other.English();
}

// %1 to %9 filled in one pass, so that an argument that holds "%2" (a file's name may) is never
// filled again.
QString Text::Fill(QString pattern, bool shown) const {
    QString result;
    result.reserve(pattern.size());
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == u'%' && i + 1 < pattern.size() && pattern.at(i + 1) >= u'1' &&
            pattern.at(i + 1) <= u'9') {
            const auto index = static_cast<std::size_t>(pattern.at(i + 1).unicode() - u'1');
            if (index < args_.size()) {
                result += shown ? args_[index].Shown() : args_[index].English();
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}

}  // namespace Language
