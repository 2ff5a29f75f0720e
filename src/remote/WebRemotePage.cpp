// The web remote's page in the browser's language.

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <algorithm>

#include "remote/PageTexts.h"
#include "remote/WebRemote.h"
#include "support/Language.h"

// The page as written is English; in another language its texts' translations go with it, in the
// element the page reads them from, and it says its language.
QByteArray WebRemote::Page(const QString& language) {
    QFile file(QStringLiteral(":/remote/remote.html"));
    QByteArray html = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QJsonObject texts;
    for (const char* text : kPageTexts) {
        const QString source = QString::fromUtf8(text);
        const QString translation = Language::Translate(language, "WebRemote", text);
        if (translation != source) {
            texts.insert(source, translation);
        }
    }
    const QByteArray textsElement = R"(<script id="texts" type="application/json">)";
    html.replace(textsElement + "{}</script>", textsElement + ScriptJson(texts) + "</script>");
    html.replace(R"(<html lang="en">)", R"(<html lang=")" + language.toLatin1() + R"(">)");
    return html;
}

// Accept-Language is a list such as "fr-CH, fr;q=0.9, en;q=0.8, *;q=0.5": an entry without a q
// counts as 1, one of q=0 is refused, and one whose q cannot be read is left out. Entries of the
// same q keep their order.
QString WebRemote::PageLanguage(const QString& query, const QByteArray& acceptLanguage,
                                const QString& programLanguage) {
    const QString asked =
        Language::FirstKnown({QUrlQuery(query).queryItemValue(QStringLiteral("lang"))});
    if (!asked.isEmpty()) {
        return asked;
    }
    QList<std::pair<double, QString>> entries;
    for (const QByteArray& entry : acceptLanguage.split(',')) {
        const QList<QByteArray> parts = entry.split(';');
        double quality = 1;
        bool readable = true;
        for (const QByteArray& parameter : parts.mid(1)) {
            const QByteArray trimmed = parameter.trimmed().toLower();
            if (trimmed.startsWith("q=")) {
                quality = trimmed.mid(2).toDouble(&readable);
            }
        }
        if (readable && quality > 0 && quality <= 1) {
            entries.append({quality, QString::fromLatin1(parts.first().trimmed())});
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList wanted;
    for (const auto& [quality, name] : entries) {
        wanted.append(name);
    }
    const QString found = Language::FirstKnown(wanted);
    return found.isEmpty() ? programLanguage : found;
}

// A "<" can only be within a string of the JSON, where \u003c reads as the same character.
QByteArray WebRemote::ScriptJson(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).replace("<", "\\u003c");
}
