#include "mainwindow/zeltorawindow.h"
#include "playlist/playlistmodel.h"
#include "testsupport.h"
#include "video/videowidget.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QSlider>
#include <QtTest>

#include <cstdio>
#include <memory>

class ZeltoraWindowTestAccess
{
public:
    static QSlider *volume(ZeltoraWindow &w) { return w.volumeSlider; }
    static PlaylistModel *playlist(ZeltoraWindow &w) { return w.playlistModel; }
    static VideoWidget *video(ZeltoraWindow &w) { return w.videoWidget; }
    static bool restoreFullscreen(ZeltoraWindow &w) { return w.restoreFullscreen; }
    static bool isPlaying(ZeltoraWindow &w) { return w.isPlaying; }
    static bool isPaused(ZeltoraWindow &w) { return w.isPaused; }
    static void reset(ZeltoraWindow &w) { w.resetApplication(); }
    static void toggleFullscreen(ZeltoraWindow &w) { w.toggleFullscreen(); }

    static QStringList files(ZeltoraWindow &w) { return testsupport::playlistEntries(*w.playlistModel); }
};
using Access = ZeltoraWindowTestAccess;

namespace {

const char kCrashChildVariable[] = "ZELTORA_SETTINGS_CRASH_CHILD";

void clearStore()
{
    QSettings settings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora"));
    settings.clear();
    settings.sync();
}

QString storeFile()
{
    return QSettings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora")).fileName();
}

QVariant stored(const QString &key)
{
    QSettings settings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora"));
    return settings.value(key);
}

void writeStored(const QString &key, const QVariant &value)
{
    QSettings settings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora"));
    settings.setValue(key, value);
    settings.sync();
}

QStringList storedGroups()
{
    QSettings settings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora"));
    return settings.childGroups();
}

// A media file of its own for each name, so a test can delete one.
QString mediaCopy(const QString &name)
{
    const QString path = testsupport::scratchPath(name);
    QFile::remove(path);
    if (!QFile::copy(testsupport::mediaPath(QStringLiteral("clip.mp4")), path))
        return QString();
    return path;
}

QLabel *label(ZeltoraWindow &w, const char *name) { return w.findChild<QLabel *>(QLatin1String(name)); }

// The other half of crashKeepsPlaylist: changes the playlist and the volume, then
// idles until the parent kills it.
int runCrashChild(const QStringList &files)
{
    ZeltoraWindow window;
    for (const QString &file : files)
        Access::playlist(window)->addFile(file);
    Access::volume(window)->setValue(70);
    std::printf("changed\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

class TestWindowSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void firstStartUsesDefaultsAndSavesThem();
    void storedVolumeIsBounded_data();
    void storedVolumeIsBounded();
    void missingFilesAreKeptUnavailable();
    void fullscreenReturnsAfterShow();
    void fullscreenSurvivesRestart();
    void changesAreSavedSoonNotAtOnce();
    void crashKeepsPlaylist();
    void resetDeclinedChangesNothing();
    void resetAcceptedReturnsToFirstStart();
};

void TestWindowSettings::initTestCase()
{
    // Never touch the real user's store.
    QVERIFY2(storeFile().startsWith(QStringLiteral(ZELTORA_BINARY_DIR)), qPrintable(storeFile()));
    QVERIFY(QFile::exists(testsupport::mediaPath(QStringLiteral("clip.mp4"))));
}

void TestWindowSettings::init()
{
    clearStore();
}

void TestWindowSettings::firstStartUsesDefaultsAndSavesThem()
{
    {
        ZeltoraWindow window;
        QCOMPARE(Access::volume(window)->value(), 50);
        QVERIFY(Access::files(window).isEmpty());
        QVERIFY(!Access::restoreFullscreen(window));
        QCOMPARE(window.size(), QSize(800, 540));

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::qWait(400);
        QVERIFY(!window.isFullScreen());
        window.move(130, 90);
    }

    // The window wrote its state on the way out, in the stored format.
    QCOMPARE(storedGroups(), QStringList({"MainWindow", "Playlist"}));
    QCOMPARE(stored("MainWindow/volume").toInt(), 50);
    QCOMPARE(stored("MainWindow/fullscreen").toBool(), false);
    QVERIFY(!stored("MainWindow/geometry").toByteArray().isEmpty());
    QVERIFY(!stored("MainWindow/state").toByteArray().isEmpty());
    QVERIFY(stored("Playlist/files").toStringList().isEmpty());

    ZeltoraWindow again;
    QCOMPARE(again.pos(), QPoint(130, 90));
}

void TestWindowSettings::storedVolumeIsBounded_data()
{
    QTest::addColumn<QVariant>("storedValue");
    QTest::addColumn<int>("shown");
    QTest::newRow("in range") << QVariant(30) << 30;
    QTest::newRow("too loud") << QVariant(250) << 100;
    QTest::newRow("negative") << QVariant(-20) << 0;
    QTest::newRow("numeric text") << QVariant(QStringLiteral("75")) << 75;
    QTest::newRow("text") << QVariant(QStringLiteral("loud")) << 0;
}

void TestWindowSettings::storedVolumeIsBounded()
{
    QFETCH(QVariant, storedValue);
    QFETCH(int, shown);
    writeStored(QStringLiteral("MainWindow/volume"), storedValue);
    ZeltoraWindow window;
    QCOMPARE(Access::volume(window)->value(), shown);
}

void TestWindowSettings::missingFilesAreKeptUnavailable()
{
    const QString first = mediaCopy(QStringLiteral("first.mp4"));
    const QString second = mediaCopy(QStringLiteral("second.mp4"));
    const QString third = mediaCopy(QStringLiteral("third.mp4"));
    QVERIFY(!first.isEmpty() && !second.isEmpty() && !third.isEmpty());
    const QString pipe = testsupport::scratchPath(QStringLiteral("stored-pipe.mp4"));
    QFile::remove(pipe);
    QCOMPARE(QProcess::execute(QStringLiteral("mkfifo"), {pipe}), 0);
    writeStored(QStringLiteral("Playlist/files"), QStringList({first, second, pipe, third}));
    QVERIFY(QFile::remove(second));

    {
        // The missing file stays, shown unavailable; the pipe is never to be opened.
        ZeltoraWindow window;
        PlaylistModel *model = Access::playlist(window);
        QCOMPARE(Access::files(window), QStringList({first, second, third}));
        QTRY_VERIFY_WITH_TIMEOUT(!model->isAvailable(1), 10000);
        QVERIFY(model->isAvailable(0) && model->isAvailable(2));

        // Back again, it is found by the model's next look.
        QVERIFY(QFile::copy(first, second));
        model->recheckFiles();
        QTRY_VERIFY_WITH_TIMEOUT(model->isAvailable(1), 10000);

        // Reading the store back is not a change: nothing is written until the window
        // goes or the playlist really changes.
        QTest::qWait(1500);
        QCOMPARE(stored("Playlist/files").toStringList(), QStringList({first, second, pipe, third}));
    }
    QCOMPARE(stored("Playlist/files").toStringList(), QStringList({first, second, third}));
    QFile::remove(pipe);
}

void TestWindowSettings::fullscreenReturnsAfterShow()
{
    writeStored(QStringLiteral("MainWindow/fullscreen"), true);
    QElapsedTimer sinceConstruction;
    sinceConstruction.start();
    ZeltoraWindow window;
    QVERIFY(Access::restoreFullscreen(window));
    window.show();
    QVERIFY(!window.isFullScreen());
    QTRY_VERIFY_WITH_TIMEOUT(window.isFullScreen(), 3000);
    QVERIFY2(sinceConstruction.elapsed() >= 140, qPrintable(QString::number(sinceConstruction.elapsed())));
}

void TestWindowSettings::fullscreenSurvivesRestart()
{
    {
        ZeltoraWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Access::toggleFullscreen(window);
        QVERIFY(window.isFullScreen());
    }
    QCOMPARE(stored("MainWindow/fullscreen").toBool(), true);

    ZeltoraWindow window;
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(window.isFullScreen(), 3000);
}

void TestWindowSettings::changesAreSavedSoonNotAtOnce()
{
    const QString file = mediaCopy(QStringLiteral("soon.mp4"));
    ZeltoraWindow window;

    // A burst of changes is folded into one write a moment later.
    for (int i = 0; i < 20; ++i)
        Access::playlist(window)->addFile(file);
    for (int volume = 51; volume <= 70; ++volume)
        Access::volume(window)->setValue(volume);
    QVERIFY(!QFile::exists(storeFile()) || stored("Playlist/files").toStringList().isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(stored("Playlist/files").toStringList().size(), 20, 4000);
    QCOMPARE(stored("MainWindow/volume").toInt(), 70);
    QCOMPARE(stored("MainWindow/fullscreen").toBool(), false);

    Access::playlist(window)->removeFile(0);
    QTRY_COMPARE_WITH_TIMEOUT(stored("Playlist/files").toStringList().size(), 19, 4000);
    Access::playlist(window)->clear();
    QTRY_VERIFY_WITH_TIMEOUT(stored("Playlist/files").toStringList().isEmpty(), 4000);
}

void TestWindowSettings::crashKeepsPlaylist()
{
    const QStringList files = {mediaCopy(QStringLiteral("kept-1.mp4")), mediaCopy(QStringLiteral("kept-2.mp4"))};

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kCrashChildVariable), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), files);
    QVERIFY(child.waitForStarted());
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += child.readAllStandardOutput()).contains("changed")
                                 || child.state() != QProcess::Running,
                             30000);
    QVERIFY2(child.state() == QProcess::Running, output.constData());

    // Give the save a moment, then end the process the hard way: no destructor, no close.
    QTest::qWait(2500);
    child.kill();
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    ZeltoraWindow window;
    QCOMPARE(Access::files(window), files);
    QCOMPARE(Access::volume(window)->value(), 70);
}

