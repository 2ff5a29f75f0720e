#pragma once

#include <QListView>

class MediaList;

// Shows a media list and its selected entry (the file last started from it).
class FileListBox : public QListView {
    Q_OBJECT

public:
    explicit FileListBox(MediaList& list, QWidget* parent = nullptr);

    MediaList& Items() const { return list_; }

private:
    void ShowSelected(int index);

    MediaList& list_;
};
