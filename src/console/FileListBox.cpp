#include "console/FileListBox.h"

#include "scheduler/MediaList.h"

FileListBox::FileListBox(MediaList& list, QWidget* parent) : QListView(parent), list_(list) {
    setModel(&list_);
    setUniformItemSizes(true);  // keeps a folder of many thousand files quick to show
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(&list_, &MediaList::ListIndexChanged, this, &FileListBox::ShowSelected);
}

void FileListBox::ShowSelected(int index) {
    if (index < 0) {
        clearSelection();
        return;
    }
    const QModelIndex item = list_.index(index);
    selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
    scrollTo(item);
}