void TestWindowSettings::resetDeclinedChangesNothing()
{
    const QString file = mediaCopy(QStringLiteral("declined.mp4"));
    writeStored(QStringLiteral("MainWindow/volume"), 30);
    writeStored(QStringLiteral("Playlist/files"), QStringList({file}));

    ZeltoraWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    label(window, "statusBar")->setText(QStringLiteral("busy"));

    QFile settingsFile(storeFile());
    QVERIFY(settingsFile.open(QIODevice::ReadOnly));
    const QByteArray before = settingsFile.readAll();
    settingsFile.close();
    const QDateTime modifiedBefore = QFileInfo(storeFile()).lastModified();

    testsupport::MessageBoxCloser closer;
    closer.setAnswer(QMessageBox::No);
    Access::reset(window);

    QCOMPARE(closer.boxes().size(), 1);
    QCOMPARE(closer.boxes().at(0).title, QStringLiteral("确认重置"));
    QVERIFY(!closer.boxes().at(0).text.isEmpty());
    QCOMPARE(Access::files(window), QStringList({file}));
    QCOMPARE(Access::volume(window)->value(), 30);
    QCOMPARE(label(window, "statusBar")->text(), QStringLiteral("busy"));

    QTest::qWait(1500);
    QVERIFY(settingsFile.open(QIODevice::ReadOnly));
    QCOMPARE(settingsFile.readAll(), before);
    QCOMPARE(QFileInfo(storeFile()).lastModified(), modifiedBefore);
}

