// Media intake and playlist commands of the main window: dialogs, drops, the
// playlist's context menu, navigation and the run through the list.

#include "playback/playbackcontroller.h"
#include "mainwindow/zeltorawindow.h"
#include "playlist/playlistmodel.h"
#include "testsupport.h"
#include "ui_zeltorawindow.h"

#include <QFileDialog>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <functional>

using testsupport::mediaPath;
using testsupport::MessageBoxCloser;
using testsupport::scratchPath;

class ZeltoraWindowTestAccess
{
public:
    explicit ZeltoraWindowTestAccess(ZeltoraWindow &w) : w(w) {}

    PlaybackController *player() const { return w.player; }
    PlaylistModel *model() const { return w.playlistModel; }
    bool isPlaying() const { return w.isPlaying; }
    int currentRow() const { return w.currentRow(); }
    QString loaded() const { return w.player->currentFile(); }
    QMenu *audioMenu() const { return w.audioMenu; }
    QMenu *subtitleMenu() const { return w.subtitleMenu; }
    QString status() const { return w.ui->statusBar->text(); }

    void openFile() { w.openFile(); }
    void openFolder() { w.openFolder(); }
    void stop() { w.stop(); }
    void playNext() { w.playNext(); }
    void playPrevious() { w.playPrevious(); }
    void removeFromPlaylist(int row) { w.removeFromPlaylist(row); }
    void endOfMedia() { w.handlePlaybackFinished(); }
    void showPlaylist() { if (!w.playlistVisible) w.togglePlaylist(); }
    void contextMenuAt(const QPoint &pos) { w.showPlaylistContextMenu(pos); }
    void add(const QStringList &paths) { for (const QString &p : paths) w.playlistModel->addFile(p); }
    // The engine opens files off the GUI thread; this waits until it has.
    bool loadAndPlay(const QString &path)
    {
        w.loadMedia(path);
        w.play();
        return QTest::qWaitFor([&] { return !w.player->isLoading(); }, 5000) && w.player->isOpen();
    }

private:
    ZeltoraWindow &w;
};

namespace {

// Answers the file dialogs in the user's place.
class AnsweringWindow : public ZeltoraWindow
{
public:
    QStringList files;
    QString folder;

private:
    QStringList askOpenFileNames() override { return files; }
    QString askExistingDirectory() override { return folder; }
};

// Runs `act` on the first popup menu that opens; the menu's texts are kept.
class MenuAnswer : public QObject
{
public:
    explicit MenuAnswer(std::function<void(QMenu *)> act) : act(std::move(act))
    {
        startTimer(10);
    }
    QStringList texts;
    bool shown = false;

protected:
    void timerEvent(QTimerEvent *) override
    {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu || shown)
            return;
        shown = true;
        for (QAction *a : menu->actions())
            texts << (a->isSeparator() ? QStringLiteral("|") : a->text());
        act(menu);
    }

private:
    std::function<void(QMenu *)> act;
};

std::function<void(QMenu *)> choose(const QString &text)
{
    return [text](QMenu *menu) {
        for (QAction *a : menu->actions()) {
            if (a->text() == text)
                menu->setActiveAction(a);
        }
        QTest::keyClick(menu, Qt::Key_Return);
    };
}

// A drop arrives only after the drag has entered the window; returns whether the
// window accepted the drag.
bool dropOn(QWidget &w, const QMimeData &mime)
{
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QApplication::sendEvent(&w, &enter);
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    return enter.isAccepted();
}

QString fresh(const QString &name)
{
    const QString path = scratchPath(name);
    QFileInfo info(path);
    if (info.isDir())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
    return path;
}

} // namespace

class TestWindowIntake : public QObject
{
    Q_OBJECT

    const QString clip = mediaPath("clip.mp4");
    const QString red = mediaPath("red.mp4");
    const QString bars = mediaPath("bars.mp4");
    const QString fps25 = mediaPath("fps25.mp4");
    // Long enough to be still playing when a test looks: red's one frame is over
    // before a poll may see it.
    const QString longer = mediaPath("bars-long.mp4");

private slots:
    void init() { QSettings("Zeltora", "Zeltora").clear(); }

