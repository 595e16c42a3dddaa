// The main window's own chrome: title-bar drag, title menu, shortcuts, full screen
// with self-hiding bars, the volume popup and the quit question.

#include "decoder/ffmpegdecoder.h"
#include "mainwindow/popupplacement.h"
#include "mainwindow/positionslider.h"
#include "mainwindow/previewpopup.h"
#include "mainwindow/timetext.h"
#include "mainwindow/zeltorawindow.h"
#include "playback/playbackcontroller.h"
#include "playlist/playlistmodel.h"
#include "testsupport.h"
#include "video/videowidget.h"

#include <QAction>
#include <QAudio>
#include <QGraphicsEffect>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtTest>

using testsupport::mediaPath;
using testsupport::MessageBoxCloser;

class ZeltoraWindowTestAccess
{
public:
    explicit ZeltoraWindowTestAccess(ZeltoraWindow &w) : w(w) {}

    template<class T = QWidget> T *child(const char *name) const { return w.findChild<T *>(name); }
    QMenu *titleMenu() const { return w.titleMenu; }
    QTimer *hideTimer() const { return w.hideTimer; }
    QSlider *volumeSlider() const { return w.volumeSlider; }
    QAction *playAction() const { return w.playAction; }
    QAction *pauseAction() const { return w.pauseAction; }
    QList<QAction *> windowActions() const
    {
        return {w.openAction, w.playAction, w.pauseAction, w.stopAction,
                w.fullscreenAction, w.screenshotAction, w.aboutAction};
    }
    bool isPlaying() const { return w.isPlaying; }
    bool isPaused() const { return w.isPaused; }
    bool dragging() const { return w.dragging; }
    quint64 framesShown() const { return w.player->framesShown(); }
    double soundVolume() const { return w.player->volume(); }

    // The engine opens files off the GUI thread; this waits until it has.
    bool load(const QString &path)
    {
        w.playlistModel->addFile(path);
        w.loadMedia(path);
        return QTest::qWaitFor([&] { return w.player->isOpen(); }, 5000);
    }
    VideoWidget *video() const { return w.videoWidget; }
    void toggleFullscreen() { w.toggleFullscreen(); }
    void toggleVolumeSlider() { w.toggleVolumeSlider(); }
    void enterRestoredFullscreen(bool requested)
    {
        w.restoreFullscreen = requested;
        w.enterRestoredFullscreen();
    }
    void hideTimeout() { QMetaObject::invokeMethod(w.hideTimer, "timeout"); }

    // What a full-screen spell changes, in one comparable string.
    QString look() const
    {
        const QMargins m = child("centralwidget")->layout()->contentsMargins();
        const bool fixed = w.minimumSize() == QSize(800, 540) && w.maximumSize() == QSize(800, 540);
        return QStringLiteral("%1 %2 margins %3 %4 %5 %6 shadow %7 entry %8 bars %9")
            .arg(w.isFullScreen() ? "full" : "normal", fixed ? "fixed" : "free")
            .arg(m.left()).arg(m.top()).arg(m.right()).arg(m.bottom())
            .arg(child("centralwidget")->graphicsEffect()->isEnabled() ? "on" : "off")
            .arg(w.titleMenu->actions().at(2)->text())
            .arg(barsVisible() ? "shown" : "hidden");
    }
    bool barsVisible() const
    {
        return !child("headerFrame")->isHidden() && !child("frameMenu")->isHidden();
    }

private:
    ZeltoraWindow &w;
};

namespace {

const QString kNormalLook = "normal fixed margins 10 10 10 10 shadow on entry 全屏 bars shown";
const QString kFullLook = "full free margins 0 0 0 0 shadow off entry 退出全屏 bars hidden";

void showAt(ZeltoraWindow &w, const QPoint &pos)
{
    w.move(pos);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

} // namespace

class TestWindowChrome : public QObject
{
    Q_OBJECT

private slots:
    void init() { QSettings("Zeltora", "Zeltora").clear(); }

