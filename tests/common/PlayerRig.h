#pragma once

#include <QDir>
#include <QList>
#include <QTemporaryDir>

#include "FakeMci.h"
#include "MediaFixtures.h"
#include "player/Player.h"
#include "settings/Mod_INI.h"
#include "support/ProgramLocation.h"

// The cache and the program folder in `folder`; empty, or why the folder was refused.
inline QString UseFolder(const QTemporaryDir& folder) {
    qputenv("XDG_CACHE_HOME", QFile::encodeName(folder.filePath("cache")));
    return ChooseProgramFolder(folder.path());
}

// A player loaded and started on a scripted media service, in the test's program folder: two
// music files, the messages named, the settings file as given, and no play log or outbox left by
// an earlier rig. Shut down at the end.
struct PlayerRig {
    FakeMciInstaller fake;
    SystemClock clock;
    Player player{clock};
    explicit PlayerRig(const QByteArray& ini, const QList<const char*>& messages = {"m1.mp3"}) {
        const QString folder = Program().folder;
        for (const char* sub : {"Music", "Messages"})
            QDir(folder).mkpath(sub);
        for (const char* name : {"a.mp3", "b.mp3"})
            MediaFixtures::MakeFile(folder + QStringLiteral("/Music/") + name, "x");
        for (const char* name : messages)
            MediaFixtures::MakeFile(folder + QStringLiteral("/Messages/") + name, "x");
        MediaFixtures::MakeFile(Mod_INI::IniFilePath(), ini);
        QDir(folder + QStringLiteral("/Play Log")).removeRecursively();
        player.Load();
        player.Start(0);
    }
    ~PlayerRig() { player.Shutdown(); }
};