void TestWindowSettings::resetAcceptedReturnsToFirstStart()
{
    const QString file = mediaCopy(QStringLiteral("accepted.mp4"));
    writeStored(QStringLiteral("MainWindow/volume"), 80);
    writeStored(QStringLiteral("Playlist/files"), QStringList({file, file}));

    ZeltoraWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Access::toggleFullscreen(window);
    QVERIFY(window.isFullScreen());
    window.loadMedia(file);
    window.play();
    auto *position = window.findChild<QSlider *>(QStringLiteral("positionSlider"));
    QTRY_VERIFY_WITH_TIMEOUT(position->value() > 0, 5000);
    label(window, "statusBar")->setText(QStringLiteral("busy"));

    testsupport::MessageBoxCloser closer;
    closer.setAnswer(QMessageBox::Yes);
    Access::reset(window);

    QCOMPARE(closer.boxes().size(), 2);
    QCOMPARE(closer.boxes().at(0).title, QStringLiteral("确认重置"));
    QCOMPARE(closer.boxes().at(1).title, QStringLiteral("重置完成"));
    QCOMPARE(closer.boxes().at(1).text, QStringLiteral("应用程序已重置为初始状态。"));

    QVERIFY(!Access::isPlaying(window));
    QVERIFY(!Access::isPaused(window));
    QVERIFY(Access::files(window).isEmpty());
    QVERIFY(!window.isFullScreen());
    QCOMPARE(Access::volume(window)->value(), 50);
    QCOMPARE(position->value(), 0);
    QCOMPARE(label(window, "currentTimeLabel")->text(), QStringLiteral("00:00:00"));
    QCOMPARE(label(window, "totalTimeLabel")->text(), QStringLiteral("00:00:00"));
    QCOMPARE(label(window, "statusBar")->text(), QString());
    QCOMPARE(window.windowTitle(), QStringLiteral("Zeltora"));

    // No picture: the video area looks as an untouched one of the same size does.
    VideoWidget *video = Access::video(window);
    VideoWidget untouched;
    untouched.resize(video->size());
    QCOMPARE(video->grab().toImage(), untouched.grab().toImage());

    // The store stays empty until something changes again (or the window goes)...
    QVERIFY(storedGroups().isEmpty());
    QTest::qWait(1500);
    QVERIFY(storedGroups().isEmpty());

    // ...and the next save writes the reset values.
    Access::playlist(window)->addFile(file);
    QTRY_COMPARE_WITH_TIMEOUT(stored("Playlist/files").toStringList(), QStringList({file}), 4000);
    QCOMPARE(stored("MainWindow/volume").toInt(), 50);
    QCOMPARE(stored("MainWindow/fullscreen").toBool(), false);
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kCrashChildVariable))
        return runCrashChild(app.arguments().mid(1));
    TestWindowSettings test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_settings.moc"
