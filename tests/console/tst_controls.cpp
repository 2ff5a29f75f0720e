#include "tst_controls.h"

#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "FakeMci.h"
#include "MediaFixtures.h"
#include "console/Frm_Messages.h"

namespace {

constexpr int kInterval = 3;  // in tables, the control index that stands for HScroll1

// A console with its timer stopped and a scripted media service behind it.
class Console {
public:
    Console() { window.Timer1->stop(); }

    ScrollBar* Control(int index) const {
        return index == kInterval ? window.HScroll1 : window.sVolume[index];
    }
    // Music playing on "ZEL0" at `volume` (0..100).
    void PlayMusic(int volume) {
        fake->devices["ZEL0"] = {"/media/tune.mp3", "playing", volume * 10};
    }
    void Forget() { fake->commands.clear(); }
    QStringList Sent() const {
        QStringList sent;
        for (const std::string& command : fake->commands) {
            sent << QString::fromStdString(command);
        }
        return sent;
    }

    FakeMciInstaller fake;
    Frm_Messages window;
};

// The place of a part of a scroll bar (an arrow, the track on one side of the thumb), as its
// style lays it out.
QRect PartOf(const QScrollBar& bar, QStyle::SubControl part) {
    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.orientation = bar.orientation();
    if (bar.orientation() == Qt::Horizontal) {
        option.state |= QStyle::State_Horizontal;
    }
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.sliderPosition = bar.sliderPosition();
    option.sliderValue = bar.value();
    option.singleStep = bar.singleStep();
    option.pageStep = bar.pageStep();
    option.upsideDown = bar.invertedAppearance();
    option.subControls = QStyle::SC_All;
    return bar.style()->subControlRect(QStyle::CC_ScrollBar, &option, part, &bar);
}

const QString kMessageMode = QStringLiteral("status ZEL1 mode");
const QString kMusicVolume = QStringLiteral("status ZEL0 Volume");

}  // namespace

void ControlsTest::timerTicksEverySecond() {
    FakeMciInstaller fake;
    Frm_Messages window;
    QVERIFY(window.Timer1->isActive());
    QCOMPARE(window.Timer1->interval(), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!fake->commands.empty(), 5000);
    QCOMPARE(fake->commands.front(), "status ZEL0 mode");
}

void ControlsTest::scrollSteps_data() {
    QTest::addColumn<int>("control");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("value");

    using A = QAbstractSlider;
    QTest::newRow("volume: step up") << 0 << 50 << int(A::SliderSingleStepSub) << 51;
    QTest::newRow("volume: step down") << 0 << 50 << int(A::SliderSingleStepAdd) << 49;
    QTest::newRow("volume: page up") << 0 << 50 << int(A::SliderPageStepSub) << 60;
    QTest::newRow("volume: page down") << 0 << 50 << int(A::SliderPageStepAdd) << 40;
    QTest::newRow("volume: step up at 100") << 0 << 100 << int(A::SliderSingleStepSub) << 100;
    QTest::newRow("volume: page up near 100") << 0 << 95 << int(A::SliderPageStepSub) << 100;
    QTest::newRow("volume: step down at 0") << 0 << 0 << int(A::SliderSingleStepAdd) << 0;
    QTest::newRow("volume: page down near 0") << 0 << 4 << int(A::SliderPageStepAdd) << 0;
    QTest::newRow("volume: thumb to the top") << 0 << 30 << int(A::SliderToMinimum) << 100;
    QTest::newRow("volume: thumb to the bottom") << 0 << 30 << int(A::SliderToMaximum) << 0;
    QTest::newRow("low level: step up") << 1 << 10 << int(A::SliderSingleStepSub) << 11;
    QTest::newRow("low level: page down") << 1 << 10 << int(A::SliderPageStepAdd) << 0;
    QTest::newRow("message volume: page up") << 2 << 80 << int(A::SliderPageStepSub) << 90;
    QTest::newRow("message volume: step down") << 2 << 80 << int(A::SliderSingleStepAdd) << 79;
    QTest::newRow("interval: step right") << kInterval << 30 << int(A::SliderSingleStepAdd) << 31;
    QTest::newRow("interval: step left") << kInterval << 30 << int(A::SliderSingleStepSub) << 29;
    QTest::newRow("interval: page right") << kInterval << 30 << int(A::SliderPageStepAdd) << 31;
    QTest::newRow("interval: page left") << kInterval << 30 << int(A::SliderPageStepSub) << 29;
    QTest::newRow("interval: right at 600")
        << kInterval << 600 << int(A::SliderSingleStepAdd) << 600;
    QTest::newRow("interval: left at 0") << kInterval << 0 << int(A::SliderSingleStepSub) << 0;
    QTest::newRow("interval: to the right end") << kInterval << 0 << int(A::SliderToMaximum) << 600;
}

