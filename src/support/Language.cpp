#include "support/Language.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTranslator>
#include <map>
#include <memory>

namespace Language {

namespace {

QString& Installed() {
    static QString language = QStringLiteral("en");
    return language;
}

// One translator per language, loaded the first time it is asked for and kept: the web remote
// may answer browsers in several languages during one run. Null when the language has no
// translation that can be read.
QTranslator* TranslatorFor(const QString& language) {
    static std::map<QString, std::unique_ptr<QTranslator>> translators;
    auto found = translators.find(language);
    if (found == translators.end()) {
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(QStringLiteral(":/translations/corvane_") + language)) {
            translator.reset();
        }
        found = translators.emplace(language, std::move(translator)).first;
    }
    return found->second.get();
}

// "de-CH", "de_DE.UTF-8" and "DE" are all German.
QString CodeOf(const QString& name) {
    return name.left(name.indexOf(QRegularExpression(QStringLiteral("[-_.@]")))).toLower();
}

}  // namespace

const QStringList& Translated() {
    static const QStringList languages{QStringLiteral("de"), QStringLiteral("fr"),
                                       QStringLiteral("es"), QStringLiteral("it"),
                                       QStringLiteral("nl")};
    return languages;
}

QString FirstKnown(const QStringList& wanted) {
    for (const QString& name : wanted) {
        const QString code = CodeOf(name.trimmed());
        if (code == u"en" || code == u"c" || Translated().contains(code)) {
            return code == u"c" ? QStringLiteral("en") : code;
        }
    }
    return {};
}

QString Choose(const QString& setting, const QLocale& system) {
    const QString chosen = FirstKnown({setting});
    if (!chosen.isEmpty()) {
        return chosen;
    }
    // The C locale reads as English with no languages of its own.
    if (system.language() == QLocale::C) {
        return QStringLiteral("en");
    }
    const QString found = FirstKnown(system.uiLanguages());
    return found.isEmpty() ? QStringLiteral("en") : found;
}

QString Install(QCoreApplication& application, const QString& language) {
    // Only one language at a time: a text the new one lacks must not come from the last.
    static QTranslator qtTranslator;
    application.removeTranslator(&qtTranslator);
    if (Installed() != u"en") {
        application.removeTranslator(TranslatorFor(Installed()));
    }
    QTranslator* translator = language == u"en" ? nullptr : TranslatorFor(language);
    if (translator == nullptr) {
        QLocale::setDefault(QLocale::system());
        Installed() = QStringLiteral("en");
        return Installed();
    }
    application.installTranslator(translator);
    if (qtTranslator.load(QStringLiteral("qtbase_") + language,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        application.installTranslator(&qtTranslator);
    }
    // The system's own locale keeps its country's formats when it speaks the language chosen.
    if (CodeOf(QLocale::system().name()) != language) {
        QLocale::setDefault(QLocale(language));
    }
    Installed() = language;
    return language;
}

QString NativeName(const QString& language) {
    // Qt's own names add the country where a language has several ("español de España").
    static const QHash<QString, QString> names{
        {QStringLiteral("en"), QStringLiteral("English")},
        {QStringLiteral("de"), QStringLiteral("Deutsch")},
        {QStringLiteral("fr"), QStringLiteral("Français")},
        {QStringLiteral("es"), QStringLiteral("Español")},
        {QStringLiteral("it"), QStringLiteral("Italiano")},
        {QStringLiteral("nl"), QStringLiteral("Nederlands")}};
    return names.value(language, language);
}

QString Current() {
    return Installed();
}

QString Translate(const QString& language, const char* context, const char* source) {
    if (language != u"en") {
        if (const QTranslator* translator = TranslatorFor(language)) {
            const QString text = translator->translate(context, source);
            if (!text.isEmpty()) {
                return text;
            }
        }
    }
    return QString::fromUtf8(source);
}

bool IsEnglish() {
    return Installed() == u"en";
}

}  // namespace Language
