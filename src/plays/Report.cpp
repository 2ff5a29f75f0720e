#include "plays/Report.h"

#include <algorithm>

namespace {

QString ByWord(PlaysDatabase::By by) {
    switch (by) {
        case PlaysDatabase::By::Zone:
            return QStringLiteral("shop and zone");
        case PlaysDatabase::By::Day:
            return QStringLiteral("day");
        case PlaysDatabase::By::File:
            break;
    }
    return QStringLiteral("announcement");
}

QString Seconds(double seconds) {
    return QString::number(seconds, 'f', 2);
}

// m:ss, or h:mm:ss from an hour on, for people; the CSV keeps the plain number.
QString Duration(double seconds) {
    const auto whole = static_cast<qint64>(seconds + 0.5);
    const QString minutesSeconds =
        QStringLiteral("%1:%2")
            .arg(whole / 60 % 60, whole < 3600 ? 1 : 2, 10, QLatin1Char('0'))
            .arg(whole % 60, 2, 10, QLatin1Char('0'));
    return whole < 3600 ? minutesSeconds : QString::number(whole / 3600) + u':' + minutesSeconds;
}

// SVG text does not wrap: a long name is cut to what a phone's width shows.
QString Label(const QString& key) {
    constexpr qsizetype kLongest = 52;
    return key.size() <= kLongest ? key : key.left(kLongest - 1) + QChar(0x2026);
}

// One bar a line, as long as its count against the largest; the labels sit above the bars so
// that long file names fit a phone's width.
QString Chart(const QList<PlaysDatabase::Count>& counts) {
    const qint64 most = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                            return a.plays < b.plays;
                        })->plays;
    constexpr int kLine = 34;
    QString svg = QStringLiteral(
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 400 %1\" "
                      "role=\"img\" aria-label=\"plays\">\n")
                      .arg(counts.size() * kLine);
    for (qsizetype i = 0; i < counts.size(); ++i) {
        const int y = static_cast<int>(i) * kLine;
        const double width =
            340.0 * static_cast<double>(counts[i].plays) / static_cast<double>(most);
        svg += QStringLiteral(
                   "<text x=\"0\" y=\"%1\">%2</text>"
                   "<rect x=\"0\" y=\"%3\" width=\"%4\" height=\"14\" rx=\"2\"/>"
                   "<text x=\"%5\" y=\"%6\" class=\"n\">%7</text>\n")
                   .arg(y + 12)
                   .arg(Label(counts[i].key).toHtmlEscaped())
                   .arg(y + 16)
                   .arg(std::max(width, 1.0), 0, 'f', 1)
                   .arg(std::max(width, 1.0) + 6, 0, 'f', 1)
                   .arg(y + 28)
                   .arg(counts[i].plays);
    }
    return svg + QStringLiteral("</svg>\n");
}

constexpr const char* kStyle =
    "body{font:15px/1.4 system-ui,sans-serif;margin:1em auto;max-width:40em;padding:0 1em;"
    "color:#222}h1{font-size:1.3em;margin-bottom:.2em}p{color:#555;margin-top:0}"
    "table{border-collapse:collapse;width:100%;margin:1em 0}th,td{padding:.35em .5em;"
    "border-bottom:1px solid #ddd;text-align:left;word-break:break-word}"
    "th:first-child,td:first-child{padding-left:0}td.n,th.n{text-align:right;white-space:nowrap}"
    "svg{width:100%;height:auto}"
    "svg text{font:12px system-ui,sans-serif;fill:#222}svg text.n{fill:#555}"
    "svg rect{fill:#2f6f9f}";

}  // namespace

QByteArray Report::CsvField(const QString& text) {
    QByteArray field = text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') ||
        field.contains('\r')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

QByteArray Report::Csv(const QList<PlaysDatabase::Count>& counts) {
    QByteArray csv = "key,plays,seconds\n";
    for (const PlaysDatabase::Count& count : counts) {
        csv += CsvField(count.key) + ',' + QByteArray::number(count.plays) + ',' +
               Seconds(count.seconds).toLatin1() + '\n';
    }
    return csv;
}

QByteArray Report::Html(const Heading& heading, const QList<PlaysDatabase::Count>& counts) {
    const QString range =
        QStringLiteral("%1 to %2")
            .arg(heading.from.toString(Qt::ISODate), heading.to.toString(Qt::ISODate));
    const QString title = QStringLiteral("Plays by %1").arg(ByWord(heading.by));
    qint64 plays = 0;
    double seconds = 0;
    QString rows;
    for (const PlaysDatabase::Count& count : counts) {
        plays += count.plays;
        seconds += count.seconds;
        rows +=
            QStringLiteral("<tr><td>%1</td><td class=\"n\">%2</td><td class=\"n\">%3</td></tr>\n")
                .arg(count.key.toHtmlEscaped())
                .arg(count.plays)
                .arg(Duration(count.seconds));
    }
    QString html = QStringLiteral(
                       "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
                       "<title>%1, %2</title><style>%3</style></head><body>\n<h1>%1</h1>\n")
                       .arg(title.toHtmlEscaped(), range, QLatin1String(kStyle));
    html += QStringLiteral("<p>%1. Announcements played to their end: %2 plays, %3 of sound.</p>\n")
                .arg(range)
                .arg(plays)
                .arg(Duration(seconds));
    if (counts.isEmpty()) {
        html += QStringLiteral("<p>Nothing was played in these days.</p>\n");
    } else {
        html += Chart(counts);
        html += QStringLiteral(
                    "<table><thead><tr><th>%1</th><th class=\"n\">Plays</th>"
                    "<th class=\"n\">Time</th></tr></thead><tbody>\n%2</tbody></table>\n")
                    .arg(ByWord(heading.by).left(1).toUpper() + ByWord(heading.by).mid(1), rows);
    }
    return (html + QStringLiteral("</body></html>\n")).toUtf8();
}
