#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "player/Player.h"
#include "settings/Mod_INI.h"
#include "support/ProgramLocation.h"

// The schedule's four sections as the settings file has them.

void Player::SetSchedule(const ScheduleText& text) {
    // One replacement: a program ended halfway leaves the old schedule or the new, never a mix.
    Mod_INI::PutIniSections(Mod_INI::IniFilePath(),
                            {{QString::fromLatin1(kScheduleSection), text.schedule},
                             {QString::fromLatin1(kTimedSection), text.timed},
                             {QString::fromLatin1(kDaypartsSection), text.dayparts},
                             {QString::fromLatin1(kLevelsSection), text.levels}});
    planner_->SetPlan(ReadSchedule());
}

Schedule::Locate Player::LocateMessage() const {
    return [messages = lists_[kMessages].Path()](const QString& file) {
        for (const QString& folder : {messages, Program().folder}) {
            const QFileInfo found(QDir(folder), file);
            if (found.isFile()) {
                return found.absoluteFilePath();
            }
        }
        return QString();
    };
}

Schedule::Plan Player::ReadSchedule() {
    const QString messages = lists_[kMessages].Path();
    const QString ini = Mod_INI::IniFilePath();
    Schedule::Plan plan = Schedule::Parse(
        {.schedule = Mod_INI::GetIniSection(ini, QString::fromLatin1(kScheduleSection)),
         .timed = Mod_INI::GetIniSection(ini, QString::fromLatin1(kTimedSection)),
         .dayparts = Mod_INI::GetIniSection(ini, QString::fromLatin1(kDaypartsSection)),
         .levels = Mod_INI::GetIniSection(ini, QString::fromLatin1(kLevelsSection))},
        LocateMessage());
    // A timed message plays at its time only, not in the rotation as well.
    QSet<QByteArray> timed;
    for (const Schedule::Timed& entry : plan.timed) {
        const QString inside = QDir(messages).relativeFilePath(entry.path);
        if (!inside.startsWith(QStringLiteral(".."))) {
            timed.insert(QFile::encodeName(inside));
        }
    }
    MediaList& list = lists_[kMessages];
    const QByteArray selected = list.FileBytes();
    list.SetExcluded(std::move(timed));
    list.SetListIndex(list.Find(selected));
    return plan;
}
