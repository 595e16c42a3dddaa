// Files nobody should hand a media player, handed to it anyway: empty, mislabelled,
// cut short, damaged, random, a folder, unreadable, strangely named, and files that
// vanish or shrink while they play. Each must be survived by the decoder, the
// thumbnail probe and the window alike: no crash, no hang, the player's own message
// where it has one, and the playlist and settings as they were.

#include "decoder/ffmpegdecoder.h"
#include "playback/playbackcontroller.h"
#include "mainwindow/zeltorawindow.h"
#include "playlist/mediapaths.h"
#include "playlist/playlistmodel.h"
#include "playlist/thumbnailprobe.h"
#include "testsupport.h"
#include "ui_zeltorawindow.h"

#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QMimeData>
#include <QSettings>
#include <QSlider>
#include <QUrl>
#include <QtTest>

#include <memory>

#include <functional>

#include <sys/fsuid.h>
#include <unistd.h>

using testsupport::MessageBoxCloser;

class ZeltoraWindowTestAccess
{
public:
    explicit ZeltoraWindowTestAccess(ZeltoraWindow &w) : w(w) {}

    PlaybackController *player() const { return w.player; }
    PlaylistModel *model() const { return w.playlistModel; }
    QSlider *volumeSlider() const { return w.volumeSlider; }
    QListView *playlistView() const { return w.ui->playlistView; }
    bool isPlaying() const { return w.isPlaying; }
    quint64 framesShown() const { return w.player->framesShown(); }

    void click(int row) { w.playlistClicked(w.playlistModel->index(row)); }
    void showPlaylist()
    {
        if (!w.playlistVisible)
            w.togglePlaylist();
    }
    void stop() { w.stop(); }
    void saveSettings() { w.saveSettings(); }
    void drop(const QList<QUrl> &urls)
    {
        QMimeData mime;
        mime.setUrls(urls);
        QDropEvent event(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        w.dropEvent(&event);
    }
    QStringList files() const { return testsupport::playlistEntries(*w.playlistModel); }
    QString status() const { return w.ui->statusBar->text(); }

private:
    ZeltoraWindow &w;
};

namespace {

// What a file should do when opened.
enum class Outcome {
    Refused, // open fails with the decoder's message
    Whole,   // opens and plays all of its 50 frames
    Short,   // opens, plays fewer frames, ends on its own
    Damaged, // opens and ends on its own; how many frames survive is FFmpeg's business
    Either,  // refused or damaged, both are fine
};

constexpr int kWholeFrames = 50; // 2 s at 25 fps
const QSize kFrameSize(160, 120);

QString hostile(const QString &name)
{
    return QDir(QStringLiteral(ZELTORA_HOSTILE_MEDIA_DIR)).filePath(name);
}

QString longPathFile()
{
    QDirIterator it(QStringLiteral(ZELTORA_HOSTILE_MEDIA_DIR), {QStringLiteral("*.mp4")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.toUtf8().size() > 255)
            return path;
    }
    return QString();
}

bool isRootReadingUnreadable(const QString &path)
{
    return geteuid() == 0 && path.endsWith(QLatin1String("unreadable.mp4"));
}

// Root reads a file whatever its mode, so for the unreadable file the calling thread's
// file-system identity is dropped to an ordinary user for the length of the call: the
// kernel then checks the mode as it would for that user. Returns false when the process
// may not switch (no CAP_SETUID), in which case nothing was run.
bool runAsOrdinaryUser(const std::function<void()> &call)
{
    constexpr uid_t nobody = 65534;
    setfsuid(nobody);
    if (setfsuid(uid_t(-1)) != nobody)
        return false;
    call();
    setfsuid(0);
    return setfsuid(uid_t(-1)) == 0;
}

bool canRunAsOrdinaryUser()
{
    return runAsOrdinaryUser([] {});
}

void runAs(const QString &path, const std::function<void()> &call)
{
    if (!isRootReadingUnreadable(path))
        call();
    else if (!runAsOrdinaryUser(call))
        qFatal("could not switch the file-system identity back to root");
}

#define SKIP_IF_UNREADABLE_CANNOT_BE_MADE(path) \
    do { \
        if (isRootReadingUnreadable(path) && !canRunAsOrdinaryUser()) \
            QSKIP("running as root without the right to switch the file-system identity " \
                  "(CAP_SETUID): root reads every file, so nothing is unreadable here"); \
    } while (false)

bool isDecoderRefusal(const QString &message)
{
    return message == QLatin1String("Could not open file")
        || message == QLatin1String("Could not find stream information");
}

void addHostileRows()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<QSize>("size");