void ControlsTest::scrollSteps() {
    QFETCH(int, control);
    QFETCH(int, start);
    QFETCH(int, action);
    QFETCH(int, value);
    Console c;
    ScrollBar* bar = c.Control(control);
    bar->SetValue(start);
    QCOMPARE(bar->Value(), start);
    QSignalSpy changes(bar, &ScrollBar::Change);

    bar->triggerAction(static_cast<QAbstractSlider::SliderAction>(action));
    QCOMPARE(bar->Value(), value);
    QCOMPARE(changes.count(), value == start ? 0 : 1);
}

void ControlsTest::arrowAndTrackClicks_data() {
    QTest::addColumn<int>("control");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("part");
    QTest::addColumn<int>("value");

    QTest::newRow("volume: top arrow") << 0 << 50 << int(QStyle::SC_ScrollBarSubLine) << 51;
    QTest::newRow("volume: bottom arrow") << 0 << 50 << int(QStyle::SC_ScrollBarAddLine) << 49;
    QTest::newRow("volume: track above the thumb")
        << 0 << 50 << int(QStyle::SC_ScrollBarSubPage) << 60;
    QTest::newRow("volume: track below the thumb")
        << 0 << 50 << int(QStyle::SC_ScrollBarAddPage) << 40;
    QTest::newRow("low level: top arrow at 100")
        << 1 << 100 << int(QStyle::SC_ScrollBarSubLine) << 100;
    QTest::newRow("message volume: bottom arrow at 0")
        << 2 << 0 << int(QStyle::SC_ScrollBarAddLine) << 0;
    QTest::newRow("interval: right arrow")
        << kInterval << 30 << int(QStyle::SC_ScrollBarAddLine) << 31;
    QTest::newRow("interval: left arrow")
        << kInterval << 30 << int(QStyle::SC_ScrollBarSubLine) << 29;
    QTest::newRow("interval: right arrow at 600")
        << kInterval << 600 << int(QStyle::SC_ScrollBarAddLine) << 600;
    QTest::newRow("interval: left arrow at 0")
        << kInterval << 0 << int(QStyle::SC_ScrollBarSubLine) << 0;
}

void ControlsTest::arrowAndTrackClicks() {
    QFETCH(int, control);
    QFETCH(int, start);
    QFETCH(int, part);
    QFETCH(int, value);
    Console c;
    c.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c.window));
    c.window.Mnu_File_Settings_Click();
    ScrollBar* bar = c.Control(control);
    bar->SetValue(start);
    QSignalSpy changes(bar, &ScrollBar::Change);

    const QRect place = PartOf(*bar, static_cast<QStyle::SubControl>(part));
    QVERIFY(place.isValid());
    QTest::mouseClick(bar, Qt::LeftButton, {}, place.center());
    QCOMPARE(bar->Value(), value);
    QCOMPARE(changes.count(), value == start ? 0 : 1);
}

