#pragma once

// The language people read the program in. The program's own texts are English in the source and
// translated at run time by Qt's translators, built into the program; Qt's own texts (dialog
// buttons, "Usage:") come from Qt's translations installed beside it. Whatever a script reads (the
// API, MQTT, the play log, the settings file, log lines) stays English.

#include <QString>
#include <QStringList>

class QCoreApplication;
class QLocale;

namespace Language {

// The languages the program is translated into, besides English, by their codes ("de").
const QStringList& Translated();

// The language to use: "en" or one of Translated(). `setting` is the settings file's choice ("de",
// "en", or empty for the system's); the system's is the first of its languages, as Qt reads them,
// that the program has, English included.
QString Choose(const QString& setting, const QLocale& system);

// The first of `wanted` (codes or locale names, best first) that the program has, or an empty
// string when none is. English counts as one the program has.
QString FirstKnown(const QStringList& wanted);

// Installs the program's and Qt's translators for `language` on the application, and makes that
// language's locale the default for formats. Returns the language installed ("en" when there is
// nothing to install, or the translation cannot be read).
QString Install(QCoreApplication& application, const QString& language);

// A language's name in itself ("Deutsch"), for a choice that someone who cannot read the language
// shown can still find.
QString NativeName(const QString& language);

// The language installed, "en" before any.
QString Current();

// `source` in `context` translated into `language`, which need not be the one installed: the web
// remote answers each browser in its own. English, or a text without a translation, comes back as
// it is.
QString Translate(const QString& language, const char* context, const char* source);

// True when the texts shown to people are English: times and dates then keep the program's fixed
// formats rather than the locale's.
bool IsEnglish();

}  // namespace Language
