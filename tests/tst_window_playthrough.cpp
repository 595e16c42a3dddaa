// Playing through the playlist when entries are broken, listed twice, vanish or
// come back; and intake that turns away what is not a regular file before anything
// tries to open it.

#include "mainwindow/zeltorawindow.h"
#include "playback/playbackcontroller.h"
#include "playlist/mediapaths.h"
#include "playlist/playlistmodel.h"
#include "testsupport.h"
#include "ui_zeltorawindow.h"

#include <QDropEvent>
#include <QMimeData>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using testsupport::mediaPath;
using testsupport::MessageBoxCloser;
using testsupport::playlistEntries;
using testsupport::scratchPath;

class ZeltoraWindowTestAccess
{
public:
    explicit ZeltoraWindowTestAccess(ZeltoraWindow &w) : w(w)
    {
        // What the engine was asked to open, in order; a failure as "!name".
        QObject::connect(w.player, &PlaybackController::loaded, &w,
                         [this](const MediaInfo &info) { events << QFileInfo(info.path).fileName(); });
        QObject::connect(w.player, &PlaybackController::loadFailed, &w,
                         [this](const QString &path) { events << "!" + QFileInfo(path).fileName(); });
    }

    PlaybackController *player() const { return w.player; }
    PlaylistModel *model() const { return w.playlistModel; }
    QString status() const { return w.ui->statusBar->text(); }
    bool isPlaying() const { return w.isPlaying; }
    bool isPaused() const { return w.isPaused; }
    void pause() { w.pause(); }
    void click(int row) { w.playlistClicked(w.playlistModel->index(row)); }
    void remove(int row) { w.removeFromPlaylist(row); }
    void playNext() { w.playNext(); }
    int currentRow() const { return w.currentRow(); }
    void openFile() { w.openFile(); }
    void openFolder() { w.openFolder(); }
    void drop(const QStringList &paths)
    {
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls << QUrl::fromLocalFile(path);
        QMimeData mime;
        mime.setUrls(urls);
        QDropEvent event(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        w.dropEvent(&event);
    }

    QStringList events;

private:
    ZeltoraWindow &w;
};
using Access = ZeltoraWindowTestAccess;

namespace {

class AnsweringWindow : public ZeltoraWindow
{
public:
    QStringList files;
    QString folder;

private:
    QStringList askOpenFileNames() override { return files; }
    QString askExistingDirectory() override { return folder; }
};

// Broken files under names of their own, so each failure can be told apart.
QString broken(const QString &name)
{
    const QString path = scratchPath(name);
    QFile::remove(path);
    return QFile::copy(mediaPath("not-media.mp4"), path) ? path : QString();
}

} // namespace

class TestWindowPlaythrough : public QObject
{
    Q_OBJECT

    // Short clips, so the list comes round quickly.
    const QString red = mediaPath("red.mp4");
    const QString tiny = mediaPath("tiny.mkv");
    const QString banner = mediaPath("banner.mp4");

private slots:
    void init() { QSettings("Zeltora", "Zeltora").clear(); }

    void playThrough_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("expected"); // the opens seen, from the first
        QTest::addColumn<bool>("stops");           // and no more after them
        QTest::addColumn<QString>("status");
        const QString bad = broken("bad.mp4");
        const QStringList none;
        const QString skipped = QStringLiteral("无法播放，已跳过: bad.mp4");
        QTest::newRow("broken first") << QStringList{bad, red, tiny}
                                      << QStringList{"!bad.mp4", "red.mp4", "tiny.mkv", "red.mp4", "tiny.mkv"}
                                      << false << skipped;
        QTest::newRow("broken in the middle") << QStringList{red, bad, tiny}
                                              << QStringList{"red.mp4", "!bad.mp4", "tiny.mkv", "red.mp4", "tiny.mkv"}
                                              << false << skipped;
        QTest::newRow("broken last") << QStringList{red, tiny, bad}
                                     << QStringList{"red.mp4", "tiny.mkv", "!bad.mp4", "red.mp4", "tiny.mkv", "red.mp4"}
                                     << false << skipped;
        QTest::newRow("same file twice") << QStringList{red, tiny, red, banner}
                                         << QStringList{"red.mp4", "tiny.mkv", "red.mp4", "banner.mp4", "red.mp4", "tiny.mkv"}
                                         << false << QString();
        QTest::newRow("one playable among broken") << QStringList{red, bad}
                                                   << QStringList{"red.mp4", "!bad.mp4", "red.mp4"}
                                                   << true << skipped;
        QTest::newRow("every entry broken") << QStringList{bad, broken("bad-2.mp4"), broken("bad-3.mp4")}
                                            << QStringList{"!bad.mp4", "!bad-2.mp4", "!bad-3.mp4"}
                                            << true << QStringLiteral("播放列表中没有可以播放的文件");
    }

