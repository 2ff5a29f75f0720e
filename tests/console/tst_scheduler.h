#pragma once

#include <QObject>

// The playback scheduler against a scripted media service: when messages fall due, the fades
// around them, which file each channel plays next, what a tick does with empty folders and files
// that will not open, ticks that must not nest and a shutdown in the middle of a fade. One case
// plays real files through the GStreamer service.
class SchedulerTest : public QObject {
    Q_OBJECT

private slots:
    void messageTiming_data();
    void messageTiming();
    void countAcrossIntervalChanges_data();
    void countAcrossIntervalChanges();
    void fadesAroundMessage_data();
    void fadesAroundMessage();
    void fadeUp_data();
    void fadeUp();
    void emptyMusicFolder();
    void emptyMessagesFolder();
    void musicEndsDuringMessage();
    void playOrder_data();
    void playOrder();
    void nextFileAfterFolderChange_data();
    void nextFileAfterFolderChange();
    void unplayableFile_data();
    void unplayableFile();
    void noNestedTick_data();
    void noNestedTick();
    void noChannelTouchedAfterShutdown_data();
    void noChannelTouchedAfterShutdown();
    void realInterpreter();
};
