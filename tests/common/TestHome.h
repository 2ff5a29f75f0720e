#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <initializer_list>
#include <utility>

#include "MediaFixtures.h"

// A temporary folder that stands in for the user's home while a test runs: the cache,
// configuration and data folders the program and Qt write to lie inside it, so a test neither
// reads the user's own settings nor leaves anything among them. Made before anything asks for
// those folders: a member of the test object, not a step of initTestCase.
class TestHome : public QTemporaryDir {
public:
    TestHome() {
        // GStreamer keeps the plugin registry it has: scanning every plugin again in each new home
        // costs a second a run.
        QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
        cache = cache.isEmpty() ? QDir::homePath() + QStringLiteral("/.cache") : cache;
        const QDir plugins(cache + QStringLiteral("/gstreamer-1.0"));
        const QStringList registries =
            plugins.entryList({QStringLiteral("registry.*.bin")}, QDir::Files);
        if (qEnvironmentVariableIsEmpty("GST_REGISTRY") && !registries.isEmpty()) {
            qputenv("GST_REGISTRY", QFile::encodeName(plugins.filePath(registries.first())));
        }
        for (const auto& [variable, folder] : {std::pair{"XDG_CACHE_HOME", "cache"},
                                               {"XDG_CONFIG_HOME", "config"},
                                               {"XDG_DATA_HOME", "data"}}) {
            qputenv(variable, QFile::encodeName(filePath(QString::fromLatin1(folder))));
        }
    }

    // Files below the home, each with its bytes, and any folder on their way; false at the first
    // that cannot be made.
    bool Make(std::initializer_list<std::pair<QString, QByteArray>> files) const {
        return isValid() && std::all_of(files.begin(), files.end(), [this](const auto& file) {
                   const QString path = filePath(file.first);
                   return QDir().mkpath(QFileInfo(path).path()) &&
                          MediaFixtures::MakeFile(path, file.second);
               });
    }
};
