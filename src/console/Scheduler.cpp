// The playback scheduler: every tick keeps music playing on channel 0 and, when the interval has
// passed, fades the music down and starts the next message on channel 1.

#include <QLabel>
#include <QThread>
#include <QTimer>

#include "audio/Mod_MCI.h"
#include "console/Frm_Messages.h"

namespace {

// Marks a tick as running for as long as it lasts, so that a tick falling due while this one
// processes events (inside a fade or a file start) is dropped instead of running nested.
class TickGuard {
public:
    explicit TickGuard(bool& running) : running_(running) { running_ = true; }
    ~TickGuard() { running_ = false; }
    TickGuard(const TickGuard&) = delete;
    TickGuard& operator=(const TickGuard&) = delete;

private:
    bool& running_;
};

}  // namespace

void Frm_Messages::Timer1_Timer() {
    if (inTick_ || shuttingDown_) {
        return;
    }
    TickGuard guard(inTick_);

    const QString musicMode = Mod_MCI::MciGetMode(ChannelAlias(kMusic));
    Lbl_Status[kMusic]->setText(musicMode);
    if (musicMode != u"playing") {
        PlayNextFile(kMusic);
    }
    if (shuttingDown_) {
        return;
    }

    const QString messageMode = Mod_MCI::MciGetMode(ChannelAlias(kMessages));
    Lbl_Status[kMessages]->setText(messageMode);
    const bool messagePlaying = messageMode == u"playing";
    if (!messagePlaying &&
        Mod_MCI::MciGetVolume(ChannelAlias(kMusic), QStringLiteral("both")) < sVolume[0]->Value()) {
        FadeMusic(sVolume[1]->Value(), sVolume[0]->Value(), +1, QStringLiteral("both"));
    }
    if (shuttingDown_ || HScroll1->Value() == 0 || messagePlaying) {
        return;
    }
    ++messageTicks_;
    if (messageTicks_ > HScroll1->Value()) {
        PlayNextFile(kMessages);
        messageTicks_ = 0;
    }
}

void Frm_Messages::FadeMusic(int from, int to, int step, const QString& side) {
    // An empty range (a low level set above the high one) takes no step at all.
    for (int v = from; step > 0 ? v <= to : v >= to; v += step) {
        if (shuttingDown_) {
            return;  // the channels are closed or closing: leave them alone
        }
        Mod_MCI::MciSetVolume(ChannelAlias(kMusic), side, v);
        QThread::msleep(kFadeStepMilliseconds);
        ProcessPendingEvents();
        if (shuttingDown_) {
            return;
        }
        ShowVolume();
    }
}

void Frm_Messages::PlayNextFile(qint16 index) {
    if (shuttingDown_) {
        return;
    }
    RefreshFileLists();
    FileListBox* list = File1[index];
    if (list->ListCount() == 0) {
        return;
    }
    int next = list->ListIndex() + 1;
    if (next >= list->ListCount()) {
        next = 0;
    }
    list->SetListIndex(next);

    const QString alias = ChannelAlias(index);
    const QString path = list->Path() + u'/' + list->FileName();
    if (index == kMessages) {
        FadeMusic(sVolume[0]->Value(), sVolume[1]->Value(), -1, QStringLiteral("Both"));
        if (shuttingDown_) {
            return;
        }
    }
    Mod_MCI::MciClose(alias);
    Mod_MCI::MciOpen(WindowHandle(), alias, path, QStringLiteral("MPEGVideo"));
    ProcessPendingEvents();
    if (shuttingDown_) {
        return;
    }
    const int level = index == kMusic ? sVolume[0]->Value() : sVolume[2]->Value();
    Mod_MCI::MciSetVolume(alias, QStringLiteral("Both"), level);
    Mod_MCI::MciPlay(alias, QString(), QString());
}

void Frm_Messages::RefreshFileLists() {
    for (FileListBox* list : File1) {
        const QString last = list->FileName();
        list->Refresh();
        if (last.isEmpty()) {
            continue;
        }
        for (int j = 0; j < list->ListCount(); ++j) {
            if (list->List(j) == last) {
                list->SetListIndex(j);
                break;
            }
        }
    }
}