    QTest::newRow("zero bytes") << hostile("zero-bytes.mp4") << Outcome::Refused << QSize();
    QTest::newRow("text named .mp4") << hostile("text-renamed.mp4") << Outcome::Refused << QSize();
    QTest::newRow("cut at 30%, index at the end") << hostile("cut-30-moov-at-end.mp4") << Outcome::Refused << QSize();
    QTest::newRow("cut at 60%, index in front") << hostile("cut-60-faststart.mp4") << Outcome::Short << kFrameSize;
    QTest::newRow("garbage in the middle, mp4") << hostile("garbage-middle.mp4") << Outcome::Damaged << kFrameSize;
    QTest::newRow("garbage in the middle, mkv") << hostile("garbage-middle.mkv") << Outcome::Damaged << kFrameSize;
    QTest::newRow("random bytes named .mkv") << hostile("random-bytes.mkv") << Outcome::Either << QSize();
    QTest::newRow("a folder") << hostile("folder.mp4") << Outcome::Refused << QSize();
    QTest::newRow("no read permission") << hostile("unreadable.mp4") << Outcome::Refused << QSize();
    QTest::newRow("spaces") << hostile("name with  spaces.mp4") << Outcome::Whole << kFrameSize;
    QTest::newRow("chinese") << hostile("中文 视频 名称.mp4") << Outcome::Whole << kFrameSize;
    QTest::newRow("leading dash") << hostile("-leading-dash.mp4") << Outcome::Whole << kFrameSize;
    QTest::newRow("longer than 255 bytes") << longPathFile() << Outcome::Whole << kFrameSize;
    // Relative names, resolved in the hostile folder (the current directory): a
    // protocol prefix must never be taken as one.
    QTest::newRow("concat: names a local file") << QStringLiteral("concat:a.mp4") << Outcome::Whole << QSize(96, 64);
    QTest::newRow("concat: of a missing file") << QStringLiteral("concat:b.mp4") << Outcome::Refused << QSize();
    QTest::newRow("file: of a missing file") << QStringLiteral("file:b.mp4") << Outcome::Refused << QSize();
    QTest::newRow("subfile:") << QStringLiteral("subfile,,start,0,end,0,,:b.mp4") << Outcome::Refused << QSize();
    QTest::newRow("pipe:0") << QStringLiteral("pipe:0") << Outcome::Refused << QSize();
}

QString describe(const QList<MessageBoxCloser::Box> &boxes)
{
    QStringList lines;
    for (const auto &box : boxes)
        lines.append(box.title + QStringLiteral(": ") + box.text);
    return lines.join(QStringLiteral(" | "));
}

bool opens(Outcome outcome)
{
    return outcome == Outcome::Whole || outcome == Outcome::Short || outcome == Outcome::Damaged;
}

} // namespace

Q_DECLARE_METATYPE(Outcome)

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void decoderSurvives_data() { addHostileRows(); }
    void decoderSurvives();
    void probeSurvives_data() { addHostileRows(); }
    void probeSurvives();
    void windowSurvives_data() { addHostileRows(); }
    void windowSurvives();

    void fileDeletedWhilePlaying();
    void fileTruncatedWhilePlaying();

private:
    QString goodA;
    QString goodB;
};

void TestHostile::initTestCase()
{
    QVERIFY2(QFileInfo::exists(hostile("faststart.mp4")), "hostile media missing: run the hostile_setup fixture");
    QVERIFY2(!longPathFile().isEmpty(), "the long-path file is missing");
    // The relative protocol-like names resolve here.
    QVERIFY(QDir::setCurrent(QStringLiteral(ZELTORA_HOSTILE_MEDIA_DIR)));
    goodA = testsupport::mediaPath(QStringLiteral("bars.mp4"));
    goodB = testsupport::mediaPath(QStringLiteral("clip.mp4"));
    QVERIFY(QFileInfo::exists(goodA) && QFileInfo::exists(goodB));
}

