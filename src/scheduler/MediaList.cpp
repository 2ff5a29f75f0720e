#include "scheduler/MediaList.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QFile>
#include <algorithm>
#include <utility>
#include <vector>

#include "platform/files.h"

MediaList::MediaList(QObject* parent) : QAbstractListModel(parent) {}

void MediaList::SetPath(const QString& path) {
    path_ = path;
    Refresh();
}

void MediaList::SetPattern(const QString& pattern) {
    pattern_ = pattern;
    Refresh();
}

void MediaList::SetListIndex(int index) {
    const int selected = index >= 0 && index < ListCount() ? index : -1;
    if (selected != index_) {
        index_ = selected;
        emit ListIndexChanged(index_);
    }
}

QString MediaList::List(int index) const {
    return index >= 0 && index < ListCount() ? names_[index] : QString();
}

void MediaList::Refresh() {
    beginResetModel();
    names_ = path_.isEmpty() ? QStringList() : ReadFolder(path_, pattern_);
    index_ = -1;
    endResetModel();
    emit ListIndexChanged(index_);
}

int MediaList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ListCount();
}

QVariant MediaList::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) {
        return {};
    }
    return List(index.row());
}

QStringList MediaList::ReadFolder(const QString& folder, const QString& pattern) {
    const QStringList patterns = pattern.split(u';', Qt::SkipEmptyParts);
    const QByteArray encodedFolder = QFile::encodeName(folder);
    DIR* dir = ::opendir(encodedFolder.constData());
    if (dir == nullptr) {
        return {};
    }
    std::vector<std::pair<QString, QString>> entries;  // sort key, name
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;  // hidden, and the folder's own "." and ".."
        }
        const QString name = QFile::decodeName(entry->d_name);
        const bool matches = std::any_of(patterns.begin(), patterns.end(), [&](const QString& p) {
            return Platform::Files::WildcardMatch(p, name);
        });
        if (!matches) {
            continue;
        }
        bool isFile = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info {};
            const QByteArray full = encodedFolder + '/' + entry->d_name;
            isFile = ::stat(full.constData(), &info) == 0 && S_ISREG(info.st_mode);
        }
        if (isFile) {
            entries.emplace_back(name.toCaseFolded(), name);
        }
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end());
    QStringList names;
    names.reserve(static_cast<qsizetype>(entries.size()));
    for (auto& entry : entries) {
        names.append(std::move(entry.second));
    }
    return names;
}