    void popupPlacement_data()
    {
        QTest::addColumn<QRect>("button");
        QTest::addColumn<QSize>("popup");
        QTest::addColumn<QRect>("screen"); // null: no screen there
        QTest::addColumn<QPoint>("expected");

        const QRect screen(0, 0, 1920, 1080);
        const QSize popup(30, 100);
        QTest::newRow("above, centred") << QRect(900, 1000, 24, 24) << popup << screen << QPoint(897, 895);
        QTest::newRow("odd sizes truncate") << QRect(900, 1000, 25, 24) << QSize(31, 100) << screen << QPoint(897, 895);
        QTest::newRow("top edge flips below") << QRect(500, 10, 40, 40) << popup << screen << QPoint(505, 55);
        QTest::newRow("just fits above") << QRect(500, 105, 40, 40) << popup << screen << QPoint(505, 0);
        QTest::newRow("left edge") << QRect(0, 500, 20, 20) << popup << screen << QPoint(0, 395);
        QTest::newRow("right edge") << QRect(1900, 500, 40, 40) << popup << screen << QPoint(1889, 395);
        QTest::newRow("second screen, panel on top")
            << QRect(1920, 40, 20, 20) << popup << QRect(1920, 30, 1280, 994) << QPoint(1920, 65);
        QTest::newRow("no screen") << QRect(-100, 10, 40, 40) << popup << QRect() << QPoint(-95, -95);
    }

    void popupPlacement()
    {
        QFETCH(QRect, button);
        QFETCH(QSize, popup);
        QFETCH(QRect, screen);
        QFETCH(QPoint, expected);
        const std::optional<QRect> area = screen.isNull() ? std::nullopt : std::optional<QRect>(screen);
        QCOMPARE(::popupPlacement(button, popup, area), expected);
    }

    void actionsAndTitleMenu()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        QStringList actions;
        for (QAction *action : a.windowActions()) {
            QVERIFY(w.actions().contains(action));
            actions << action->text() + "=" + action->shortcut().toString();
        }
        QCOMPARE(actions, (QStringList{"打开文件=Ctrl+O", "播放=Space", "暂停=", "停止=S",
                                       "全屏=F", "截图=C", "关于="}));
        QStringList entries;
        for (QAction *action : a.titleMenu()->actions())
            entries << (action->isSeparator() ? "|" : action->text());
        QCOMPARE(entries, (QStringList{"打开文件", "|", "全屏", "截图", "静音", "音轨", "字幕", "|", "一键重置", "关于"}));
        auto *menuButton = a.child<QPushButton>("menuButton");
        QCOMPARE(menuButton->menu(), a.titleMenu());
        QVERIFY(menuButton->styleSheet().contains("QPushButton::menu-indicator { image: none; }"));
        QVERIFY(a.titleMenu()->styleSheet().startsWith("QMenu { margin: 2px; background-color: #2E2E2E;"));
    }