void TestHostile::init()
{
    QSettings settings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora"));
    settings.clear();
    settings.sync();
}

void TestHostile::decoderSurvives()
{
    QFETCH(QString, path);
    QFETCH(Outcome, outcome);
    SKIP_IF_UNREADABLE_CANNOT_BE_MADE(path);
    QFETCH(QSize, size);

    FFmpegDecoder decoder;
    QSignalSpy errors(&decoder, &FFmpegDecoder::errorOccurred);
    QSignalSpy finished(&decoder, &FFmpegDecoder::playbackFinished);
    int frames = 0;
    QSize seenSize;
    connect(&decoder, &FFmpegDecoder::frameReady, this, [&](const QImage &frame) {
        if (frame.isNull())
            return;
        ++frames;
        if (seenSize.isEmpty())
            seenSize = frame.size();
        QCOMPARE(frame.format(), QImage::Format_RGB32);
    });

    QElapsedTimer clock;
    clock.start();
    bool opened = false;
    runAs(path, [&] { opened = decoder.open(path); });

    if (!opened) {
        QVERIFY2(!opens(outcome), "a file that should play was refused");
        QCOMPARE(errors.count(), 1);
        QVERIFY2(isDecoderRefusal(errors.first().first().toString()), qPrintable(errors.first().first().toString()));
        QVERIFY(!decoder.isOpen());
        QVERIFY(decoder.currentFile().isEmpty());
        QCOMPARE(decoder.duration(), 0);
        decoder.decodeVideoFrame();
        QCOMPARE(frames, 0);
        QVERIFY(!decoder.seek(0));
        return;
    }

    QVERIFY2(outcome != Outcome::Refused, "a file that cannot play was opened");
    QCOMPARE(errors.count(), 0);
    QVERIFY(decoder.duration() >= 0);
    // Every request reads a bounded amount, so a file that ends must say so within a
    // bounded number of requests; 400 is eight times what the whole file needs.
    for (int i = 0; i < 400 && finished.isEmpty(); ++i)
        decoder.decodeVideoFrame();
    QCOMPARE(finished.count(), 1);
    QVERIFY2(clock.elapsed() < 30000, "decoding the file took unreasonably long");

    switch (outcome) {
    case Outcome::Whole:
        QCOMPARE(frames, kWholeFrames);
        break;
    case Outcome::Short:
        QVERIFY2(frames > 0 && frames < kWholeFrames, qPrintable(QString::number(frames)));
        break;
    default:
        break;
    }
    if (size.isValid())
        QCOMPARE(seenSize, size);

    // After the end the file can be played again from the start.
    if (outcome != Outcome::Either && outcome != Outcome::Damaged) {
        const int before = frames;
        QVERIFY(decoder.seek(0));
        decoder.decodeVideoFrame();
        QCOMPARE(frames, before + 1);
    }
}

