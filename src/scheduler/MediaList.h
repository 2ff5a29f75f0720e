#pragma once

#include <QAbstractListModel>
#include <QStringList>

// The files of one folder that match a pattern such as "*.mp3;*.wav;*.mid" (case ignored), sorted
// by name with case ignored, and the one selected: the file last started from the list. Folders
// and hidden files are left out; a folder that does not exist gives an empty list.
class MediaList : public QAbstractListModel {
    Q_OBJECT

public:
    explicit MediaList(QObject* parent = nullptr);

    QString Path() const { return path_; }
    void SetPath(const QString& path);  // re-reads the folder
    QString Pattern() const { return pattern_; }
    void SetPattern(const QString& pattern);  // re-reads the folder

    int ListCount() const { return static_cast<int>(names_.size()); }
    int ListIndex() const { return index_; }
    void SetListIndex(int index);  // -1, or an index outside the list, selects nothing
    QString List(int index) const;
    QString FileName() const { return List(index_); }  // "" when nothing is selected

    // Re-reads the folder; afterwards nothing is selected.
    void Refresh();

    // The names in `folder` that match `pattern`, sorted as the list shows them.
    static QStringList ReadFolder(const QString& folder, const QString& pattern);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

signals:
    void ListIndexChanged(int index);

private:
    QString path_;
    QString pattern_ = QStringLiteral("*.*");
    QStringList names_;
    int index_ = -1;
};
