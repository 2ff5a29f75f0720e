#pragma once

#include <QString>
#include <vector>

namespace Language {

// A text a person reads that a script reads too, such as a problem: kept as its English source
// and its arguments, so that the window shows it in the program's language while the API and MQTT
// send it in English. Its source is one of the "Problems" context's texts, marked for translation
// where it is written: Text(QT_TRANSLATE_NOOP("Problems", "%1 is not a date"), {word}).
class Text {
public:
    Text() = default;
    Text(const char* source, std::vector<Text> args);
    // Words that are never translated: a file name, a line of the settings file, a server's
    // own reason.
    Text(QString plain);  // NOLINT(google-explicit-constructor): names and numbers pass as they are

    bool IsEmpty() const;
    QString English() const;
    QString Shown() const;

    bool operator==(const Text& other) const;

private:
    QString Fill(QString pattern, bool shown) const;

    const char* source_ = nullptr;
    QString plain_;
    std::vector<Text> args_;
};

}  // namespace Language