void TestHostile::probeSurvives()
{
    QFETCH(QString, path);
    QFETCH(Outcome, outcome);
    SKIP_IF_UNREADABLE_CANNOT_BE_MADE(path);

    // The probe drops root's right to read the unreadable file on whichever thread it
    // runs, the model's worker included; nothing is kept on disk between runs.
    PlaylistModel model([](const QString &file, const thumbnailprobe::Interrupt &interrupted) {
        QImage frame;
        runAs(file, [&] { frame = thumbnailprobe::firstFrame(file, interrupted); });
        return frame;
    }, QString());
    QElapsedTimer clock;
    clock.start();
    const QImage thumbnail = model.generateThumbnail(path);
    QVERIFY2(clock.elapsed() < 10000, "the probe blocked the event loop for too long");

    if (outcome == Outcome::Refused)
        QVERIFY(thumbnail.isNull());
    else if (outcome != Outcome::Either)
        QCOMPARE(thumbnail.size(), QSize(40, 40));

    // The same through the model, as the list view asks for it: the answer comes
    // from the worker, a thumbnail or an honest "no picture".
    model.addFile(path);
    model.data(model.index(0), Qt::DecorationRole);
    QTRY_VERIFY_WITH_TIMEOUT(model.thumbnailState(0) != PlaylistModel::Thumbnail::Pending, 10000);
    const QVariant decoration = model.data(model.index(0), Qt::DecorationRole);
    if (thumbnail.isNull()) {
        QCOMPARE(model.thumbnailState(0), PlaylistModel::Thumbnail::NoPicture);
        QCOMPARE(decoration.typeId(), QMetaType::QIcon);
    } else {
        QCOMPARE(model.thumbnailState(0), PlaylistModel::Thumbnail::Picture);
        QCOMPARE(decoration.typeId(), QMetaType::QImage);
        QCOMPARE(decoration.value<QImage>().size(), QSize(40, 40));
    }
}

void TestHostile::windowSurvives()
{
    QFETCH(QString, path);
    QFETCH(Outcome, outcome);
    SKIP_IF_UNREADABLE_CANNOT_BE_MADE(path);

    MessageBoxCloser boxes;
    // The engine reads files on threads of its own, which take their file-system
    // identity from the thread that makes them: the window is made as the reader.
    std::unique_ptr<ZeltoraWindow> made;
    runAs(path, [&] { made = std::make_unique<ZeltoraWindow>(); });
    ZeltoraWindow &window = *made;
    ZeltoraWindowTestAccess w(window);
    window.show();
    w.showPlaylist();
    w.volumeSlider()->setValue(37);

    // In through a drop, like a user dragging files from a file manager: the first
    // entry starts playing at once. Only regular files join: a folder gives the media
    // in it (none here), anything else is turned away with a word, unopened.
    const bool regular = mediapaths::isPlayableFile(path);
    w.drop({QUrl::fromLocalFile(goodA), QUrl::fromLocalFile(path), QUrl::fromLocalFile(goodB)});
    QStringList playlist{goodA, path, goodB};
    if (!regular) {
        playlist.removeAt(1);
        if (mediapaths::kindOf(path) != mediapaths::Kind::Folder)
            QCOMPARE(w.status(), mediapaths::rejectionText(path));
    }
    QCOMPARE(w.files(), playlist);
    QTRY_VERIFY(w.framesShown() > 0);
    QVERIFY(boxes.boxes().isEmpty());

    // As a playlist from an older version may still hold it: chosen from the list,
    // it is looked at again before anything opens it.
    int row = 1;
    if (!regular) {
        w.model()->addFiles({path});
        playlist.append(path);
        row = 2;
    }

    // The list view paints the hostile row's thumbnail.
    runAs(path, [&] {
        w.playlistView()->scrollTo(w.model()->index(row));
        window.repaint();
        QCoreApplication::processEvents();
    });

    const quint64 shownBefore = w.framesShown();
    runAs(path, [&] { w.click(row); });
    QTRY_VERIFY_WITH_TIMEOUT(!w.player()->isLoading(), 10000);

    const bool opened = w.player()->isOpen() && w.player()->currentFile() == path;
    if (!opened) {
        QVERIFY2(!opens(outcome), "a file that should play was refused");
        QTRY_COMPARE(boxes.boxes().size(), 2);
        QTest::qWait(300); // and no more: the failure is reported once, nothing plays on
        QCOMPARE(boxes.boxes().size(), 2);
        QVERIFY(!w.isPlaying());
        QCOMPARE(boxes.boxes().at(0).title, QStringLiteral("Error"));
        if (regular)
            QVERIFY2(isDecoderRefusal(boxes.boxes().at(0).text), qPrintable(boxes.boxes().at(0).text));
        else
            QCOMPARE(boxes.boxes().at(0).text, mediapaths::rejectionText(path));
        QCOMPARE(boxes.boxes().at(1).title, QStringLiteral("错误"));
        QCOMPARE(boxes.boxes().at(1).text, QStringLiteral("无法加载媒体文件: ") + path);
        QVERIFY(window.windowTitle() != QFileInfo(path).fileName() + QStringLiteral(" - Zeltora"));
    } else {
        QVERIFY2(outcome != Outcome::Refused, "a file that cannot play was opened");
        QVERIFY(boxes.boxes().isEmpty());
        QCOMPARE(window.windowTitle(), QFileInfo(path).fileName() + QStringLiteral(" - Zeltora"));
        if (outcome != Outcome::Either)
            QTRY_VERIFY(w.framesShown() > shownBefore);
        // Played to its end, the window moves on to the next entry by itself.
        QTRY_COMPARE_WITH_TIMEOUT(w.player()->currentFile(), goodB, 20000);
        QVERIFY(boxes.boxes().isEmpty());
    }

    w.stop();
    QCOMPARE(w.files(), playlist);
    QCOMPARE(w.volumeSlider()->value(), 37);
    w.saveSettings();
    QSettings settings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora"));
    QCOMPARE(settings.status(), QSettings::NoError);
    QCOMPARE(settings.value(QStringLiteral("Playlist/files")).toStringList(), playlist);
    QCOMPARE(settings.value(QStringLiteral("MainWindow/volume")).toInt(), 37);
}

