#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>

#include "plays/PlaysDatabase.h"

// The counts of a report as a file to hand on: CSV for a spreadsheet, or one HTML page with the
// table and a bar chart that needs nothing else to show, on a phone too.
namespace Report {

struct Heading {
    PlaysDatabase::By by = PlaysDatabase::By::File;
    QDate from;
    QDate to;
};

// key,plays,seconds; the seconds with two decimals; quoted as RFC 4180 has it.
QByteArray Csv(const QList<PlaysDatabase::Count>& counts);
QByteArray Html(const Heading& heading, const QList<PlaysDatabase::Count>& counts);
// A field quoted when it holds a comma, a quote or a line break, its quotes doubled.
QByteArray CsvField(const QString& text);

}  // namespace Report
