#pragma once

#include <QAbstractListModel>
#include <QDate>
#include <QSet>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>

// The files of one folder that match a pattern such as "*.mp3;*.wav;*.mid" (case ignored), sorted
// by name with case ignored, and the one selected: the file last started from the list. Folders
// and hidden files are left out; a folder that does not exist gives an empty list.
//
// A name is kept as the bytes the folder gave, so a file whose name is not valid in the user's
// encoding (copied from an old share, say) can still be opened; it shows with a stand-in mark.
class MediaList : public QAbstractListModel {
    Q_OBJECT

public:
    explicit MediaList(QObject* parent = nullptr);

    QString Path() const { return path_; }
    void SetPath(const QString& path);  // re-reads the folder
    QString Pattern() const { return pattern_; }
    void SetPattern(const QString& pattern);  // re-reads the folder

    int ListCount() const { return static_cast<int>(entries_.size()); }
    int ListIndex() const { return index_; }
    void SetListIndex(int index);  // -1, or an index outside the list, selects nothing
    QString List(int index) const;
    QString FileName() const { return List(index_); }  // "" when nothing is selected
    QByteArray FileBytes() const;                      // the selected name as the folder gave it
    QByteArray ListBytes(int index) const;             // the name at `index`, "" outside the list
    int Find(const QByteArray& bytes) const;           // the first entry of that name, or -1
    // The path of the selected file, in the bytes the file system knows it by.
    QByteArray FilePath() const;
    // The paths of every file in the list, in the same bytes.
    QList<QByteArray> FilePaths() const;

    // Re-reads the folder; afterwards nothing is selected.
    void Refresh();

    // Subfolders named for the dates they run ("2026-12-01..2026-12-24", both included) join the
    // list on those dates, as "folder/name", with `today` telling the date. Empty: none do.
    void SetCampaigns(std::function<QDate()> today);  // re-reads the folder
    // Names, as the list gives them, left out of it.
    void SetExcluded(QSet<QByteArray> names);  // re-reads the folder
    // The dates a subfolder of that name runs, if it is one.
    static std::optional<std::pair<QDate, QDate>> CampaignDates(const QString& folderName);

    struct Entry {
        QByteArray bytes;  // the name as the folder gave it
        QString shown;
    };
    // The files in `folder` that match `pattern`, sorted as the list shows them.
    static QList<Entry> ReadFolder(const QString& folder, const QString& pattern);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

signals:
    void ListIndexChanged(int index);

private:
    QString path_;
    QString pattern_ = QStringLiteral("*.*");
    QList<Entry> entries_;
    int index_ = -1;
    std::function<QDate()> today_;
    QSet<QByteArray> excluded_;
};
