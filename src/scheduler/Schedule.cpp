#include "scheduler/Schedule.h"

#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <variant>

#include "platform/mci/playlist.h"

namespace Schedule {

using Language::Text;

namespace {

const char* const kDateFormat = "yyyy-MM-dd";

// What is wrong with a value, for the warning that names its line.
struct Wrong {
    Text why;
};

template <typename T>
using Read = std::variant<T, Wrong>;

}  // namespace

namespace {

// "H:MM" or "HH:MM"; "24:00" only as an end.
std::optional<int> ReadTime(const QString& text, bool end) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,2}):(\\d\\d)$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const int hours = match.captured(1).toInt();
    const int minutes = match.captured(2).toInt();
    if (minutes > 59 || hours > 24 || (hours == 24 && (minutes != 0 || !end))) {
        return std::nullopt;
    }
    return hours * 60 + minutes;
}

Wrong NotATime(const QString& text) {
    return {text.isEmpty() ? Text(QT_TRANSLATE_NOOP("Problems", "a time is missing"), {})
                           : Text(QT_TRANSLATE_NOOP("Problems", "%1 is not a time"), {text})};
}

// "08:00-12:30"; an end at or before the start runs past midnight.
Read<Range> ReadRange(const QString& text) {
    const QStringList ends = text.split(u'-');
    if (ends.size() != 2) {
        return Wrong{
            Text(QT_TRANSLATE_NOOP("Problems", "%1 is not a range of times"), {text.trimmed()})};
    }
    const QString from = ends[0].trimmed();
    const QString to = ends[1].trimmed();
    const std::optional<int> start = ReadTime(from, false);
    if (!start) {
        return NotATime(from);
    }
    const std::optional<int> end = ReadTime(to, true);
    if (!end) {
        return NotATime(to);
    }
    if (*start == *end % kMinutesPerDay) {
        return Wrong{
            Text(QT_TRANSLATE_NOOP("Problems", "the range %1 is empty"), {from + u'-' + to})};
    }
    return Range{*start, *end == 0 ? kMinutesPerDay : *end};  // "-00:00": to midnight
}

Read<QList<Range>> ReadRanges(const QString& text) {
    if (text.trimmed().compare(u"closed", Qt::CaseInsensitive) == 0) {
        return QList<Range>{};
    }
    QList<Range> ranges;
    for (const QString& item : text.split(u',')) {
        const Read<Range> range = ReadRange(item);
        if (const auto* wrong = std::get_if<Wrong>(&range)) {
            return *wrong;
        }
        ranges.append(std::get<Range>(range));
    }
    return ranges;
}

Read<QList<std::pair<QDate, QDate>>> ReadDates(const QString& text) {
    QList<std::pair<QDate, QDate>> dates;
    for (const QString& item : text.split(u',')) {
        const QStringList ends = item.split(QStringLiteral(".."));
        if (ends.size() > 2) {
            return Wrong{Text(QT_TRANSLATE_NOOP("Problems", "%1 is not a date"), {item.trimmed()})};
        }
        std::array<QDate, 2> read;
        for (int i = 0; i < 2; ++i) {
            const QString word = ends[std::min<qsizetype>(i, ends.size() - 1)].trimmed();
            read[i] = QDate::fromString(word, QString::fromLatin1(kDateFormat));
            if (!read[i].isValid()) {
                return Wrong{
                    Text(QT_TRANSLATE_NOOP("Problems", "%1 is not a date"),
                         {word.isEmpty() ? Text(QT_TRANSLATE_NOOP("Problems", "a date"), {})
                                         : Text(word)})};
            }
        }
        if (read[1] < read[0]) {
            return Wrong{
                Text(QT_TRANSLATE_NOOP("Problems", "the range %1 is empty"), {item.trimmed()})};
        }
        dates.append({read[0], read[1]});
    }
    return dates;
}

// "Mon-Fri", "Sat,Sun", "Fri-Mon" (round the end of the week); blanks ignored.
Read<DaySet> ReadDays(const QString& text) {
    DaySet days = 0;
    for (const QString& item : text.split(u',')) {
        const QStringList ends = item.split(u'-');
        std::array<int, 2> index{-1, -1};
        for (int i = 0; i < 2 && ends.size() <= 2; ++i) {
            const QString word = ends[std::min<qsizetype>(i, ends.size() - 1)].trimmed();
            index[i] = DayIndex(word);
            if (index[i] < 0) {
                return Wrong{Text(QT_TRANSLATE_NOOP("Problems", "%1 is not a day"),
                                  {word.isEmpty() ? Text(QT_TRANSLATE_NOOP("Problems", "a day"), {})
                                                  : Text(word)})};
            }
        }
        if (index[0] < 0) {
            return Wrong{
                Text(QT_TRANSLATE_NOOP("Problems", "%1 is not a range of days"), {item.trimmed()})};
        }
        for (int d = index[0];; d = (d + 1) % 7) {
            days |= 1U << d;
            if (d == index[1]) {
                break;
            }
        }
    }
    return days;
}

