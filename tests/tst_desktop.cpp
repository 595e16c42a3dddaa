// The player among the desktop's programs, driven from outside: MPRIS through a real
// client (gdbus), a second start of the program, stand-ins for the screen saver and
// the portal, and a file from outside joining the playlist. CTest runs this twice:
// with no session bus (tst_desktop) and on a private one (tst_desktop_session); a
// test that needs the other case skips.

#include "decoder/ffmpegdecoder.h"
#include "desktop/desktopintegration.h"
#include "mainwindow/zeltorawindow.h"
#include "playback/playbackcontroller.h"
#include "playlist/playlistmodel.h"
#include "testsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSlider>
#include <QtTest>

#ifdef ZELTORA_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusObjectPath>
#endif

using testsupport::mediaPath;

class ZeltoraWindowTestAccess
{
public:
    explicit ZeltoraWindowTestAccess(ZeltoraWindow &w) : w(w) {}

    QStringList entries() const { return testsupport::playlistEntries(*w.playlistModel); }
    void add(const QString &path) { w.playlistModel->addFile(path); }
    QString loaded() const { return w.player->currentFile(); }
    QString status() const
    {
        return QString::fromLatin1(w.isPlaying && !w.isPaused ? "Playing" : w.isPaused ? "Paused" : "Stopped");
    }
    qint64 position() const { return w.desktopPosition(); }
    QSlider *volume() const { return w.volumeSlider; }
    void pause() { w.pause(); }
    void stop() { w.stop(); }
    void seek(qint64 ms) { w.seekFromDesktop(ms); }
    void next() { w.playNext(); }

private:
    ZeltoraWindow &w;
};

namespace {

constexpr int kWaitMs = 20000; // generous: CI is a busy two-core machine

bool haveBus()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS");
}

// Makes the window the session's player, as main() does.
bool attach(ZeltoraWindow &w)
{
    DesktopIntegration *desktop = DesktopIntegration::create();
    const bool alone = !desktop->handOverToRunningInstance(QString());
    w.attachDesktop(desktop);
    return alone;
}

#ifdef ZELTORA_HAVE_DBUS
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

struct Ran {
    bool finished = false;
    int code = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

// Runs a program to its end while this process goes on answering the bus.
Ran run(const QString &program, const QStringList &args, const QString &folder = QString(),
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessEnvironment(env);
    QSignalSpy done(&process, &QProcess::finished);
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    Ran ran;
    ran.finished = done.wait(30000);
    ran.ms = clock.elapsed();
    if (!ran.finished) {
        process.kill();
        process.waitForFinished();
    }
    ran.code = process.exitCode();
    ran.out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    ran.err = QString::fromUtf8(process.readAllStandardError());
    return ran;
}

Ran mpris(const QString &method, const QStringList &args = {})
{
    return run(QStringLiteral("gdbus"),
               QStringList{"call", "--session", "--dest", "org.mpris.MediaPlayer2.zeltora",
                           "--object-path", "/org/mpris/MediaPlayer2", "--method", method, "--"} + args);
}

QString busProperty(const QString &name, const QString &interface = kPlayer)
{
    return mpris(QStringLiteral("org.freedesktop.DBus.Properties.Get"), {interface, name}).out;
}

// The value of `'key': <value>` in gdbus's printout.
QString field(const QString &printout, const QString &key)
{
    const QRegularExpression pattern(QStringLiteral("'%1': <([^>]*)>").arg(QRegularExpression::escape(key)));
    return pattern.match(printout).captured(1);
}

// The screen saver and the portal, on a bus connection of their own; they log what
// the player asks of them.
const QString kRequest = QStringLiteral("/org/freedesktop/portal/desktop/request/t1");

class ScreenSaverStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QStringList *log = nullptr;
    std::function<void()> whileAsked; // runs before the answer goes back
public slots:
    Q_SCRIPTABLE uint Inhibit(const QString &, const QString &)
    {
        *log << QStringLiteral("Inhibit 42");
        if (whileAsked)
            whileAsked();
        return 42;
    }
    Q_SCRIPTABLE void UnInhibit(uint cookie) { *log << QStringLiteral("UnInhibit %1").arg(cookie); }
};

class PortalRequestStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    QStringList *log = nullptr;
public slots:
    Q_SCRIPTABLE void Close() { *log << QStringLiteral("Close ") + kRequest; }
};

class PortalStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    QStringList *log = nullptr;
public slots:
    Q_SCRIPTABLE QDBusObjectPath Inhibit(const QString &, uint flags, const QVariantMap &)
    {
        *log << QStringLiteral("Inhibit %1 flags %2").arg(kRequest).arg(flags);
        return QDBusObjectPath(kRequest);
    }
};