void ControlsTest::dragReportsOnRelease_data() {
    QTest::addColumn<int>("control");
    QTest::addColumn<int>("start");
    // Thumb positions along the track while the button is held: 0 the top or left end, 1 the
    // bottom or right end.
    QTest::addColumn<QList<double>>("path");
    QTest::addColumn<int>("value");
    QTest::addColumn<QStringList>("sent");  // once, when the thumb is released

    QTest::newRow("music volume dragged to the top")
        << 0 << 30 << QList<double>{0.5, 0.2, 0.0} << 100
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 1000", kMusicVolume};
    QTest::newRow("music volume dragged to 60")
        << 0 << 100 << QList<double>{0.1, 0.7, 0.4} << 60
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 600", kMusicVolume};
    QTest::newRow("message volume dragged to the bottom")
        << 2 << 100 << QList<double>{0.5, 1.0} << 0
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 1000", kMusicVolume};
    QTest::newRow("interval dragged to the right end")
        << kInterval << 0 << QList<double>{0.3, 1.0} << 600 << QStringList();
    QTest::newRow("interval dragged to the middle")
        << kInterval << 0 << QList<double>{0.9, 0.2, 0.5} << 300 << QStringList();
}

void ControlsTest::dragReportsOnRelease() {
    QFETCH(int, control);
    QFETCH(int, start);
    QFETCH(QList<double>, path);
    QFETCH(int, value);
    QFETCH(QStringList, sent);
    Console c;
    c.PlayMusic(100);
    ScrollBar* bar = c.Control(control);
    bar->SetValue(start);
    const QString readout = c.window.Txt_Interval->text();
    c.Forget();
    QSignalSpy changes(bar, &ScrollBar::Change);

    bar->setSliderDown(true);
    for (const double along : path) {
        bar->setSliderPosition(bar->minimum() + qRound(along * (bar->maximum() - bar->minimum())));
        QCOMPARE(changes.count(), 0);
        QCOMPARE(bar->Value(), start);
    }
    QCOMPARE(c.Sent(), QStringList());
    QCOMPARE(c.window.Txt_Interval->text(), readout);

    bar->setSliderDown(false);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(bar->Value(), value);
    QCOMPARE(c.Sent(), sent);
    if (control == kInterval) {
        QCOMPARE(c.window.Txt_Interval->text(), QString::number(value));
    }
}

void ControlsTest::volumeChange_data() {
    QTest::addColumn<bool>("musicOpen");
    QTest::addColumn<QString>("messageMode");  // "": nothing open on the message channel
    QTest::addColumn<int>("slider");
    QTest::addColumn<int>("value");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<int>("meter");

    QTest::newRow("no message, normal level")
        << true << "" << 0 << 60
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 600", kMusicVolume} << 60;
    QTest::newRow("no message, level during messages")
        << true << "" << 1 << 30
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 1000", kMusicVolume} << 100;
    QTest::newRow("no message, message level")
        << true << "" << 2 << 50
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 1000", kMusicVolume} << 100;
    QTest::newRow("message ended, message level")
        << true << "stopped" << 2 << 50
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 1000", kMusicVolume} << 100;
    QTest::newRow("message playing, message level")
        << true << "playing" << 2 << 50
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 100", "setaudio ZEL1 Volume to 500",
                       kMusicVolume}
        << 10;
    QTest::newRow("message playing, normal level")
        << true << "playing" << 0 << 60
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 100", "setaudio ZEL1 Volume to 1000",
                       kMusicVolume}
        << 10;
    QTest::newRow("message playing, level during messages")
        << true << "playing" << 1 << 25
        << QStringList{kMessageMode, "setaudio ZEL0 Volume to 250", "setaudio ZEL1 Volume to 1000",
                       kMusicVolume}
        << 25;
    QTest::newRow("nothing open") << false << "" << 0 << 60
                                  << QStringList{kMessageMode, "setaudio ZEL0 Volume to 600",
                                                 kMusicVolume}
                                  << -1;
}

void ControlsTest::volumeChange() {
    QFETCH(bool, musicOpen);
    QFETCH(QString, messageMode);
    QFETCH(int, slider);
    QFETCH(int, value);
    QFETCH(QStringList, sent);
    QFETCH(int, meter);
    Console c;
    if (musicOpen) {
        c.PlayMusic(100);
    }
    if (!messageMode.isEmpty()) {
        c.fake->devices["ZEL1"] = {"/media/notice.mp3", messageMode.toStdString(), 1000};
    }

    c.window.sVolume[slider]->SetValue(value);
    QCOMPARE(c.Sent(), sent);
    QCOMPARE(c.window.Pic_Volume->Level(), meter);
}