// A key's days or dates, and its time or range of times: the words from the first one with a ':'
// on ("Mon-Fri 07:00 - 11:00"). Where a time must be and no word has a ':', the last word is taken
// for it, so that "noon" is a time that is wrong rather than a day.
std::pair<QString, QString> SplitKey(const QString& key, bool needsTime) {
    const QString text = key.trimmed();
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0 && !needsTime) {
        return {text, QString()};
    }
    qsizetype from = colon < 0 ? text.size() : colon;
    while (from > 0 && !text[from - 1].isSpace()) {
        --from;
    }
    return {text.left(from).trimmed(), text.mid(from)};
}

// "19:45" or "Mon-Fri 12:00", as [Timed] and [Levels] have them.
Read<std::pair<DaySet, int>> ReadTimedKey(const QString& key) {
    const auto [dayWords, time] = SplitKey(key, true);
    const std::optional<int> minute = ReadTime(time, false);
    if (!minute) {
        return NotATime(time);
    }
    if (dayWords.isEmpty()) {
        return std::pair{kEveryDay, *minute};
    }
    const Read<DaySet> days = ReadDays(dayWords);
    if (const auto* wrong = std::get_if<Wrong>(&days)) {
        return *wrong;
    }
    return std::pair{std::get<DaySet>(days), *minute};
}

// "Mon-Fri 07:00-11:00", "Sat,Sun", "11:00-14:00", "2026-12-24 08:00-14:00",
// "2026-12-01..2026-12-24".
Read<When> ReadWhen(const QString& key) {
    const auto [dayWords, time] = SplitKey(key, false);
    if (dayWords.isEmpty() && time.isEmpty()) {
        return Wrong{Text(QT_TRANSLATE_NOOP("Problems", "it names no days, dates or times"), {})};
    }
    When when;
    if (!dayWords.isEmpty() && dayWords[0].isDigit()) {
        const Read<QList<std::pair<QDate, QDate>>> dates = ReadDates(dayWords);
        if (const auto* wrong = std::get_if<Wrong>(&dates)) {
            return *wrong;
        }
        if (std::get<0>(dates).size() != 1) {
            return Wrong{
                Text(QT_TRANSLATE_NOOP("Problems", "%1 is more than one date or range of dates"),
                     {dayWords})};
        }
        when.dates = std::get<0>(dates).first();
    } else if (!dayWords.isEmpty()) {
        const Read<DaySet> days = ReadDays(dayWords);
        if (const auto* wrong = std::get_if<Wrong>(&days)) {
            return *wrong;
        }
        when.days = std::get<DaySet>(days);
    }
    if (!time.isEmpty()) {
        const Read<Range> range = ReadRange(time);
        if (const auto* wrong = std::get_if<Wrong>(&range)) {
            return *wrong;
        }
        when.time = std::get<Range>(range);
    }
    return when;
}

// A subfolder of the music folder; a name that leads out of it is not one.
Read<QString> ReadFolderName(const QString& text) {
    const QString name = text.trimmed();
    if (name.isEmpty()) {
        return Wrong{Text(QT_TRANSLATE_NOOP("Problems", "it names no folder"), {})};
    }
    if (name.contains(u'/') || name.contains(u'\\') || name == u"." || name == u"..") {
        return Wrong{Text(
            QT_TRANSLATE_NOOP("Problems", "%1 is not the name of a folder in the music folder"),
            {name})};
    }
    return name;
}

// "0" to "100".
Read<int> ReadLevel(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^\\d{1,3}$"));
    const QString value = text.trimmed();
    if (!pattern.match(value).hasMatch() || value.toInt() > 100) {
        return Wrong{
            value.isEmpty()
                ? Text(QT_TRANSLATE_NOOP("Problems", "a level from 0 to 100 is missing"), {})
                : Text(QT_TRANSLATE_NOOP("Problems", "%1 is not a level from 0 to 100"), {value})};
    }
    return value.toInt();
}

template <typename T>
std::optional<Text> Problem(const Read<T>& read) {
    if (const auto* wrong = std::get_if<Wrong>(&read)) {
        return wrong->why;
    }
    return std::nullopt;
}

// Each "KEY=VALUE" line of a section to `apply`, which keeps it and gives nothing, or tells what
// is wrong with it; a line it cannot take is left out with a fault.
template <typename Apply>
void ReadSection(const Lines& lines, QList<Fault>& faults, Apply apply) {
    for (const auto& [number, line] : lines) {
        const qsizetype equals = line.indexOf('=');
        const std::optional<Text> wrong =
            equals < 0
                ? std::optional(Text(QT_TRANSLATE_NOOP("Problems", "it has no \"=\""), {}))
                : apply(number, line.trimmed(), QString::fromUtf8(line.left(equals)).trimmed(),
                        QString::fromUtf8(line.mid(equals + 1)).trimmed());
        if (wrong) {
            faults.append({number, line.trimmed(), *wrong});
        }
    }
}

