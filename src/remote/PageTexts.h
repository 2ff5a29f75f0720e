#pragma once

#include <QtGlobal>
#include <array>

// Every text the web remote's page shows, as the page writes it in English: the page is sent with
// their translations into the browser's language, and asks for each by its English text. A %1 is
// filled in by the page.
inline constexpr std::array kPageTexts{
    QT_TRANSLATE_NOOP("WebRemote", "Corvane remote"),
    QT_TRANSLATE_NOOP("WebRemote",
                      "Enter the remote control key. It is shown in the program under File > "
                      "Remote Control."),
    QT_TRANSLATE_NOOP("WebRemote", "key"),
    QT_TRANSLATE_NOOP("WebRemote", "Connect"),
    QT_TRANSLATE_NOOP("WebRemote", "Music"),
    QT_TRANSLATE_NOOP("WebRemote", "Message"),
    QT_TRANSLATE_NOOP("WebRemote", "Next Track"),
    QT_TRANSLATE_NOOP("WebRemote", "Pause"),
    QT_TRANSLATE_NOOP("WebRemote", "Resume"),
    QT_TRANSLATE_NOOP("WebRemote", "Shuffle the music"),
    QT_TRANSLATE_NOOP("WebRemote", "Play Message Now"),
    QT_TRANSLATE_NOOP("WebRemote", "Next in turn"),
    QT_TRANSLATE_NOOP("WebRemote", "Music under a message"),
    QT_TRANSLATE_NOOP("WebRemote", "A message every"),
    QT_TRANSLATE_NOOP("WebRemote", "never"),
    QT_TRANSLATE_NOOP("WebRemote", "Forget the key on this device"),
    QT_TRANSLATE_NOOP("WebRemote", "nothing"),
    QT_TRANSLATE_NOOP("WebRemote", "Daypart: %1"),
    QT_TRANSLATE_NOOP("WebRemote", "Last message: %1, %2, %3"),
    QT_TRANSLATE_NOOP("WebRemote", "No message is due."),
    QT_TRANSLATE_NOOP("WebRemote", "Next message in %1."),
    QT_TRANSLATE_NOOP("WebRemote", "%1 s"),
    QT_TRANSLATE_NOOP("WebRemote", "%1 min"),
    QT_TRANSLATE_NOOP("WebRemote", "%1 min %2 s"),
    QT_TRANSLATE_NOOP("WebRemote", "That key is not right."),
    QT_TRANSLATE_NOOP("WebRemote", "The player answered %1"),
    QT_TRANSLATE_NOOP("WebRemote", "The player cannot be reached; trying again."),
};