void TestHostile::fileDeletedWhilePlaying()
{
    const QString path = testsupport::scratchPath(QStringLiteral("vanishing.mp4"));
    QFile::remove(path);
    QVERIFY(QFile::copy(hostile("faststart.mp4"), path));

    MessageBoxCloser boxes;
    ZeltoraWindow window;
    ZeltoraWindowTestAccess w(window);
    window.show();
    w.drop({QUrl::fromLocalFile(path), QUrl::fromLocalFile(goodA)});
    QTRY_VERIFY(w.framesShown() >= 5);
    QCOMPARE(w.player()->currentFile(), path);

    // The open file lives on until it is closed; the player plays it out and then
    // goes on with the next entry, without a word: nothing went wrong yet.
    QVERIFY(QFile::remove(path));
    QTRY_VERIFY_WITH_TIMEOUT(w.player()->currentFile() == goodA || !boxes.boxes().isEmpty(), 20000);
    QVERIFY2(boxes.boxes().isEmpty(), qPrintable(describe(boxes.boxes())));
    QCOMPARE(w.player()->currentFile(), goodA);

    // The entry stays in the playlist until the user removes it, across starts too.
    QCOMPARE(w.files(), QStringList({path, goodA}));
    w.stop();
    w.saveSettings();
    QCOMPARE(QSettings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora")).value(QStringLiteral("Playlist/files")).toStringList(),
             QStringList({path, goodA}));

    // Asked for again, it is reported, not played.
    w.click(0);
    QTRY_VERIFY(boxes.boxes().size() >= 2);
    QCOMPARE(boxes.boxes().at(0).title, QStringLiteral("Error"));
    QCOMPARE(boxes.boxes().at(1).text, QStringLiteral("无法加载媒体文件: ") + path);
}

void TestHostile::fileTruncatedWhilePlaying()
{
    const QString path = testsupport::scratchPath(QStringLiteral("shrinking.mp4"));
    QFile::remove(path);
    QVERIFY(QFile::copy(hostile("faststart.mp4"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);

    MessageBoxCloser boxes;
    ZeltoraWindow window;
    ZeltoraWindowTestAccess w(window);
    window.show();
    w.drop({QUrl::fromLocalFile(path), QUrl::fromLocalFile(goodA)});
    QTRY_VERIFY(w.framesShown() >= 5);
    const quint64 shown = w.framesShown();

    // Cut the file well before the point the player has read to: its packets run out
    // and the file ends early, then the next entry plays.
    QVERIFY(QFile::resize(path, QFileInfo(path).size() * 3 / 10));
    QTRY_COMPARE_WITH_TIMEOUT(w.player()->currentFile(), goodA, 20000);
    QVERIFY(w.framesShown() > shown);
    QVERIFY2(boxes.boxes().isEmpty(), qPrintable(describe(boxes.boxes())));
    QCOMPARE(w.files(), QStringList({path, goodA}));
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
