#include "scheduler/MediaList.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QDir>
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
    return index >= 0 && index < ListCount() ? entries_[index].shown : QString();
}

QByteArray MediaList::FileBytes() const {
    return ListBytes(index_);
}

QByteArray MediaList::ListBytes(int index) const {
    return index >= 0 && index < ListCount() ? entries_[index].bytes : QByteArray();
}

int MediaList::Find(const QByteArray& bytes) const {
    for (int j = 0; j < ListCount(); ++j) {
        if (entries_[j].bytes == bytes) {
            return j;
        }
    }
    return -1;
}

QByteArray MediaList::FilePath() const {
    return QFile::encodeName(path_) + '/' + FileBytes();
}

QList<QByteArray> MediaList::FilePaths() const {
    const QByteArray folder = QFile::encodeName(path_) + '/';
    QList<QByteArray> paths;
    paths.reserve(entries_.size());
    for (const Entry& entry : entries_) {
        paths.append(folder + entry.bytes);
    }
    return paths;
}

void MediaList::SetCampaigns(std::function<QDate()> today) {
    today_ = std::move(today);
    Refresh();
}

void MediaList::SetExcluded(QSet<QByteArray> names) {
    excluded_ = std::move(names);
    Refresh();
}

std::optional<std::pair<QDate, QDate>> MediaList::CampaignDates(const QString& folderName) {
    const QStringList ends = folderName.split(QStringLiteral(".."));
    if (ends.size() != 2) {
        return std::nullopt;
    }
    const QDate from = QDate::fromString(ends[0], QStringLiteral("yyyy-MM-dd"));
    const QDate to = QDate::fromString(ends[1], QStringLiteral("yyyy-MM-dd"));
    if (!from.isValid() || !to.isValid()) {
        return std::nullopt;
    }
    return std::pair{from, to};
}

void MediaList::Refresh() {
    beginResetModel();
    entries_ = path_.isEmpty() ? QList<Entry>() : ReadFolder(path_, pattern_);
    if (today_ && !path_.isEmpty()) {
        const QDate today = today_();
        for (const QString& sub : QDir(path_).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const auto dates = CampaignDates(sub);
            if (!dates || today < dates->first || today > dates->second) {
                continue;
            }
            for (Entry entry : ReadFolder(path_ + u'/' + sub, pattern_)) {
                entry.bytes = QFile::encodeName(sub) + '/' + entry.bytes;
                entry.shown = sub + u'/' + entry.shown;
                entries_.append(std::move(entry));
            }
        }
        std::stable_sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            return a.shown.toCaseFolded() < b.shown.toCaseFolded();
        });
    }
    entries_.removeIf([this](const Entry& entry) { return excluded_.contains(entry.bytes); });
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

QList<MediaList::Entry> MediaList::ReadFolder(const QString& folder, const QString& pattern) {
    const QStringList patterns = pattern.split(u';', Qt::SkipEmptyParts);
    const QByteArray encodedFolder = QFile::encodeName(folder);
    DIR* dir = ::opendir(encodedFolder.constData());
    if (dir == nullptr) {
        return {};
    }
    std::vector<std::pair<QString, Entry>> entries;  // sort key, entry
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
            entries.emplace_back(name.toCaseFolded(), Entry{QByteArray(entry->d_name), name});
        }
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.bytes < b.second.bytes;
    });
    QList<Entry> sorted;
    sorted.reserve(static_cast<qsizetype>(entries.size()));
    for (auto& entry : entries) {
        sorted.append(std::move(entry.second));
    }
    return sorted;
}