// A [Schedule] line: a day's hours, or the dates it is closed.
std::optional<Text> TakeHours(Hours& hours, const QString& key, const QString& value) {
    if (key.compare(u"Closed", Qt::CaseInsensitive) == 0) {
        const Read<QList<std::pair<QDate, QDate>>> dates = ReadDates(value);
        if (const std::optional<Text> wrong = Problem(dates)) {
            return wrong;
        }
        hours.closed += std::get<0>(dates);
        return std::nullopt;
    }
    const int day = DayIndex(key);
    if (day < 0) {
        return Text(QT_TRANSLATE_NOOP("Problems", "%1 is not a day"), {key});
    }
    const Read<QList<Range>> ranges = ReadRanges(value);
    if (const std::optional<Text> wrong = Problem(ranges)) {
        return wrong;
    }
    hours.days[day] = std::get<0>(ranges);
    return std::nullopt;
}

// A [Timed] line, once its file is found.
std::optional<Text> TakeTimed(QList<Timed>& timed, const Locate& locate, int number,
                              const QByteArray& line, const QString& key, const QString& file) {
    const Read<std::pair<DaySet, int>> read = ReadTimedKey(key);
    if (const std::optional<Text> wrong = Problem(read)) {
        return wrong;
    }
    if (file.isEmpty()) {
        return Text(QT_TRANSLATE_NOOP("Problems", "it names no file"), {});
    }
    if (Platform::Mci::Playlist::IsPlaylist(file.toStdString())) {
        return Text(QT_TRANSLATE_NOOP("Problems", "a playlist plays only as music"), {});
    }
    const QString path = locate ? locate(file) : file;
    if (path.isEmpty()) {
        return Text(QT_TRANSLATE_NOOP("Problems", "there is no file %1"), {file});
    }
    const auto [days, minute] = std::get<0>(read);
    timed.append({days, minute, file, path, line, number});
    return std::nullopt;
}

// What the window shows of a problem.
std::optional<QString> Shown(const std::optional<Text>& wrong) {
    return wrong ? std::optional(wrong->Shown()) : std::nullopt;
}

}  // namespace

Plan Parse(const Sections& sections, const Locate& locate) {
    Plan plan;
    ReadSection(sections.schedule, plan.faults,
                [&](int, const QByteArray&, const QString& key, const QString& value) {
                    return TakeHours(plan.hours, key, value);
                });
    ReadSection(sections.timed, plan.faults,
                [&](int number, const QByteArray& line, const QString& key, const QString& file) {
                    return TakeTimed(plan.timed, locate, number, line, key, file);
                });
    ReadSection(sections.dayparts, plan.faults,
                [&](int number, const QByteArray&, const QString& key,
                    const QString& value) -> std::optional<Text> {
                    const Read<When> when = ReadWhen(key);
                    const Read<QString> name = ReadFolderName(value);
                    if (const std::optional<Text> wrong = Problem(when)) {
                        return wrong;
                    }
                    if (const std::optional<Text> wrong = Problem(name)) {
                        return wrong;
                    }
                    plan.dayparts.append({std::get<When>(when), std::get<QString>(name), number});
                    return std::nullopt;
                });
    ReadSection(sections.levels, plan.faults,
                [&](int number, const QByteArray&, const QString& key,
                    const QString& value) -> std::optional<Text> {
                    const Read<std::pair<DaySet, int>> read = ReadTimedKey(key);
                    const Read<int> level = ReadLevel(value);
                    if (const std::optional<Text> wrong = Problem(read)) {
                        return wrong;
                    }
                    if (const std::optional<Text> wrong = Problem(level)) {
                        return wrong;
                    }
                    const auto [days, minute] = std::get<0>(read);
                    plan.levels.append({days, minute, std::get<int>(level), number});
                    return std::nullopt;
                });
    return plan;
}

std::optional<QString> CheckRanges(const QString& text) {
    return Shown(Problem(ReadRanges(text)));
}

std::optional<QString> CheckDates(const QString& text) {
    return Shown(Problem(ReadDates(text)));
}

std::optional<QString> CheckTimedKey(const QString& key) {
    return Shown(Problem(ReadTimedKey(key)));
}

std::optional<QString> CheckDaypartKey(const QString& key) {
    return Shown(Problem(ReadWhen(key)));
}

std::optional<QString> CheckDaypartName(const QString& name) {
    return Shown(Problem(ReadFolderName(name)));
}

std::optional<QString> CheckLevelKey(const QString& key) {
    return Shown(Problem(ReadTimedKey(key)));
}

std::optional<QString> CheckLevel(const QString& value) {
    return Shown(Problem(ReadLevel(value)));
}

Text Fault::Warning() const {
    return Text(QT_TRANSLATE_NOOP("Problems", "settings line %1 \"%2\" is left out: %3"),
                {QString::number(lineNumber), QString::fromUtf8(line), why});
}

}  // namespace Schedule
