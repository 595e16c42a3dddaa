// A long run of the real window under the offscreen platform: it plays a playlist
// round and round, seeks now and then, makes the playlist re-probe a thumbnail, and
// watches resident memory. After the first minute (caches, fonts, codecs warmed up)
// memory must stay flat.
//
//   bench_soak [--minutes N] [--growth-mb M] [media files...]
//
// Without files it plays the generated test media of its build tree (BUILD/test-media,
// made by `ctest -R media_setup`). Exits non-zero when memory grew after the first minute.

#include "playback/playbackcontroller.h"
#include "mainwindow/zeltorawindow.h"
#include "playlist/playlistmodel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include <malloc.h>

class ZeltoraWindowTestAccess
{
public:
    explicit ZeltoraWindowTestAccess(ZeltoraWindow &w) : w(w) {}

    PlaylistModel *model() const { return w.playlistModel; }
    PlaybackController *player() const { return w.player; }
    quint64 framesShown() const { return w.player->framesShown(); }
    quint64 framesDropped() const { return w.player->framesDropped(); }
    qint64 mediaDuration() const { return w.mediaDuration; }
    bool isPlaying() const { return w.isPlaying; }
    void play() { w.play(); }
    void seek(int position) { w.seek(position); }
    void showPlaylist()
    {
        if (!w.playlistVisible)
            w.togglePlaylist();
    }

private:
    ZeltoraWindow &w;
};

namespace {

int warnings = 0;

void countMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) {
        // Qt's offscreen platform and the absent sound card say the same things
        // over and over; they are not errors of the player.
        if (message.contains(QLatin1String("propagateSizeHints")))
            return;
        ++warnings;
        if (warnings <= 5)
            std::fprintf(stderr, "warning: %s\n", qPrintable(message));
    }
}

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Bytes the allocator has handed out and not got back: tells a real build-up from
// resident memory that the allocator merely keeps.
double heapInUseMb()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

QStringList defaultPlaylist()
{
    // The program lives in BUILD/bench/.
    const QDir media(QCoreApplication::applicationDirPath() + QStringLiteral("/../test-media"));
    const QStringList names = {
        QStringLiteral("bars-long.mp4"), QStringLiteral("clip.mp4"), QStringLiteral("fps60.mp4"),
        QStringLiteral("vfr.mkv"), QStringLiteral("audio-first.mkv"), QStringLiteral("odd-854x480.mkv"),
        QStringLiteral("sizechange.h264"), QStringLiteral("fps2997.mp4"),
        QStringLiteral("odd-33x7.mkv"), QStringLiteral("noduration.h264"),
        // No audio-only file: without a picture nothing ever ends it, so the round
        // would stop there. Last, so that the round goes through everything before it: a file that
        // cannot be opened (two message boxes, then the first entry again).
        QStringLiteral("not-media.mp4"),
    };
    QStringList files;
    for (const QString &name : names) {
        if (QFileInfo::exists(media.filePath(name)))
            files.append(media.filePath(name));
    }
    return files;
}

