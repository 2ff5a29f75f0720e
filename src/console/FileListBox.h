#pragma once

#include <QListView>
#include <QStringList>

class QStringListModel;

// A list of the files of one folder that match a pattern such as "*.mp3;*.wav;*.mid" (case
// ignored), sorted by name with case ignored. Folders and hidden files are left out; a folder that
// does not exist gives an empty list. The selected entry is the list's ListIndex (-1 for none).
class FileListBox : public QListView {
    Q_OBJECT

public:
    explicit FileListBox(QWidget* parent = nullptr);

    QString Path() const { return path_; }
    void SetPath(const QString& path);  // re-reads the folder
    QString Pattern() const { return pattern_; }
    void SetPattern(const QString& pattern);  // re-reads the folder

    int ListCount() const;
    int ListIndex() const;
    void SetListIndex(int index);  // -1, or an index outside the list, selects nothing
    QString List(int index) const;
    QString FileName() const;  // the selected name, "" when nothing is selected

    // Re-reads the folder; afterwards nothing is selected.
    void Refresh();

    // The names in `folder` that match `pattern`, sorted as the list shows them.
    static QStringList ReadFolder(const QString& folder, const QString& pattern);

private:
    QString path_;
    QString pattern_ = QStringLiteral("*.*");
    QStringListModel* model_;
    QStringList names_;
};