    void keyboardShortcuts()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(0, 0));
        QVERIFY(a.load(mediaPath("clip.mp4")));
        const auto state = [&] { return a.isPlaying() ? "playing" : a.isPaused() ? "paused" : "stopped"; };

        QTest::keyClick(&w, Qt::Key_Space);
        QCOMPARE(state(), "playing");
        QTest::keyClick(&w, Qt::Key_Space);
        QCOMPARE(state(), "paused");
        QTest::keyClick(&w, Qt::Key_Space);
        QCOMPARE(state(), "playing");
        QWidget *button = a.child("playPauseButton"); // a focused button must not toggle twice
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(state(), "paused");
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(state(), "playing");
        a.playAction()->trigger(); // the action itself only plays
        QCOMPARE(state(), "playing");
        a.pauseAction()->trigger();
        QCOMPARE(state(), "paused");
        QTest::keyClick(&w, Qt::Key_S);
        QCOMPARE(state(), "stopped");
        QTest::keyClick(&w, Qt::Key_F);
        QCOMPARE(a.look(), kFullLook);
        QTest::keyClick(&w, Qt::Key_F);
        QCOMPARE(a.look(), kNormalLook);
        QCOMPARE(a.windowActions().at(4)->text(), QStringLiteral("全屏"));
    }

    void seekKeys_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QList<QKeySequence>>("keys");
        QTest::addColumn<int>("to");    // seconds
        QTest::addColumn<int>("shown"); // the time shown, once the picture has come
        QTest::addColumn<bool>("fullscreen");
        const QKeySequence left(Qt::Key_Left), right(Qt::Key_Right);
        const QKeySequence back(Qt::CTRL | Qt::Key_Left), ahead(Qt::CTRL | Qt::Key_Right);
        QTest::newRow("ctrl+left") << 100 << QList{back} << 40 << 40 << false;
        QTest::newRow("presses add up") << 100 << QList{right, right, ahead, left} << 165 << 165 << false;
        QTest::newRow("not before the start") << 3 << QList{left} << 0 << 0 << false;
        QTest::newRow("not past the end") << 300 << QList{ahead} << 320 << 320 << false;
        QTest::newRow("home") << 100 << QList{QKeySequence(Qt::Key_Home)} << 0 << 0 << false;
        QTest::newRow("in full screen") << 100 << QList{right} << 105 << 105 << true;
    }

    void seekKeys()
    {
        QFETCH(int, from);
        QFETCH(QList<QKeySequence>, keys);
        QFETCH(int, to);
        QFETCH(int, shown);
        QFETCH(bool, fullscreen);
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(0, 0));
        QVERIFY(a.load(mediaPath("long.mp4"))); // 320 s, a key frame every second
        if (fullscreen)
            a.toggleFullscreen();
        auto *slider = a.child<QSlider>("positionSlider");
        auto *time = a.child<QLabel>("currentTimeLabel");
        // Each seek is let finish, as key presses come one at a time.
        const auto settle = [&](auto step) {
            const quint64 before = a.framesShown();
            step();
            QTRY_VERIFY(a.framesShown() > before);
        };
        settle([&] { w.seekTo(from * 1000); });
        for (const QKeySequence &key : keys) {
            settle([&] {
                QTest::keySequence(&w, key);
                if (&key == &keys.last()) { // the target shows at once
                    QCOMPARE(slider->value(), to * 1000);
                    QCOMPARE(time->text(), formatTime(to * 1000));
                }
            });
        }
        QCOMPARE(slider->value(), shown * 1000);
        // Not playing, the picture and the time still go there once the picture comes.
        QCOMPARE(time->text(), formatTime(shown * 1000));
        QVERIFY(!a.isPlaying());
    }

    void volumeKeysAndWheel_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QString>("input"); // keys, and w+/w- for one wheel notch, w~ for half a one
        QTest::addColumn<QList<int>>("levels");
        QTest::newRow("up stops at 100") << 98 << "U U" << QList{100, 100};
        QTest::newRow("down stops at 0") << 3 << "D D" << QList{0, 0};
        QTest::newRow("mute, unmute") << 70 << "M M" << QList{0, 70};
        QTest::newRow("unmute from 0 to a level") << 0 << "M M" << QList{50, 0};
        QTest::newRow("a step after mute, then mute again") << 70 << "M U M M" << QList{0, 5, 0, 5};
        QTest::newRow("down to 0 by steps, then unmute") << 10 << "D D M" << QList{5, 0, 5};
        QTest::newRow("wheel notches") << 50 << "w+ w- w-" << QList{55, 50, 45};
        QTest::newRow("half notches add up") << 50 << "w~ w~ w~" << QList{50, 55, 55};
    }

    void volumeKeysAndWheel()
    {
        QFETCH(int, from);
        QFETCH(QString, input);
        QFETCH(QList<int>, levels);
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(0, 0));
        a.volumeSlider()->setValue(from);
        const QStringList steps = input.split(' ');
        for (int i = 0; i < steps.size(); ++i) {
            const QString &step = steps[i];
            if (step.startsWith('w')) {
                const int delta = step == "w+" ? 120 : step == "w-" ? -120 : 60;
                const QPointF at = a.video()->rect().center();
                QWheelEvent wheel(at, a.video()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                                  Qt::NoModifier, Qt::NoScrollPhase, false);
                QApplication::sendEvent(a.video(), &wheel);
            } else {
                QTest::keyClick(&w, step == "U" ? Qt::Key_Up : step == "D" ? Qt::Key_Down : Qt::Key_M);
            }
            QCOMPARE(a.volumeSlider()->value(), levels.at(i));
        }
        QCOMPARE(a.titleMenu()->actions().at(4)->text(),
                 a.volumeSlider()->value() == 0 ? QStringLiteral("取消静音") : QStringLiteral("静音"));
    }

    // A new window must sound as loud as its slider shows: the first touch of the
    // slider may not make the sound jump.
    void soundStartsAtTheSlidersLevel()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        const auto curve = [](int percent) {
            return double(QAudio::convertVolume(float(percent / 100.0), QAudio::LogarithmicVolumeScale,
                                                QAudio::LinearVolumeScale));
        };
        const int shown = a.volumeSlider()->value();
        QVERIFY(qAbs(a.soundVolume() - curve(shown)) < 1e-6);
        a.volumeSlider()->setValue(shown == 100 ? 99 : shown + 1);
        QVERIFY(qAbs(a.soundVolume() - curve(a.volumeSlider()->value())) < 1e-6);
    }

    void sliderClickAndHoverPreview()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(0, 0));
        auto *slider = a.child<PositionSlider>("positionSlider");
        const auto hoverAt = [&](int x) {
            const QPointF at(x, slider->height() / 2.0);
            QMouseEvent move(QEvent::MouseMove, at, slider->mapToGlobal(at), Qt::NoButton, {}, {});
            QApplication::sendEvent(slider, &move);
        };
        const auto popup = [&] { return w.findChild<PreviewPopup *>(); };

        QVERIFY(a.load(mediaPath("long.mp4")));
        const int x = slider->width() / 3;
        const int value = slider->valueAt(QPoint(x, slider->height() / 2));
        hoverAt(x);
        QVERIFY(popup()->isVisible());
        QCOMPARE(popup()->timeText(), formatTime(value));
        QTRY_VERIFY(popup()->hasPicture());
        QVERIFY(popup()->geometry().bottom() < slider->mapTo(&w, QPoint(0, 0)).y());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(slider, &leave);
        QVERIFY(!popup()->isVisible());

        // A click on the groove goes there.
        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(x, slider->height() / 2));
        QCOMPARE(slider->value(), value);
        QCOMPARE(a.child<QLabel>("currentTimeLabel")->text(), formatTime(value));

        // Sound alone: the time alone.
        QVERIFY(a.load(mediaPath("audio.mp3")));
        hoverAt(slider->width() / 2);
        QVERIFY(popup()->isVisible());
        QTest::qWait(200);
        QVERIFY(!popup()->hasPicture());
    }

    void pageKeysAndDoubleClick()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(0, 0));
        QVERIFY(a.load(mediaPath("bars-long.mp4")));
        QVERIFY(a.load(mediaPath("clip.mp4")));
        QTest::keyClick(&w, Qt::Key_PageUp);
        QTRY_COMPARE(w.windowTitle(), QStringLiteral("bars-long.mp4 - Zeltora"));
        QTest::keyClick(&w, Qt::Key_PageDown);
        QTRY_COMPARE(w.windowTitle(), QStringLiteral("clip.mp4 - Zeltora"));
        QVERIFY(a.isPlaying());

        // A double click on the picture goes full screen and leaves playback alone.
        QTRY_VERIFY(a.video()->hasFrame());
        QWindow *window = w.windowHandle();
        const QPoint onPicture = a.video()->mapTo(&w, a.video()->rect().center());
        QTest::mouseDClick(window, Qt::LeftButton, {}, onPicture);
        QVERIFY(w.isFullScreen());
        QTest::qWait(QApplication::doubleClickInterval() + 200);
        QVERIFY(a.isPlaying() && !a.isPaused());
        // A single click still pauses, once it is clear no second click follows.
        QTest::mouseClick(window, Qt::LeftButton, {}, a.video()->mapTo(&w, a.video()->rect().center()));
        QTRY_VERIFY(a.isPaused());
    }

    void fullscreenRoundTrip()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(30, 40));
        const QRect before = w.geometry();
        QCOMPARE(a.look(), kNormalLook);
        a.toggleFullscreen();
        QCOMPARE(a.look(), kFullLook);
        QTRY_COMPARE(w.geometry(), w.screen()->geometry());
        QVERIFY(w.maximumSize().height() > w.screen()->geometry().height());
        a.toggleFullscreen();
        QCOMPARE(a.look(), kNormalLook);
        QTRY_COMPARE(w.geometry(), before);
        QVERIFY(a.hideTimer()->isActive());
    }

    void restoredFullscreenLeavesLikeAToggledOne()
    {
        { // the saved state asks for full screen; the window opens normal first
            ZeltoraWindow w;
            ZeltoraWindowTestAccess a(w);
            showAt(w, QPoint(30, 40));
            const QRect before = w.geometry();
            a.enterRestoredFullscreen(false);
            QCOMPARE(a.look(), kNormalLook);
            a.enterRestoredFullscreen(true);
            QCOMPARE(a.look(), kFullLook);
            a.toggleFullscreen();
            QCOMPARE(a.look(), kNormalLook);
            QTRY_COMPARE(w.geometry(), before);
        }
        QRect normal;
        { // through the settings: the next window starts in full screen by itself
            ZeltoraWindow w;
            ZeltoraWindowTestAccess a(w);
            showAt(w, QPoint(50, 60));
            normal = w.geometry();
            a.toggleFullscreen();
        }
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        w.show();
        QTRY_COMPARE(a.look(), kFullLook);
        a.toggleFullscreen();
        QCOMPARE(a.look(), kNormalLook);
        QTRY_COMPARE(w.geometry(), normal);
    }

    void barsHideAndComeBack()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(0, 0));
        a.toggleFullscreen();
        QVERIFY(!a.barsVisible()); // before any movement

        // Moves travel the real route: over the picture, whose ancestors do not track
        // the mouse, and over the (hidden) place of the control bar.
        QWindow *window = w.windowHandle();
        const QPoint middle = w.rect().center();
        QTest::mouseMove(window, middle);
        QVERIFY(a.barsVisible());
        QVERIFY(a.hideTimer()->isActive());
        QTest::qWait(20); // laid out at the bottom of the screen
        const QWidget *bar = a.child("frameMenu");
        const QPoint onBar = bar->mapTo(&w, bar->rect().center());
        QVERIFY(bar->mapTo(&w, QPoint(0, bar->height())).y() > w.height() - 5);
        a.hideTimeout();
        QVERIFY(!a.barsVisible());

        QTest::mouseMove(window, onBar);
        QVERIFY(a.barsVisible());
        a.hideTimeout();
        QVERIFY(a.barsVisible()); // resting on a bar

        QTest::mouseMove(window, middle + QPoint(1, 1));
        QVERIFY(a.barsVisible());
        QTest::qWait(300);
        const int left = a.hideTimer()->remainingTime();
        QTest::mouseMove(window, middle);
        QVERIFY(a.hideTimer()->remainingTime() > left); // every move restarts the countdown
        a.hideTimeout();
        QVERIFY(!a.barsVisible());

        a.toggleFullscreen();
        QVERIFY(a.barsVisible());
        a.hideTimeout(); // outside full screen the timer has no effect
        QVERIFY(a.barsVisible());
    }

    void titleBarDrag()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(100, 100));
        QWindow *window = w.windowHandle();
        auto *title = a.child<QLabel>("titleLabel");
        const QPoint start = title->mapTo(&w, QPoint(5, 5));
        QTest::mousePress(window, Qt::LeftButton, {}, start);
        QVERIFY(a.dragging());
        QTest::mouseMove(window, start + QPoint(30, 20));
        QTRY_COMPARE(w.pos(), QPoint(130, 120));
        // A right release does not end the drag; the left one does.
        QMouseEvent right(QEvent::MouseButtonRelease, start, w.mapToGlobal(start), Qt::RightButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &right);
        QVERIFY(a.dragging());
        QTest::mouseRelease(window, Qt::LeftButton, {}, start);
        QVERIFY(!a.dragging());

        QTest::mousePress(window, Qt::RightButton, {}, start);
        QTest::mouseRelease(window, Qt::RightButton, {}, start);
        QVERIFY(!a.dragging());
        QTest::mousePress(window, Qt::LeftButton, {}, w.rect().center()); // the picture
        QTest::mouseRelease(window, Qt::LeftButton, {}, w.rect().center());
        QVERIFY(!a.dragging());
        a.toggleFullscreen();
        QTest::mousePress(window, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!a.dragging());
        QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(5, 5));
    }

    void volumePopup()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(0, 0));
        QWidget *button = a.child("volumeButton");
        QSlider *popup = a.volumeSlider();
        const auto buttonRect = [&] { return QRect(button->mapToGlobal(QPoint(0, 0)), button->size()); };

        a.toggleVolumeSlider();
        QVERIFY(popup->isVisible());
        QCOMPARE(popup->pos(), QPoint(buttonRect().x() + buttonRect().width() / 2 - 15, buttonRect().y() - 105));
        a.toggleVolumeSlider();
        QVERIFY(!popup->isVisible());

        // The window pushed up so that the button sits at the top edge: the point above
        // the button is on no screen, and the popup still opens below the button.
        const int up = buttonRect().top() - 10;
        w.move(0, -up);
        QTRY_COMPARE(buttonRect().top(), 10);
        a.toggleVolumeSlider();
        QCOMPARE(popup->pos().y(), buttonRect().bottom() + 1 + 5);

        QEvent leave(QEvent::Leave);
        QVERIFY(QApplication::sendEvent(popup, &leave));
        QVERIFY(!popup->isVisible());
        a.toggleVolumeSlider();
        QFocusEvent focusOut(QEvent::FocusOut);
        QApplication::sendEvent(popup, &focusOut);
        QVERIFY(!popup->isVisible());
    }

    void titleBarButtons()
    {
        MessageBoxCloser boxes;
        boxes.setAnswer(QMessageBox::No);
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        showAt(w, QPoint(0, 0));
        auto *close = a.child<QPushButton>("closeButton");

        // Run inside the event loop, where a quit would end it at once.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
        QTimer::singleShot(0, close, &QPushButton::click);
        guard.start(500);
        QCOMPARE(QCoreApplication::exec(), 7);
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].title, QStringLiteral("确认退出"));
        QCOMPARE(boxes.boxes()[0].text, QStringLiteral("确定要退出 Zeltora 吗？"));
        QVERIFY(w.isVisible());

        boxes.setAnswer(QMessageBox::Yes);
        QTimer::singleShot(0, close, &QPushButton::click);
        guard.start(5000);
        QCOMPARE(QCoreApplication::exec(), 0);
        guard.stop();

        a.child<QPushButton>("pushButton_3")->click();
        QVERIFY(w.isMinimized());
    }
};

QTEST_MAIN(TestWindowChrome)
#include "tst_window_chrome.moc"