void ControlsTest::intervalReadout_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("action");  // -1: the program sets `target`
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("shown");

    using A = QAbstractSlider;
    QTest::newRow("set to 0") << 7 << -1 << 0 << "0";
    QTest::newRow("set to 45") << 0 << -1 << 45 << "45";
    QTest::newRow("set to 600") << 0 << -1 << 600 << "600";
    QTest::newRow("set beyond 600") << 0 << -1 << 900 << "600";
    QTest::newRow("right arrow") << 30 << int(A::SliderSingleStepAdd) << 0 << "31";
    QTest::newRow("left arrow down to 0") << 1 << int(A::SliderSingleStepSub) << 0 << "0";
}

void ControlsTest::intervalReadout() {
    QFETCH(int, start);
    QFETCH(int, action);
    QFETCH(int, target);
    QFETCH(QString, shown);
    Console c;
    c.window.HScroll1->SetValue(start);
    if (action < 0) {
        c.window.HScroll1->SetValue(target);
    } else {
        c.window.HScroll1->triggerAction(static_cast<QAbstractSlider::SliderAction>(action));
    }
    QCOMPARE(c.window.Txt_Interval->text(), shown);
    QCOMPARE(c.window.HScroll1->Value(), shown.toInt());
}

void ControlsTest::settingsPanel_data() {
    QTest::addColumn<int>("musicVolume");  // -1: nothing open on the music channel

    QTest::newRow("music at 60") << 60;
    QTest::newRow("nothing open") << -1;
}

void ControlsTest::settingsPanel() {
    QFETCH(int, musicVolume);
    Console c;
    if (musicVolume >= 0) {
        c.PlayMusic(musicVolume);
    }
    c.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c.window));
    QVERIFY(!c.window.Fme_Settings->isVisible());
    c.Forget();

    c.window.Mnu_File_Settings->trigger();
    QVERIFY(c.window.Fme_Settings->isVisible());
    QCOMPARE(c.Sent(), QStringList{kMusicVolume});
    QCOMPARE(c.window.Pic_Volume->Level(), musicVolume);
    // The panel lies over both lists and their status lines.
    const QRect panel = c.window.Fme_Settings->geometry();
    for (int i = 0; i < 2; ++i) {
        QVERIFY(panel.contains(c.window.File1[i]->geometry()));
        QVERIFY(panel.contains(c.window.Lbl_Status[i]->geometry()));
    }

    // Showing it again only redraws the meter.
    c.window.Mnu_File_Settings->trigger();
    QVERIFY(c.window.Fme_Settings->isVisible());
    QCOMPARE(c.Sent(), (QStringList{kMusicVolume, kMusicVolume}));

    QTest::mouseClick(c.window.Cmd_OK, Qt::LeftButton);
    QVERIFY(!c.window.Fme_Settings->isVisible());
    QCOMPARE(c.Sent(), (QStringList{kMusicVolume, kMusicVolume}));
}