QString clock(qint64 ms)
{
    return QStringLiteral("%1:%2").arg(ms / 60000).arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char **argv)
{
    double minutes = 10.0;
    double allowedGrowthMb = 8.0;
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--minutes") == 0 && i + 1 < argc)
            minutes = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--growth-mb") == 0 && i + 1 < argc)
            allowedGrowthMb = std::atof(argv[++i]);
        else if (argv[i][0] == '-') {
            std::fprintf(stderr, "usage: %s [--minutes N] [--growth-mb M] [media files...]\n", argv[0]);
            return 2;
        } else
            files.append(QString::fromLocal8Bit(argv[i]));
    }

    // Headless, and with a settings store of its own so the user's stays untouched.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toLocal8Bit());

    QApplication app(argc, argv);
    qInstallMessageHandler(countMessages);
    if (files.isEmpty())
        files = defaultPlaylist();
    if (files.isEmpty()) {
        std::fprintf(stderr, "soak: no media; run `ctest -R media_setup` in the build tree or name files\n");
        return 2;
    }

    ZeltoraWindow window;
    ZeltoraWindowTestAccess access(window);
    window.show();
    access.showPlaylist();

    int errorBoxes = 0;
    QTimer boxCloser;
    QObject::connect(&boxCloser, &QTimer::timeout, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            ++errorBoxes;
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->close();
        }
    });
    boxCloser.start(20);

    int loads = 0;
    QObject::connect(&window, &QWidget::windowTitleChanged, [&] { ++loads; });

    for (const QString &file : std::as_const(files))
        access.model()->addFile(file);

    QElapsedTimer elapsed;
    elapsed.start();
    const qint64 totalMs = qint64(minutes * 60000.0);
    const double startMb = residentMb();
    double firstMinuteMb = -1;
    double peakAfterFirstMb = 0;
    double firstMinuteHeapMb = -1;
    int seeks = 0;
    int reprobes = 0;

    std::printf("soak: %lld files, %.1f minutes, platform %s\n", qint64(files.size()), minutes,
                qPrintable(QGuiApplication::platformName()));
    std::printf("  time   rss MB  heap MB   frames  dropped  loads  seeks  boxes  warnings  playing\n");
    auto report = [&] {
        std::printf("  %5s  %7.1f  %7.1f  %7llu  %7llu  %5d  %5d  %5d  %8d  %s%s\n", qPrintable(clock(elapsed.elapsed())),
                    residentMb(), heapInUseMb(), access.framesShown(), access.framesDropped(), loads, seeks, errorBoxes, warnings,
                    qPrintable(QFileInfo(access.player()->currentFile()).fileName()),
                    access.isPlaying() ? "" : " (stopped)");
        std::fflush(stdout);
    };
    report();

    QRandomGenerator rng(1234);
    QTimer seeker;
    QObject::connect(&seeker, &QTimer::timeout, [&] {
        if (!access.isPlaying() || access.mediaDuration() <= 0)
            return;
        access.seek(int(rng.bounded(qMax<qint64>(1, access.mediaDuration()))));
        ++seeks;
    });
    seeker.start(7000);

    // The thumbnail of a removed and re-added entry is probed again at the next paint.
    QTimer reprobe;
    QObject::connect(&reprobe, &QTimer::timeout, [&] {
        PlaylistModel *model = access.model();
        const int row = int(rng.bounded(model->count()));
        const QString path = model->filePath(row);
        if (path == access.player()->currentFile())
            return;
        model->removeFile(row);
        model->addFile(path);
        ++reprobes;
    });
    reprobe.start(11000);

    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (elapsed.elapsed() >= totalMs - 1000)
            return; // the closing line is printed by the stop below
        if (firstMinuteMb >= 0)
            peakAfterFirstMb = qMax(peakAfterFirstMb, residentMb());
        report();
    });
    sampler.start(totalMs <= 180000 ? 15000 : 30000);
    QTimer::singleShot(60000, &app, [&] {
        firstMinuteMb = residentMb();
        firstMinuteHeapMb = heapInUseMb();
    });
    QTimer::singleShot(totalMs, &app, [&] {
        report();
        app.quit();
    });

    access.play();
    app.exec();

    const double endMb = residentMb();
    const double growth = firstMinuteMb >= 0 ? endMb - firstMinuteMb : 0.0;
    const bool flat = firstMinuteMb < 0 || (growth <= allowedGrowthMb && peakAfterFirstMb - firstMinuteMb <= 2 * allowedGrowthMb);
    std::printf("soak: %.1f min, %llu frames shown, %llu dropped, %d loads, %d seeks, %d re-probes, "
                "%d message boxes, %d warnings\n",
                elapsed.elapsed() / 60000.0, access.framesShown(), access.framesDropped(), loads, seeks,
                reprobes, errorBoxes, warnings);
    std::printf("soak: VmRSS start %.1f MB, after 1 min %.1f MB, end %.1f MB, peak after 1 min %.1f MB: "
                "growth %+.1f MB, %s\n",
                startMb, firstMinuteMb, endMb, peakAfterFirstMb, growth, flat ? "flat" : "GROWING");
    std::printf("soak: heap in use after 1 min %.1f MB, end %.1f MB\n", firstMinuteHeapMb, heapInUseMb());
    return flat ? 0 : 1;
}
