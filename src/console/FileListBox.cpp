#include "console/FileListBox.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QFile>
#include <QStringListModel>
#include <algorithm>
#include <utility>
#include <vector>

#include "platform/files.h"

FileListBox::FileListBox(QWidget* parent) : QListView(parent), model_(new QStringListModel(this)) {
    setModel(model_);
    setUniformItemSizes(true);  // keeps a folder of many thousand files quick to show
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void FileListBox::SetPath(const QString& path) {
    path_ = path;
    Refresh();
}

void FileListBox::SetPattern(const QString& pattern) {
    pattern_ = pattern;
    Refresh();
}

int FileListBox::ListCount() const {
    return static_cast<int>(names_.size());
}

int FileListBox::ListIndex() const {
    const QModelIndexList selected = selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void FileListBox::SetListIndex(int index) {
    if (index < 0 || index >= ListCount()) {
        clearSelection();
        return;
    }
    const QModelIndex item = model_->index(index);
    selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    scrollTo(item);
}

QString FileListBox::List(int index) const {
    return index >= 0 && index < ListCount() ? names_[index] : QString();
}

QString FileListBox::FileName() const {
    return List(ListIndex());
}

void FileListBox::Refresh() {
    names_ = path_.isEmpty() ? QStringList() : ReadFolder(path_, pattern_);
    model_->setStringList(names_);
    clearSelection();
}

QStringList FileListBox::ReadFolder(const QString& folder, const QString& pattern) {
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