void ControlsTest::menus() {
    Console c;
    const auto texts = [](const QList<QAction*>& actions) {
        QStringList result;
        for (const QAction* action : actions) {
            result << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return result;
    };
    QCOMPARE(texts(c.window.menuBar()->actions()), (QStringList{"&File", "&Help"}));
    QCOMPARE(texts(c.window.Mnu_File->actions()), (QStringList{"&Settings", "-", "E&xit"}));
    QCOMPARE(texts(c.window.Mnu_Help->actions()), (QStringList{"&Contents", "&About"}));
    QCOMPARE(c.window.Mnu_PopUp->title(), QStringLiteral("POPUP"));
    QCOMPARE(texts(c.window.Mnu_PopUp->actions()), (QStringList{"&Show", "E&xit"}));
    QVERIFY(!c.window.menuBar()->actions().contains(c.window.Mnu_PopUp->menuAction()));
}

void ControlsTest::meterHeight_data() {
    QTest::addColumn<int>("musicVolume");  // -1: nothing open on the music channel
    QTest::addColumn<double>("filled");    // share of the height drawn green

    QTest::newRow("nothing open") << -1 << 0.0;
    QTest::newRow("silent") << 0 << 0.0;
    QTest::newRow("a quarter") << 25 << 0.25;
    QTest::newRow("60") << 60 << 0.6;
    QTest::newRow("full") << 100 << 1.0;
}

void ControlsTest::meterHeight() {
    QFETCH(int, musicVolume);
    QFETCH(double, filled);
    Console c;
    if (musicVolume >= 0) {
        c.PlayMusic(musicVolume);
    }
    c.window.Mnu_File_Settings_Click();

    const QImage image = c.window.Pic_Volume->grab().toImage();
    QVERIFY(!image.isNull());
    const QColor green(0, 128, 0);
    QList<int> greenRows;
    for (int y = 0; y < image.height(); ++y) {
        int greenPixels = 0;
        for (int x = 0; x < image.width(); ++x) {
            greenPixels += image.pixelColor(x, y) == green ? 1 : 0;
        }
        QVERIFY2(greenPixels == 0 || greenPixels == image.width(), qPrintable(QString::number(y)));
        if (greenPixels > 0) {
            greenRows << y;
        }
    }
    // A column rising from the bottom edge.
    const int expected = qRound(filled * image.height());
    QCOMPARE(greenRows.size(), expected);
    if (expected > 0) {
        QCOMPARE(greenRows.first(), image.height() - expected);
        QCOMPARE(greenRows.last(), image.height() - 1);
    }
}

void ControlsTest::fileList_data() {
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<QStringList>("entries");  // a trailing "/" makes a folder
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("pattern matched ignoring case")
        << true
        << QStringList{"a.MP3", "b.Wav", "c.mid", "D.Mid", "e.txt", "f.mp3.bak", "g.mp4", "mp3"}
        << QStringList{"a.MP3", "b.Wav", "c.mid", "D.Mid"};
    QTest::newRow("folders and hidden files left out")
        << true << QStringList{"music.mp3/", ".hidden.mp3", "v.mp3", "w.wav/"}
        << QStringList{"v.mp3"};
    QTest::newRow("sorted ignoring case")
        << true << QStringList{"b.mp3", "A.mp3", "C.mp3", "a2.mp3", "B2.wav"}
        << QStringList{"A.mp3", "a2.mp3", "b.mp3", "B2.wav", "C.mp3"};
    QTest::newRow("empty folder") << true << QStringList() << QStringList();
    QTest::newRow("missing folder") << false << QStringList() << QStringList();
}

void ControlsTest::fileList() {
    QFETCH(bool, folderExists);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, listed);
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/Music");
    if (folderExists) {
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Music")));
    }
    for (const QString& entry : entries) {
        if (entry.endsWith(u'/')) {
            QVERIFY(QDir(folder).mkpath(entry.chopped(1)));
        } else {
            QVERIFY(MediaFixtures::MakeFile(folder + u'/' + entry, "x"));
        }
    }
    Console c;
    FileListBox* list = c.window.File1[0];
    list->SetPath(folder);

    QStringList names;
    for (int j = 0; j < list->ListCount(); ++j) {
        names << list->List(j);
    }
    QCOMPARE(names, listed);
    QCOMPARE(list->ListIndex(), -1);
    QCOMPARE(list->FileName(), QString());
}

void ControlsTest::fileListSelection() {
    QTemporaryDir dir;
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
        QVERIFY(MediaFixtures::MakeFile(dir.path() + u'/' + QLatin1String(name), "x"));
    }
    Console c;
    FileListBox* list = c.window.File1[1];
    list->SetPath(dir.path());
    QCOMPARE(list->ListIndex(), -1);

    list->SetListIndex(1);
    QCOMPARE(list->ListIndex(), 1);
    QCOMPARE(list->FileName(), QStringLiteral("b.mp3"));

    list->Refresh();
    QCOMPARE(list->ListCount(), 3);
    QCOMPARE(list->ListIndex(), -1);
    QCOMPARE(list->FileName(), QString());

    list->SetListIndex(2);
    list->SetListIndex(3);
    QCOMPARE(list->ListIndex(), -1);
    list->SetListIndex(0);
    list->SetListIndex(-1);
    QCOMPARE(list->ListIndex(), -1);

    list->SetListIndex(2);
    list->SetPath(dir.path());
    QCOMPARE(list->ListIndex(), -1);
}