    void realDialogsStartInMoviesAndCancelChangesNothing()
    {
        const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        QVERIFY(QDir().mkpath(movies));
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        a.add({red});
        struct Seen {
            QString title;
            QStringList filters;
            QString folder;
            bool dirsOnly;
        };
        QList<Seen> seen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                auto *dialog = qobject_cast<QFileDialog *>(top);
                if (dialog && dialog->isVisible()) {
                    seen.append({dialog->windowTitle(), dialog->nameFilters(),
                                 dialog->directory().absolutePath(),
                                 dialog->testOption(QFileDialog::ShowDirsOnly)});
                    dialog->reject();
                }
            }
        });
        poll.start(10);
        a.openFile();
        a.openFolder();
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[0].title, QStringLiteral("Open Media File"));
        QCOMPARE(seen[0].filters,
                 QStringList{"Media Files (*.mp4 *.avi *.mkv *.mov *.mp3 *.flac *.wav)"});
        QCOMPARE(seen[1].title, QStringLiteral("选择媒体文件夹"));
        QVERIFY(seen[1].dirsOnly);
        for (const Seen &dialog : seen)
            QCOMPARE(dialog.folder, QDir(movies).absolutePath());
        QCOMPARE(a.model()->count(), 1);
        QVERIFY(!a.player()->isOpen());
    }

    void openFilesAppendsAndStartsRowZeroWhenIdle()
    {
        AnsweringWindow w;
        ZeltoraWindowTestAccess a(w);
        a.add({longer});
        w.files = {clip, clip};
        a.openFile();
        QCOMPARE(a.model()->count(), 3); // no duplicate check
        QTRY_COMPARE(a.loaded(), longer); // row 0 of the whole list, not the first new file
        QVERIFY(a.isPlaying());

        w.files = {bars};
        a.openFile(); // while playing: appended, playback untouched
        QCOMPARE(a.model()->count(), 4);
        QTRY_COMPARE(a.loaded(), longer);

        w.files.clear();
        a.openFile(); // cancelled
        QCOMPARE(a.model()->count(), 4);
    }

    void openFolderScansMediaByNameIgnoringCase()
    {
        MessageBoxCloser boxes;
        const QString dir = fresh("folder");
        QVERIFY(QDir().mkpath(dir + "/sub.mp4"));
        const QList<QPair<QString, QString>> copies{{clip, "b.MP4"}, {fps25, "a.mkv"},
                                                    {mediaPath("audio.wav"), "C.wav"},
                                                    {clip, ".hidden.mp4"}, {clip, "notes.txt"}};
        for (const auto &[from, to] : copies)
            QVERIFY(QFile::copy(from, dir + "/" + to));
        const QString empty = fresh("empty-folder");
        QVERIFY(QDir().mkpath(empty));

        AnsweringWindow w;
        ZeltoraWindowTestAccess a(w);
        a.add({longer});
        w.folder = empty;
        a.openFolder(); // nothing listed: nothing starts, not even the existing entry
        QCOMPARE(a.model()->count(), 1);
        QVERIFY(!a.player()->isOpen());

        w.folder = dir;
        a.openFolder();
        QStringList rows;
        for (int r = 0; r < a.model()->count(); ++r)
            rows << a.model()->filePath(r);
        QCOMPARE(rows, (QStringList{longer, dir + "/a.mkv", dir + "/b.MP4", dir + "/C.wav"}));
        QTRY_COMPARE(a.loaded(), longer);
        QVERIFY(a.isPlaying());
        QVERIFY(boxes.boxes().isEmpty());
    }

    void dropsTakeLocalPathsOnly()
    {
        MessageBoxCloser boxes;
        AnsweringWindow w;
        ZeltoraWindowTestAccess a(w);
        const QString folder = fresh("dropped-folder");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::copy(red, folder + "/b.mp4"));
        QVERIFY(QFile::copy(bars, folder + "/A.mp4"));
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(clip), QUrl("https://example.com/a.mp4"),
                      QUrl::fromLocalFile(folder)});
        QVERIFY(dropOn(w, mime));
        // A folder gives the media files in it, in name order.
        QCOMPARE(testsupport::playlistEntries(*a.model()),
                 (QStringList{clip, folder + "/A.mp4", folder + "/b.mp4"}));
        QTRY_COMPARE(a.loaded(), clip);
        QVERIFY(a.isPlaying());
        a.removeFromPlaylist(2);

        QMimeData text;
        text.setText(clip);
        a.stop();
        QVERIFY(!dropOn(w, text)); // refused, and a drop without URLs starts nothing
        QVERIFY(!a.isPlaying());

        // Web links alone add nothing, yet an idle list still starts at row 0.
        a.removeFromPlaylist(1);
        a.removeFromPlaylist(0);
        a.add({longer});
        QMimeData web;
        web.setUrls({QUrl("https://example.com/a.mp4"), QUrl("ftp://example.com/b.mkv")});
        QVERIFY(dropOn(w, web));
        QCOMPARE(a.model()->count(), 1);
        QTRY_COMPARE(a.loaded(), longer);
        QVERIFY(a.isPlaying());
    }

    // The title menu lists the open file's tracks, "关闭" first among the subtitles;
    // a subtitle file dropped while it plays is shown with it and listed, and does
    // not join the playlist.
    void trackMenusAndDroppedSubtitles()
    {
        MessageBoxCloser boxes;
        AnsweringWindow w;
        ZeltoraWindowTestAccess a(w);
        QVERIFY(a.loadAndPlay(mediaPath("tracks.mkv")));
        const auto texts = [](QMenu *menu) {
            QStringList list;
            for (const QAction *action : menu->actions())
                list << action->text() + (action->isChecked() ? QStringLiteral(" *") : QString());
            return list;
        };
        QCOMPARE(texts(a.audioMenu()), (QStringList{QStringLiteral("eng [aac] *"), QStringLiteral("国语 · chi [aac]")}));
        QCOMPARE(texts(a.subtitleMenu()), (QStringList{QStringLiteral("关闭"), QStringLiteral("简体中文 · chi [subrip] *"),
                                                       QStringLiteral("eng [subrip]")}));

        const QString dropped = mediaPath("beside-long/movie.utf8.srt");
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(dropped)});
        QVERIFY(dropOn(w, mime));
        QCOMPARE(a.model()->count(), 0);
        QCOMPARE(a.player()->mediaInfo().subtitleFile, dropped);
        QTRY_COMPARE(texts(a.subtitleMenu()).last(), QStringLiteral("文件：movie.utf8.srt *"));

        // One that cannot be read is named in the status line.
        QMimeData broken;
        broken.setUrls({QUrl::fromLocalFile(mediaPath("beside/film.broken.srt"))});
        QVERIFY(dropOn(w, broken));
        QTRY_VERIFY(a.status().contains(QStringLiteral("film.broken.srt")));

        a.subtitleMenu()->actions().first()->trigger();
        QCOMPARE(a.player()->mediaInfo().subtitleTrack, -1);
        QVERIFY(a.player()->mediaInfo().subtitleFile.isEmpty());
        QTRY_COMPARE(texts(a.subtitleMenu()).first(), QStringLiteral("关闭 *"));
        QVERIFY(boxes.boxes().isEmpty());
    }

    void playlistViewClickAndContextMenu()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        auto *view = w.findChild<QListView *>("playlistView");
        a.showPlaylist();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        { // empty list, empty space: no menu at all
            MenuAnswer answer([](QMenu *m) { m->close(); });
            a.contextMenuAt(QPoint(5, 5));
            QTest::qWait(50);
            QVERIFY(!answer.shown);
        }
        a.add({red, bars, clip});
        const auto rowCentre = [&](int row) { return view->visualRect(a.model()->index(row)).center(); };

        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowCentre(2));
        QTRY_COMPARE(a.loaded(), clip);
        QVERIFY(a.isPlaying());
        {
            MenuAnswer answer([](QMenu *m) { QTest::keyClick(m, Qt::Key_Escape); });
            a.contextMenuAt(QPoint(5, view->viewport()->height() - 5));
            QCOMPARE(answer.texts, QStringList{"清空播放列表"});
        }
        {
            MenuAnswer answer(choose("播放"));
            a.contextMenuAt(rowCentre(1));
            QCOMPARE(answer.texts, (QStringList{"播放", "删除", "|", "清空播放列表"}));
            QTRY_COMPARE(a.loaded(), bars);
            QVERIFY(a.isPlaying());
        }
        {
            MenuAnswer answer(choose("删除"));
            a.contextMenuAt(rowCentre(0));
            QCOMPARE(a.model()->count(), 2);
            QCOMPARE(a.model()->filePath(0), bars);
            QVERIFY(a.isPlaying()); // another entry than the loaded one
        }
        {
            MenuAnswer answer(choose("清空播放列表"));
            a.contextMenuAt(rowCentre(0));
            QCOMPARE(a.model()->count(), 0);
            QVERIFY(!a.isPlaying());
            QVERIFY(!w.findChild<QWidget *>("nextButton")->isEnabled());
        }
    }

    void navigation_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("loaded"); // empty: nothing open
        QTest::addColumn<bool>("forward");
        QTest::addColumn<QString>("expected");

        const QString missing = fresh("missing.mp4");
        const QString link = fresh("link-to-clip.mp4");
        QVERIFY(QFile::link(clip, link));
        const QStringList three{clip, red, bars};
        const QStringList dups{clip, red, clip, bars};
        QTest::newRow("next") << three << red << true << bars;
        QTest::newRow("next wraps") << three << bars << true << clip;
        QTest::newRow("previous") << three << red << false << clip;
        QTest::newRow("previous wraps") << three << clip << false << bars;
        QTest::newRow("next after first copy") << dups << clip << true << red;
        QTest::newRow("previous from first copy") << dups << clip << false << bars;
        QTest::newRow("next, nothing open") << three << QString() << true << clip;
        QTest::newRow("previous, nothing open") << three << QString() << false << bars;
        QTest::newRow("next, not listed") << three << fps25 << true << clip;
        QTest::newRow("previous, not listed") << three << fps25 << false << bars;
        QTest::newRow("link counts as current") << QStringList{link, red, bars} << clip << true << red;
        // A vanished entry is not current just because nothing is open.
        QTest::newRow("next, vanished entry") << QStringList{clip, missing, red} << QString() << true << clip;
        QTest::newRow("previous, vanished entry") << QStringList{clip, missing, red} << QString() << false << red;
        QTest::newRow("one entry") << QStringList{clip} << clip << true << clip;
        QTest::newRow("one entry, nothing open") << QStringList{clip} << QString() << false << QString();
    }

    void navigation()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, loaded);
        QFETCH(bool, forward);
        QFETCH(QString, expected);
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        a.add(entries);
        if (!loaded.isEmpty())
            QVERIFY(a.loadAndPlay(loaded));
        forward ? a.playNext() : a.playPrevious();
        QTRY_COMPARE(a.loaded(), expected);
        QCOMPARE(a.isPlaying(), !expected.isEmpty());
    }

    void removal()
    {
        const QString gone = fresh("gone.mp4");
        QVERIFY(QFile::copy(clip, gone));
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        a.add({red, bars, red, gone, fresh("never.mp4")});
        QVERIFY(a.loadAndPlay(bars));
        a.removeFromPlaylist(-1);
        a.removeFromPlaylist(5);
        a.removeFromPlaylist(0); // another entry
        QVERIFY(a.isPlaying());
        QCOMPARE(a.model()->count(), 4);
        a.removeFromPlaylist(0); // the loaded entry
        QVERIFY(!a.isPlaying());
        QTRY_COMPARE(a.loaded(), bars); // stopped, nothing else started
        QCOMPARE(a.model()->count(), 3);

        QVERIFY(a.loadAndPlay(red));
        a.add({red});
        a.removeFromPlaylist(3); // any copy of the loaded file is the loaded entry
        QVERIFY(!a.isPlaying());

        // A file deleted while open has no canonical path; neither has an entry that
        // never existed, and the two must not count as the same. The entry it was
        // loaded from is still the current one, so the list plays on after it.
        QVERIFY(a.loadAndPlay(gone));
        QVERIFY(QFile::remove(gone));
        QCOMPARE(a.currentRow(), 1);
        a.removeFromPlaylist(2);
        QVERIFY(a.isPlaying());
    }

    void endOfMediaPlaysTheListThrough()
    {
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        QSignalSpy titles(&w, &QWidget::windowTitleChanged);
        a.add({red, bars});
        QVERIFY(a.loadAndPlay(red));
        QTRY_VERIFY_WITH_TIMEOUT(titles.count() >= 3, 10000);
        QCOMPARE(titles.at(0).at(0).toString(), QStringLiteral("red.mp4 - Zeltora"));
        QCOMPARE(titles.at(1).at(0).toString(), QStringLiteral("bars.mp4 - Zeltora"));
        QCOMPARE(titles.at(2).at(0).toString(), QStringLiteral("red.mp4 - Zeltora"));
        QVERIFY(a.isPlaying());

        a.removeFromPlaylist(1);
        QVERIFY(a.loadAndPlay(red));
        QTRY_VERIFY_WITH_TIMEOUT(!a.isPlaying(), 5000); // one entry: ends stopped
        QTest::qWait(200);
        QVERIFY(!a.isPlaying());
        QTRY_COMPARE(a.loaded(), red);
        a.endOfMedia(); // with an empty list, too, it just stops
        a.removeFromPlaylist(0);
        a.endOfMedia();
        QVERIFY(!a.isPlaying());
    }
};

QTEST_MAIN(TestWindowIntake)
#include "tst_window_intake.moc"
