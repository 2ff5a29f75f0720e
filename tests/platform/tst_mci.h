#pragma once

#include <gst/gst.h>

#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include "platform/mci/gstdevices.h"

// Platform::Mci's command line: words, quotes, keywords and the numbers they carry.
class CommandLineTest : public QObject {
    Q_OBJECT

private slots:
    void tokenize_data();
    void tokenize();
    void parse_data();
    void parse();
    void parseErrors_data();
    void parseErrors();
    void sendStringReply_data();
    void sendStringReply();
};

// Platform::Mci::GstDevices against real GStreamer, with short media files made for each run.
class MciInterpreterTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void playToEnd_data();
    void playToEnd();
    void length_data();
    void length();
    void playStopsAtEndPosition_data();
    void playStopsAtEndPosition();
    void modeWords();
    void volumeReadBack_data();
    void volumeReadBack();
    void closeAll();
    void errors_data();
    void errors();
    void damagedFiles_data();
    void damagedFiles();
    void keywordsInAnyCase();
    void paddedCommands();
    void quotedNames();
    void fileDeletedWhilePlaying();
    void outputFailureStops();
    void volumeReachesSamples_data();
    void volumeReachesSamples();
    void volumeChangesWhilePlaying();
    void soak();

private:
    // "$WAV", "$MP3", "$MIDI" and "$DIR" in commands stand for the fixtures and their folder.
    QString Resolve(QString command) const;
    QString Path(const QString& name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    GstElement* appSink_ = nullptr;  // the measuring sink of the current test, when it has one
    GstElement* lastSink_ = nullptr;
};