    void playThrough()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, expected);
        QFETCH(bool, stops);
        QFETCH(QString, status);
        MessageBoxCloser boxes;
        ZeltoraWindow w;
        Access a(w);
        a.drop(entries);
        QTRY_VERIFY_WITH_TIMEOUT(a.events.size() >= expected.size(), 20000);
        if (stops) {
            QTRY_VERIFY(!a.isPlaying() && !a.player()->isLoading());
            QTest::qWait(300);
            QCOMPARE(a.events, expected);
        }
        QCOMPARE(a.events.mid(0, expected.size()), expected);
        QVERIFY(boxes.boxes().isEmpty());
        QCOMPARE(a.status(), status);
        for (int row = 0; row < entries.size(); ++row)
            QCOMPARE(a.model()->hasFailed(row), entries.at(row).contains("/bad"));
    }

    void chosenBrokenFileIsReportedAndNothingElsePlays_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("clicked") << "click";
        QTest::newRow("command line") << "outside";
        QTest::newRow("open dialog") << "dialog";
    }

    void chosenBrokenFileIsReportedAndNothingElsePlays()
    {
        QFETCH(QString, how);
        const QString bad = broken("chosen-bad.mp4");
        MessageBoxCloser boxes;
        AnsweringWindow w;
        Access a(w);
        if (how == "dialog") {
            w.files = {bad};
            a.openFile(); // idle, with nothing listed before
        } else {
            a.drop({red, bad, tiny});
            QTRY_VERIFY(!a.events.isEmpty());
            how == "click" ? a.click(1) : w.playFromOutside(bad);
        }
        QTRY_COMPARE(boxes.boxes().size(), 2);
        QCOMPARE(boxes.boxes().at(1).title, QStringLiteral("错误"));
        QCOMPARE(boxes.boxes().at(1).text, QStringLiteral("无法加载媒体文件: ") + bad);
        QTest::qWait(300);
        QCOMPARE(boxes.boxes().size(), 2);
        QCOMPARE(a.events.last(), QStringLiteral("!chosen-bad.mp4"));
        QVERIFY(!a.isPlaying());
        QVERIFY(!a.player()->isOpen() && !a.player()->isLoading());
        QVERIFY(a.model()->hasFailed(playlistEntries(*a.model()).indexOf(bad)));
    }

    void playingCopyIsToldApartThroughRemovals()
    {
        const QString longer = mediaPath("bars-long.mp4");
        ZeltoraWindow w;
        Access a(w);
        a.model()->addFiles({longer, tiny, longer, banner});
        a.click(2);
        QTRY_VERIFY(a.player()->isOpen());
        a.remove(1);
        a.remove(0); // the other copy: what plays goes on
        QVERIFY(a.isPlaying());
        QCOMPARE(a.currentRow(), 0);
        a.playNext();
        QTRY_COMPARE(a.player()->currentFile(), banner);
        QCOMPARE(a.currentRow(), 1);
    }

    void vanishedFileIsPassedOverUntilBack()
    {
        const QString file = scratchPath("vanishing.mp4");
        QFile::remove(file);
        QVERIFY(QFile::copy(mediaPath("bars.mp4"), file));
        MessageBoxCloser boxes;
        ZeltoraWindow w;
        Access a(w);
        a.drop({file, red});
        QTRY_COMPARE(a.events, QStringList{"vanishing.mp4"});
        // Open files live on: it plays out, then the list goes on without it.
        QVERIFY(QFile::remove(file));
        QTRY_VERIFY_WITH_TIMEOUT(!a.isPlaying() && a.events.size() == 2, 20000);
        QTest::qWait(300);
        QCOMPARE(a.events, (QStringList{"vanishing.mp4", "red.mp4"}));
        QTRY_VERIFY(!a.model()->isAvailable(0));
        QVERIFY(!a.model()->hasFailed(0));

        // Back again: the next time round plays it.
        QVERIFY(QFile::copy(mediaPath("bars.mp4"), file));
        a.model()->recheckFiles();
        QTRY_VERIFY(a.model()->isAvailable(0));
        w.play(); // red again, from its start, then on round the list
        QTRY_VERIFY_WITH_TIMEOUT(a.events.size() >= 3, 20000);
        QCOMPARE(a.events.at(2), QStringLiteral("vanishing.mp4"));
        QVERIFY(boxes.boxes().isEmpty());
        QCOMPARE(playlistEntries(*a.model()), (QStringList{file, red}));
    }

    void addingNeverInterruptsAPausedFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("drop") << "drop";
        QTest::newRow("open dialog") << "dialog";
        QTest::newRow("folder") << "folder";
    }

    void addingNeverInterruptsAPausedFile()
    {
        QFETCH(QString, how);
        AnsweringWindow w;
        Access a(w);
        const QString longer = mediaPath("bars-long.mp4");
        w.playFromOutside(longer);
        QTRY_VERIFY(a.player()->isOpen());
        a.pause();
        w.files = {red};
        w.folder = QFileInfo(red).absolutePath();
        how == "drop" ? a.drop({red}) : how == "dialog" ? a.openFile() : a.openFolder();
        QVERIFY(a.model()->count() > 1);
        QTest::qWait(200);
        QVERIFY(a.isPaused());
        QCOMPARE(a.player()->currentFile(), longer);
    }

    void namedPipeOnEveryIntakePath_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("boxCount");
        QTest::newRow("drop") << "drop" << 0;
        QTest::newRow("open dialog") << "dialog" << 1;
        QTest::newRow("folder") << "folder" << 0;
        QTest::newRow("command line") << "outside" << 2;
        QTest::newRow("restored playlist") << "restore" << 0;
        QTest::newRow("listed, then chosen") << "click" << 2;
    }

    void namedPipeOnEveryIntakePath()
    {
        QFETCH(QString, how);
        QFETCH(int, boxCount);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pipe = dir.filePath("pipe.mp4");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const QString good = dir.filePath("good.mp4");
        QVERIFY(QFile::copy(red, good));
        if (how == "restore")
            QSettings("Zeltora", "Zeltora").setValue("Playlist/files", QStringList{pipe, good});

        MessageBoxCloser boxes;
        AnsweringWindow w;
        Access a(w);
        w.files = {pipe};
        w.folder = dir.path();
        if (how == "drop")
            a.drop({pipe});
        else if (how == "dialog")
            a.openFile();
        else if (how == "folder")
            a.openFolder();
        else if (how == "outside")
            w.playFromOutside(pipe);
        else if (how == "click") {
            a.model()->addFiles({pipe});
            a.click(0);
        }
        QTRY_COMPARE(boxes.boxes().size(), boxCount);
        QTest::qWait(200);
        QCOMPARE(boxes.boxes().size(), boxCount);
        const QString refusal = mediapaths::rejectionText(pipe);
        QCOMPARE(boxCount ? boxes.boxes().at(0).text : a.status(),
                 how == "folder" || how == "restore" ? QString() : refusal);
        const QStringList listed = playlistEntries(*a.model());
        QCOMPARE(listed.contains(pipe), how == "click");
        QCOMPARE(listed.contains(good), how == "folder" || how == "restore");
        QVERIFY(!a.events.contains("!pipe.mp4"));
        QVERIFY(a.player()->currentFile() != pipe);
    }
};

QTEST_MAIN(TestWindowPlaythrough)
#include "tst_window_playthrough.moc"