struct StandIn {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("stand-in"));
    ScreenSaverStandIn saver;
    PortalStandIn portal;
    PortalRequestStandIn request;
    const bool isPortal;

    StandIn(const QString &kind, QStringList *log) : isPortal(kind == QLatin1String("portal"))
    {
        saver.log = portal.log = request.log = log;
        const auto exported = QDBusConnection::ExportScriptableSlots;
        if (isPortal) {
            bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal, exported);
            bus.registerObject(kRequest, &request, exported);
        } else {
            bus.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver, exported);
        }
        bus.registerService(service());
    }
    ~StandIn()
    {
        bus.unregisterService(service());
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in"));
    }
    QString service() const
    {
        return QString::fromLatin1(isPortal ? "org.freedesktop.portal.Desktop" : "org.freedesktop.ScreenSaver");
    }
};
#endif

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

    const QString clip = mediaPath("clip.mp4");
    const QString bars = mediaPath("bars-long.mp4");
    const QString fps25 = mediaPath("fps25.mp4");
    const QString tagged = mediaPath("tagged-cover.mp3");

private slots:
    void init() { QSettings("Zeltora", "Zeltora").clear(); }

    void tagsFromContainerOrStream_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("tags"); // title, artist, album
        QTest::addColumn<bool>("moving");
        QTest::newRow("mp3, container tags, cover") << tagged
            << QStringList{"海边的歌", "Zeltora Band", "测试专辑"} << false;
        QTest::newRow("opus, stream tags") << mediaPath("tagged.opus")
            << QStringList{"Stream Title", "Stream Artist", ""} << false;
        QTest::newRow("untagged video") << clip << QStringList{"", "", ""} << true;
    }

    void tagsFromContainerOrStream()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, tags);
        QFETCH(bool, moving);
        FFmpegDecoder decoder;
        QVERIFY(decoder.open(file));
        const ffmpeg::MediaTags read = decoder.tags();
        QCOMPARE(QStringList({read.title, read.artist, read.album}), tags);
        QCOMPARE(decoder.hasMovingPicture(), moving);
    }

    void fileFromOutsideJoinsPlaylistOnce_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("added");
        QTest::addColumn<bool>("plays");
        QTest::newRow("new") << fps25 << 1 << true;
        QTest::newRow("listed") << clip << 0 << true;
        QTest::newRow("listed, spelt otherwise")
            << QFileInfo(clip).absolutePath() + "/../test-media/./clip.mp4" << 0 << true;
        QTest::newRow("missing") << mediaPath("no-such-file.mp4") << 0 << false;
    }

    void fileFromOutsideJoinsPlaylistOnce()
    {
        QFETCH(QString, path);
        QFETCH(int, added);
        QFETCH(bool, plays);
        testsupport::MessageBoxCloser boxes;
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        a.add(bars);
        a.add(clip);
        w.playFromOutside(path);
        QCOMPARE(a.entries().size(), 2 + added);
        if (plays) {
            QTRY_COMPARE(QFileInfo(a.loaded()).canonicalFilePath(), QFileInfo(path).canonicalFilePath());
            QCOMPARE(a.status(), QStringLiteral("Playing"));
        } else {
            QTRY_VERIFY(!boxes.boxes().isEmpty());
            QTRY_COMPARE(a.status(), QStringLiteral("Stopped"));
        }
    }

    void runsAloneWithoutSessionBus()
    {
        if (haveBus())
            QSKIP("for the run without a session bus");
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        QVERIFY(attach(w));
        w.playFromOutside(clip);
        QTRY_VERIFY_WITH_TIMEOUT(a.position() > 0, kWaitMs);

        // The program itself: it keeps running and lists the file it was given.
        const QString config = testsupport::scratchPath("alone-config");
        QDir(config).removeRecursively();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config);
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(ZELTORA_BINARY_DIR "/zeltora"), {clip});
        const auto listed = [&] {
            return QSettings(config + "/Zeltora/Zeltora.conf", QSettings::IniFormat)
                .value("Playlist/files").toStringList();
        };
        QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringList{clip}, kWaitMs);
        QCOMPARE(program.state(), QProcess::Running);
        program.kill();
        program.waitForFinished();
    }

#ifdef ZELTORA_HAVE_DBUS
    void mprisDescribesPlayerAndTrack()
    {
        if (!haveBus())
            QSKIP("needs the private session bus (tst_desktop_session)");
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        QVERIFY(attach(w));
        w.playFromOutside(tagged);

        QString all;
        QTRY_VERIFY_WITH_TIMEOUT(
            field(all = mpris("org.freedesktop.DBus.Properties.GetAll", {kPlayer}).out, "mpris:artUrl") != "",
            kWaitMs);
        QCOMPARE(field(all, "xesam:title"), "'海边的歌'");
        QCOMPARE(field(all, "xesam:artist"), "['Zeltora Band']");
        QCOMPARE(field(all, "xesam:album"), "'测试专辑'");
        QCOMPARE(field(all, "xesam:url"), "'" + QUrl::fromLocalFile(tagged).toString(QUrl::FullyEncoded) + "'");
        QVERIFY2(field(all, "mpris:trackid").startsWith("objectpath '/com/wandelforge/Zeltora/track/"), qPrintable(all));
        const qint64 length = field(all, "mpris:length").remove("int64 ").toLongLong();
        QVERIFY2(length > 3900000 && length < 4300000, qPrintable(all));
        for (const char *yes : {"CanControl", "CanPlay", "CanPause", "CanSeek"})
            QVERIFY2(field(all, yes) == "true", yes);
        for (const char *no : {"CanGoNext", "CanGoPrevious"})
            QVERIFY2(field(all, no) == "false", no); // one entry only
        for (const char *one : {"Rate", "MinimumRate", "MaximumRate"})
            QVERIFY2(field(all, one) == "1.0", one);
        QCOMPARE(field(all, "Volume"), "0.5");

        // The cover, written where the URL says.
        const QImage art(QUrl(field(all, "mpris:artUrl").remove('\'')).toLocalFile());
        QCOMPARE(art.size(), QSize(64, 64));
        const QColor middle = art.pixel(32, 32);
        QVERIFY2(middle.blue() > 240 && middle.red() < 16 && middle.green() < 16, qPrintable(middle.name()));

        const QString root = mpris("org.freedesktop.DBus.Properties.GetAll", {"org.mpris.MediaPlayer2"}).out;
        QCOMPARE(field(root, "Identity"), "'Zeltora'");
        QCOMPARE(field(root, "DesktopEntry"), "'zeltora'");
        QCOMPARE(field(root, "CanRaise"), "true");
        QCOMPARE(field(root, "SupportedUriSchemes"), "['file']");
        // The media widget is offered what the desktop entry claims.
        QFile entry(QStringLiteral(ZELTORA_SOURCE_DIR "/packaging/zeltora.desktop"));
        QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString line = QRegularExpression("^MimeType=(.*)$", QRegularExpression::MultilineOption)
                                 .match(QString::fromUtf8(entry.readAll())).captured(1);
        const QStringList claimed = line.split(';', Qt::SkipEmptyParts);
        QVERIFY(claimed.size() > 20);
        QCOMPARE(field(root, "SupportedMimeTypes"), "['" + claimed.join("', '") + "']");

        w.showMinimized();
        QCOMPARE(mpris("org.mpris.MediaPlayer2.Quit").code, 0); // CanQuit is false: ignored
        QCOMPARE(mpris("org.mpris.MediaPlayer2.Raise").code, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!w.isMinimized(), kWaitMs);
        QVERIFY(w.isVisible());
    }

    void mprisMethodsDriveTheWindow_data()
    {
        QTest::addColumn<bool>("paused"); // else playing; paused calls find the picture at 0:01
        QTest::addColumn<QString>("method");
        QTest::addColumn<QStringList>("args"); // "@track" stands for the current track's id
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("positionMs"); // -1: not checked

        const QString clipUrl = QUrl::fromLocalFile(clip).toString();
        QTest::newRow("Play") << true << "Play" << QStringList() << "Playing" << "bars-long.mp4" << -1LL;
        QTest::newRow("Pause") << false << "Pause" << QStringList() << "Paused" << "bars-long.mp4" << -1LL;
        QTest::newRow("PlayPause") << false << "PlayPause" << QStringList() << "Paused" << "bars-long.mp4" << -1LL;
        QTest::newRow("Stop") << false << "Stop" << QStringList() << "Stopped" << "bars-long.mp4" << -1LL;
        QTest::newRow("Next") << false << "Next" << QStringList() << "Playing" << "fps25.mp4" << -1LL;
        QTest::newRow("Previous, round") << false << "Previous" << QStringList() << "Playing" << "fps25.mp4" << -1LL;
        QTest::newRow("Seek") << true << "Seek" << QStringList{"500000"} << "Paused" << "bars-long.mp4" << 1500LL;
        QTest::newRow("Seek before start") << true << "Seek" << QStringList{"-9000000"} << "Paused" << "bars-long.mp4" << 0LL;
        QTest::newRow("Seek past end") << false << "Seek" << QStringList{"60000000"} << "Playing" << "fps25.mp4" << -1LL;
        QTest::newRow("SetPosition") << true << "SetPosition" << QStringList{"@track", "2000000"} << "Paused" << "bars-long.mp4" << 2000LL;
        QTest::newRow("SetPosition, old track") << true << "SetPosition" << QStringList{"/com/wandelforge/Zeltora/track/999", "2000000"}
                                                << "Paused" << "bars-long.mp4" << 1000LL;
        QTest::newRow("SetPosition past end") << true << "SetPosition" << QStringList{"@track", "9000000"} << "Paused" << "bars-long.mp4" << 1000LL;
        QTest::newRow("OpenUri") << false << "OpenUri" << QStringList{clipUrl} << "Playing" << "clip.mp4" << -1LL;
        QTest::newRow("OpenUri, not a file") << false << "OpenUri" << QStringList{"http://example.com/clip.mp4"}
                                             << "Playing" << "bars-long.mp4" << -1LL;
    }

    void mprisMethodsDriveTheWindow()
    {
        if (!haveBus())
            QSKIP("needs the private session bus (tst_desktop_session)");
        QFETCH(bool, paused);
        QFETCH(QString, method);
        QFETCH(QStringList, args);
        QFETCH(QString, status);
        QFETCH(QString, file);
        QFETCH(qint64, positionMs);

        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        QVERIFY(attach(w));
        a.add(bars);
        a.add(fps25);
        w.playFromOutside(bars);
        QTRY_COMPARE(QFileInfo(a.loaded()).fileName(), QStringLiteral("bars-long.mp4")); // opened off the GUI thread
        if (paused) {
            a.pause();
            a.seek(1000);
        }
        const QString track = QRegularExpression("objectpath '([^']*)'")
                                  .match(busProperty("Metadata")).captured(1);
        args.replaceInStrings("@track", track);

        const Ran call = mpris(kPlayer + '.' + method, args);
        QVERIFY2(call.finished && call.code == 0, qPrintable(call.err));
        QTRY_COMPARE_WITH_TIMEOUT(busProperty("PlaybackStatus"), "(<'" + status + "'>,)", kWaitMs);
        // The property read above was answered after the window had acted on the call.
        QCOMPARE(a.status(), status);
        QCOMPARE(QFileInfo(a.loaded()).fileName(), file);
        if (positionMs >= 0) {
            QCOMPARE(a.position(), positionMs);
            QCOMPARE(busProperty("Position"), QStringLiteral("(<int64 %1>,)").arg(positionMs * 1000));
        }
        QCOMPARE(a.entries().size(), 2 + (method == "OpenUri" && file == "clip.mp4"));
    }

    void changesAreAnnounced()
    {
        if (!haveBus())
            QSKIP("needs the private session bus (tst_desktop_session)");
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        QVERIFY(attach(w));
        a.add(bars);
        a.add(fps25);

        QProcess monitor;
        monitor.start("gdbus", {"monitor", "--session", "--dest", "org.mpris.MediaPlayer2.zeltora"});
        QString heard;
        const auto hears = [&](const QString &text) {
            heard += QString::fromUtf8(monitor.readAllStandardOutput());
            return heard.contains(text);
        };
        QTRY_VERIFY_WITH_TIMEOUT(hears("is owned by"), kWaitMs);

        w.playFromOutside(bars);
        QTRY_VERIFY2_WITH_TIMEOUT(hears("'PlaybackStatus': <'Playing'>"), qPrintable(heard), kWaitMs);
        QTRY_VERIFY2_WITH_TIMEOUT(hears("'xesam:title': <'bars-long.mp4'>"), qPrintable(heard), kWaitMs);
        a.pause();
        QTRY_VERIFY2_WITH_TIMEOUT(hears("'PlaybackStatus': <'Paused'>"), qPrintable(heard), kWaitMs);
        a.seek(2000);
        QTRY_VERIFY2_WITH_TIMEOUT(hears("Player.Seeked (int64 2000000,)"), qPrintable(heard), kWaitMs);
        a.next();
        QTRY_VERIFY2_WITH_TIMEOUT(hears("'xesam:title': <'fps25.mp4'>"), qPrintable(heard), kWaitMs);
        a.volume()->setValue(75);
        QTRY_VERIFY2_WITH_TIMEOUT(hears("'Volume': <0.75>"), qPrintable(heard), kWaitMs);

        // And the volume the other way.
        QCOMPARE(mpris("org.freedesktop.DBus.Properties.Set", {kPlayer, "Volume", "<0.25>"}).code, 0);
        QTRY_COMPARE_WITH_TIMEOUT(a.volume()->value(), 25, kWaitMs);
        monitor.kill();
        monitor.waitForFinished();
    }

    void secondStartHandsOver_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("added");
        QTest::addColumn<QString>("plays");
        const QString chinese = testsupport::scratchPath("海边 影片.mp4");
        QFile::remove(chinese);
        QVERIFY(QFile::copy(clip, chinese));
        QTest::newRow("new file") << fps25 << QString() << 1 << fps25;
        QTest::newRow("listed already") << clip << QString() << 0 << clip;
        QTest::newRow("relative path") << "fps25.mp4" << QFileInfo(fps25).absolutePath() << 1 << fps25;
        QTest::newRow("Chinese name") << chinese << QString() << 1 << chinese;
        QTest::newRow("no file: comes forward") << QString() << QString() << 0 << bars;
    }

    void secondStartHandsOver()
    {
        if (!haveBus())
            QSKIP("needs the private session bus (tst_desktop_session)");
        QFETCH(QString, argument);
        QFETCH(QString, folder);
        QFETCH(int, added);
        QFETCH(QString, plays);
        ZeltoraWindow w;
        ZeltoraWindowTestAccess a(w);
        QVERIFY(attach(w));
        a.add(bars);
        a.add(clip);
        w.playFromOutside(bars);
        w.showMinimized();

        // Were it to open a window after all, it would keep its settings elsewhere.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", testsupport::scratchPath("second-config"));
        const Ran second = run(QStringLiteral(ZELTORA_BINARY_DIR "/zeltora"),
                               argument.isEmpty() ? QStringList() : QStringList{argument}, folder, env);
        qInfo("the second start ended after %lld ms", second.ms);
        QVERIFY2(second.finished && second.code == 0, qPrintable(second.err));
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(a.loaded()).canonicalFilePath(), QFileInfo(plays).canonicalFilePath(),
                                  kWaitMs);
        QCOMPARE(a.entries().size(), 2 + added);
        QCOMPARE(a.status(), QStringLiteral("Playing"));
        QTRY_VERIFY_WITH_TIMEOUT(!w.isMinimized(), kWaitMs);
    }

    void screenStaysAwakeWhilePicturePlays_data()
    {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("until");
        QTest::addColumn<QStringList>("expected");
        const QStringList once{"Inhibit 42", "UnInhibit 42"};
        QTest::newRow("pause") << "screensaver" << clip << "pause" << once;
        QTest::newRow("stop") << "screensaver" << clip << "stop" << once;
        QTest::newRow("end") << "screensaver" << mediaPath("red.mp4") << "end" << once;
        QTest::newRow("exit") << "screensaver" << clip << "exit" << once;
        QTest::newRow("exit before the answer") << "screensaver" << clip << "exit at once" << once;
        const QStringList portal{"Inhibit " + kRequest + " flags 12", "Close " + kRequest};
        QTest::newRow("portal, pause") << "portal" << clip << "pause" << portal;
        QTest::newRow("portal, exit") << "portal" << clip << "exit" << portal;
        QTest::newRow("cover picture only") << "screensaver" << tagged << "exit" << QStringList();
    }

    void screenStaysAwakeWhilePicturePlays()
    {
        if (!haveBus())
            QSKIP("needs the private session bus (tst_desktop_session)");
        QFETCH(QString, service);
        QFETCH(QString, file);
        QFETCH(QString, until);
        QFETCH(QStringList, expected);
        QStringList log;
        StandIn standIn(service, &log);
        QPointer<ZeltoraWindow> w = new ZeltoraWindow;
        ZeltoraWindowTestAccess a(*w);
        QVERIFY(attach(*w));
        if (until == "exit at once")
            standIn.saver.whileAsked = [&] { delete w; };
        w->playFromOutside(file);
        if (expected.isEmpty())
            QTest::qWait(1000); // long enough for a request that should not come
        else
            QTRY_VERIFY_WITH_TIMEOUT(!log.isEmpty(), kWaitMs);
        if (until == "pause")
            a.pause();
        else if (until == "stop")
            a.stop();
        if (!until.startsWith("exit"))
            QTRY_COMPARE_WITH_TIMEOUT(log, expected, kWaitMs);
        delete w;
        QTRY_COMPARE_WITH_TIMEOUT(log, expected, kWaitMs);
        QTest::qWait(300); // nothing released twice
        QCOMPARE(log, expected);
    }
#endif
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
