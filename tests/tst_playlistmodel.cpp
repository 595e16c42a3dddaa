#include "playlist/playlistmodel.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <sys/stat.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

// Thumbnails are made on a worker that decodes real files; on a busy machine, and
// several times slower under ThreadSanitizer, that takes far beyond QTRY's 5 s.
constexpr int kWaitMs = 30000;

// Which of the two test pictures a thumbnail shows: wide.mp4 has a red vertical band
// in the middle (left edge blue), portrait.mp4 a red horizontal band (left edge red).
enum class Source { Wide, Portrait, None, Unknown };

Source sourceOf(const QVariant &decoration)
{
    if (decoration.userType() != QMetaType::QImage)
        return Source::Unknown;
    const QImage image = decoration.value<QImage>();
    if (image.isNull())
        return Source::None;
    if (image.size() != QSize(40, 40))
        return Source::Unknown;
    const QRgb edge = image.pixel(0, 20);
    if (qBlue(edge) > 160 && qRed(edge) < 90)
        return Source::Wide;
    if (qRed(edge) > 160 && qBlue(edge) < 90)
        return Source::Portrait;
    return Source::Unknown;
}

// Whether a decoration is the icon of that resource, as the list draws it.
bool isIcon(const QVariant &decoration, const QString &resource)
{
    if (decoration.userType() != QMetaType::QIcon)
        return false;
    const QImage shown = decoration.value<QIcon>().pixmap(QSize(40, 40)).toImage();
    return !shown.isNull() && shown == QIcon(resource).pixmap(QSize(40, 40)).toImage();
}

const QString audioIcon = QStringLiteral(":/icons/audio-icon.svg");
const QString noPictureIcon = QStringLiteral(":/icons/no-picture.svg");

// Puts a copy of a test medium at a scratch path, replacing what was there.
bool placeCopy(const QString &mediaName, const QString &target)
{
    QFile::remove(target);
    return QFile::copy(testsupport::mediaPath(mediaName), target);
}

// A probe the test holds in its hand: it counts its calls, then waits until the
// test opens the gate or the model interrupts it, and answers with a red picture
// (or none). Its state is shared with every copy the model makes.
class GatedProbe
{
public:
    thumbnailprobe::Probe probe() const
    {
        return [s = shared](const QString &, const thumbnailprobe::Interrupt &interrupted) {
            std::unique_lock<std::mutex> guard(s->lock);
            ++s->calls;
            s->offGuiThread = QThread::currentThread() != QCoreApplication::instance()->thread();
            QElapsedTimer waited;
            waited.start();
            // A bound of its own, so that a fault shows as a failed check, not a hang.
            while (!s->open && waited.elapsed() < 10000) {
                if (interrupted()) {
                    ++s->interruptions;
                    return QImage();
                }
                s->changed.wait_for(guard, std::chrono::milliseconds(5));
            }
            if (!s->picture)
                return QImage();
            QImage frame(64, 48, QImage::Format_RGB32);
            frame.fill(Qt::red);
            return frame;
        };
    }
    void open(bool withPicture = true)
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->open = true;
        shared->picture = withPicture;
    }
    int calls() const { return read(&Shared::calls); }
    int interruptions() const { return read(&Shared::interruptions); }
    bool offGuiThread() const { return read(&Shared::offGuiThread); }

private:
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        bool open = false;
        bool picture = true;
        int calls = 0;
        int interruptions = 0;
        bool offGuiThread = false;
    };
    template <typename T>
    T read(T Shared::*field) const
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        return (*shared).*field;
    }
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
};

// A small regular file; the gated probe never reads it.
QString someFile(const QString &path, const QByteArray &content = QByteArrayLiteral("x"))
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() ? path : QString();
}

} // namespace

class TestPlaylistModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void emptyModel();
    void rowsComeAndGoWithSignals();
    void duplicatesAreSeparateRows();
    void audioExtensionsGetTheIcon_data();
    void audioExtensionsGetTheIcon();
    void invalidRequestsGiveNothing();

    void thumbnailIsCachedByExactPath();
    void failuresWaitForTheFileToChange();
    void removingAndClearingForgetThumbnails();

    void paintingNeverWaitsForTheProbe();
    void removalInterruptsTheProbe_data();
    void removalInterruptsTheProbe();
    void noPictureIsRememberedUntilTheFileChanges();
    void unavailableEntries_data();
    void unavailableEntries();
    void failedEntriesAreMarked();

private:
    QString scratch(const QString &name) const { return testsupport::scratchPath(name); }
};

void TestPlaylistModel::initTestCase()
{
    // Probes of made-up paths are expected to fail; keep FFmpeg's complaints out of the log.
    av_log_set_level(AV_LOG_QUIET);
}

void TestPlaylistModel::emptyModel()
{
    PlaylistModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.count(), 0);
    QCOMPARE(model.filePath(0), QString());
    QCOMPARE(model.filePath(-1), QString());

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy aboutToReset(&model, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.removeFile(0);
    model.removeFile(-1);
    QCOMPARE(removed.count(), 0);

    // An empty model still announces its reset.
    model.clear();
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.count(), 0);
}

void TestPlaylistModel::rowsComeAndGoWithSignals()
{
    PlaylistModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy aboutToReset(&model, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    const QStringList paths{QStringLiteral("/m/a.mp4"), QStringLiteral("/m/b.mkv"),
                            QStringLiteral("/m/c.mp3"), QString()};
    for (const QString &path : paths)
        model.addFile(path);
    QCOMPARE(inserted.count(), 4);
    for (int i = 0; i < 4; ++i) {
        QVERIFY(!inserted.at(i).at(0).value<QModelIndex>().isValid());
        QCOMPARE(inserted.at(i).at(1).toInt(), i);
        QCOMPARE(inserted.at(i).at(2).toInt(), i);
        QCOMPARE(model.filePath(i), paths.at(i));
    }
    QCOMPARE(model.count(), 4);
    QCOMPARE(model.rowCount(), 4);

    model.removeFile(4);
    model.removeFile(-1);
    QCOMPARE(removed.count(), 0);
    QCOMPARE(model.count(), 4);

    model.removeFile(1);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 1);
    QCOMPARE(removed.at(0).at(2).toInt(), 1);
    QCOMPARE(model.filePath(0), paths.at(0));
    QCOMPARE(model.filePath(1), paths.at(2));
    QCOMPARE(model.filePath(2), paths.at(3));
    QCOMPARE(model.filePath(3), QString());

    model.clear();
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.count(), 0);
    QCOMPARE(removed.count(), 1);

    // A batch is one insertion, however long.
    inserted.clear();
    model.addFiles(paths);
    model.addFiles({});
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 3);
    QCOMPARE(testsupport::playlistEntries(model), paths);
}

void TestPlaylistModel::duplicatesAreSeparateRows()
{
    PlaylistModel model;
    const QString path = QStringLiteral("D:/v/clip.mp4");
    model.addFile(path);
    model.addFile(path);
    QCOMPARE(model.count(), 2);
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(model.data(model.index(row), Qt::DisplayRole).toString(), QStringLiteral("clip.mp4"));
        QCOMPARE(model.data(model.index(row), Qt::ToolTipRole).toString(), path);
    }
    model.removeFile(0);
    QCOMPARE(model.count(), 1);
    QCOMPARE(model.filePath(0), path);

    model.addFile(QStringLiteral("/视频/电影.片段.mkv"));
    QCOMPARE(model.data(model.index(1)).toString(), QStringLiteral("电影.片段.mkv"));
}

void TestPlaylistModel::audioExtensionsGetTheIcon_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("audio");
    QTest::newRow("Song.MP3") << QStringLiteral("Song.MP3") << true;
    QTest::newRow("a.Flac") << QStringLiteral("a.Flac") << true;
    QTest::newRow("x.wav") << QStringLiteral("x.wav") << true;
    QTest::newRow("y.mp3") << QStringLiteral("y.mp3") << true;
    QTest::newRow("b.ogg") << QStringLiteral("b.ogg") << false;
    QTest::newRow("c.m4a") << QStringLiteral("c.m4a") << false;
    QTest::newRow("d.mp3.mp4") << QStringLiteral("d.mp3.mp4") << false;
    QTest::newRow("emp3") << QStringLiteral("emp3") << false;
}

void TestPlaylistModel::audioExtensionsGetTheIcon()
{
    QFETCH(QString, name);
    QFETCH(bool, audio);

    // The file holds a real video: an audio name must keep the probe away from it.
    const QString path = scratch(name);
    QVERIFY(placeCopy(QStringLiteral("wide.mp4"), path));
    PlaylistModel model;
    model.addFile(path);
    if (audio)
        QVERIFY(isIcon(model.data(model.index(0), Qt::DecorationRole), audioIcon));
    else
        QTRY_COMPARE_WITH_TIMEOUT(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide, kWaitMs);

    // Without a file behind it, a non-audio name says it has no picture.
    PlaylistModel missing;
    missing.addFile(scratch(QStringLiteral("gone-") + name));
    QTRY_VERIFY_WITH_TIMEOUT(!missing.isAvailable(0), kWaitMs);
    QVERIFY(isIcon(missing.data(missing.index(0), Qt::DecorationRole), audio ? audioIcon : noPictureIcon));
}

void TestPlaylistModel::invalidRequestsGiveNothing()
{
    PlaylistModel model;
    model.addFile(QStringLiteral("/m/a.mp3"));
    model.addFile(QStringLiteral("/m/b.mp3"));

    QVERIFY(!model.data(QModelIndex(), Qt::DisplayRole).isValid());
    QVERIFY(!model.index(2).isValid());
    for (int role : {int(Qt::EditRole), int(Qt::SizeHintRole), int(Qt::UserRole), int(Qt::StatusTipRole)})
        QVERIFY2(!model.data(model.index(0), role).isValid(), qPrintable(QString::number(role)));

    // An index kept past the removal of its row must not read beyond the list.
    const QModelIndex stale = model.index(1);
    model.removeFile(1);
    for (int role : {int(Qt::DisplayRole), int(Qt::ToolTipRole), int(Qt::DecorationRole)})
        QVERIFY(!model.data(stale, role).isValid());

    QCOMPARE(model.flags(model.index(0)), Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
}

void TestPlaylistModel::thumbnailIsCachedByExactPath()
{
    const QString lower = scratch(QStringLiteral("cached.mp4"));
    const QString upper = scratch(QStringLiteral("CACHED.mp4"));
    QVERIFY(placeCopy(QStringLiteral("wide.mp4"), lower));
    QVERIFY(placeCopy(QStringLiteral("portrait.mp4"), upper));

    PlaylistModel model;
    model.setRecheckInterval(0);
    model.addFile(lower);
    QTRY_COMPARE_WITH_TIMEOUT(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide, kWaitMs);

    // Once made, the thumbnail is kept until the model looks at the file again.
    QVERIFY(placeCopy(QStringLiteral("portrait.mp4"), lower));
    QTest::qWait(50);
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide);

    // A path that differs only in letter case is a key of its own.
    model.addFile(upper);
    QTRY_COMPARE_WITH_TIMEOUT(sourceOf(model.data(model.index(1), Qt::DecorationRole)), Source::Portrait, kWaitMs);
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide);

    // Looked at again, the changed file gets the thumbnail of what it holds now.
    model.recheckFiles();
    QTRY_COMPARE_WITH_TIMEOUT(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Portrait, kWaitMs);
}

void TestPlaylistModel::failuresWaitForTheFileToChange()
{
    const QString path = scratch(QStringLiteral("arrives-later.mkv"));
    QFile::remove(path);
    PlaylistModel model;
    model.setRecheckInterval(0);
    model.addFile(path);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isAvailable(0), kWaitMs);
    QVERIFY(isIcon(model.data(model.index(0), Qt::DecorationRole), noPictureIcon));

    // The file arrives: the next look finds it and its thumbnail is made.
    QVERIFY(placeCopy(QStringLiteral("wide.mp4"), path));
    model.recheckFiles();
    QTRY_COMPARE_WITH_TIMEOUT(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide, kWaitMs);
    QVERIFY(model.isAvailable(0));

    // An audio-only file in a video-like container: an honest "no picture".
    model.addFile(testsupport::mediaPath(QStringLiteral("audio-only.m4a")));
    model.data(model.index(1), Qt::DecorationRole);
    QTRY_COMPARE_WITH_TIMEOUT(model.thumbnailState(1), PlaylistModel::Thumbnail::NoPicture, kWaitMs);
    QVERIFY(isIcon(model.data(model.index(1), Qt::DecorationRole), noPictureIcon));
    QVERIFY(model.isAvailable(1));
}

void TestPlaylistModel::removingAndClearingForgetThumbnails()
{
    const QString path = scratch(QStringLiteral("changing.mp4"));
    QVERIFY(placeCopy(QStringLiteral("wide.mp4"), path));

    PlaylistModel model;
    model.setRecheckInterval(0);
    model.addFiles({path, QStringLiteral("/m/other.mp4"), path});
    QTRY_COMPARE_WITH_TIMEOUT(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide, kWaitMs);
    QCOMPARE(sourceOf(model.data(model.index(2), Qt::DecorationRole)), Source::Wide);

    // Removing one of two rows with the same path leaves the other its thumbnail.
    model.removeFile(0);
    QCOMPARE(model.filePath(1), path);
    QCOMPARE(sourceOf(model.data(model.index(1), Qt::DecorationRole)), Source::Wide);

    // Removing the last row with the path forgets it: added again after the file
    // changed, it shows what the file holds now.
    model.removeFile(1);
    QVERIFY(placeCopy(QStringLiteral("portrait.mp4"), path));
    model.addFile(path);
    QTRY_COMPARE_WITH_TIMEOUT(sourceOf(model.data(model.index(1), Qt::DecorationRole)), Source::Portrait, kWaitMs);

    // Clearing forgets everything.
    QVERIFY(placeCopy(QStringLiteral("wide.mp4"), path));
    model.clear();
    model.addFile(path);
    QTRY_COMPARE_WITH_TIMEOUT(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide, kWaitMs);
}

void TestPlaylistModel::paintingNeverWaitsForTheProbe()
{
    GatedProbe gate;
    QTemporaryDir cache;
    PlaylistModel model(gate.probe(), cache.path());
    model.addFile(someFile(cache.filePath(QStringLiteral("gated.mp4"))));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    // The probe holds until the gate opens: data() answering at all shows it did not
    // wait for it. Repaints meanwhile merge into the one request.
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Unknown);
    QTRY_COMPARE_WITH_TIMEOUT(gate.calls(), 1, kWaitMs);
    for (int i = 0; i < 20; ++i)
        model.data(model.index(0), Qt::DecorationRole);
    QCOMPARE(model.thumbnailState(0), PlaylistModel::Thumbnail::Pending);
    QVERIFY(changed.isEmpty());

    gate.open();
    QTRY_COMPARE_WITH_TIMEOUT(model.thumbnailState(0), PlaylistModel::Thumbnail::Picture, kWaitMs);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 0);
    QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>{Qt::DecorationRole});
    const QImage thumbnail = model.data(model.index(0), Qt::DecorationRole).value<QImage>();
    QCOMPARE(thumbnail.size(), QSize(40, 40));
    QCOMPARE(thumbnail.pixel(20, 20), qRgb(255, 0, 0));
    QCOMPARE(gate.calls(), 1);
    QVERIFY(gate.offGuiThread());
}

void TestPlaylistModel::removalInterruptsTheProbe_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("interrupts");
    QTest::newRow("remove the row") << QStringLiteral("remove") << true;
    QTest::newRow("clear") << QStringLiteral("clear") << true;
    QTest::newRow("close (destroy the model)") << QStringLiteral("destroy") << true;
    QTest::newRow("remove one of two copies") << QStringLiteral("remove copy") << false;
}

void TestPlaylistModel::removalInterruptsTheProbe()
{
    QFETCH(QString, action);
    QFETCH(bool, interrupts);
    GatedProbe gate;
    QTemporaryDir cache;
    const QString path = someFile(cache.filePath(QStringLiteral("big.mkv")));
    auto model = std::make_unique<PlaylistModel>(gate.probe(), cache.path());
    const QString other = someFile(cache.filePath(QStringLiteral("other.mkv")));
    model->addFiles({path, action == QLatin1String("remove copy") ? path : other});
    model->data(model->index(0), Qt::DecorationRole);
    QTRY_COMPARE_WITH_TIMEOUT(gate.calls(), 1, kWaitMs);
    QSignalSpy changed(model.get(), &QAbstractItemModel::dataChanged);

    QElapsedTimer clock;
    clock.start();
    if (action == QLatin1String("clear"))
        model->clear();
    else if (action == QLatin1String("destroy"))
        model.reset();
    else
        model->removeFile(0);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));

    if (!interrupts) {
        // The other copy still wants the picture.
        QTest::qWait(50);
        QCOMPARE(gate.interruptions(), 0);
        gate.open();
        QTRY_COMPARE_WITH_TIMEOUT(model->thumbnailState(0), PlaylistModel::Thumbnail::Picture, kWaitMs);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(gate.interruptions(), 1, kWaitMs);
    if (model) {
        QTest::qWait(50);
        QCOMPARE(changed.count(), 0);
    }
}

void TestPlaylistModel::noPictureIsRememberedUntilTheFileChanges()
{
    GatedProbe gate;
    gate.open(false);
    QTemporaryDir dir;
    const QString path = someFile(dir.filePath(QStringLiteral("silent.mkv")));
    const QString cache = dir.filePath(QStringLiteral("cache"));
    const auto probedOnce = [](PlaylistModel &model) {
        model.data(model.index(0), Qt::DecorationRole);
        QTRY_COMPARE_WITH_TIMEOUT(model.thumbnailState(0), PlaylistModel::Thumbnail::NoPicture, kWaitMs);
        // Repaints and a fresh look at the unchanged file ask nothing more.
        model.recheckFiles();
        for (int i = 0; i < 10; ++i) {
            model.data(model.index(0), Qt::DecorationRole);
            QTest::qWait(10);
        }
        QVERIFY(isIcon(model.data(model.index(0), Qt::DecorationRole), noPictureIcon));
    };
    {
        PlaylistModel model(gate.probe(), cache);
        model.setRecheckInterval(0);
        model.addFile(path);
        probedOnce(model);
        QCOMPARE(gate.calls(), 1);

        // Once the file changes, it is probed again.
        QVERIFY(!someFile(path, QByteArrayLiteral("longer")).isEmpty());
        model.recheckFiles();
        QTRY_COMPARE_WITH_TIMEOUT((model.data(model.index(0), Qt::DecorationRole), gate.calls()), 2, kWaitMs);
        probedOnce(model);
        QCOMPARE(gate.calls(), 2);
    }
    // The answer is kept on disk: a restart does not probe the file again.
    PlaylistModel again(gate.probe(), cache);
    again.addFile(path);
    probedOnce(again);
    QCOMPARE(gate.calls(), 2);
}

void TestPlaylistModel::unavailableEntries_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("missing") << QStringLiteral("missing") << QStringLiteral("文件不存在: ");
    QTest::newRow("named pipe") << QStringLiteral("fifo") << QStringLiteral("不是普通文件，无法播放: ");
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("不是普通文件，无法播放: ");
}

void TestPlaylistModel::unavailableEntries()
{
    QFETCH(QString, kind);
    QFETCH(QString, tooltip);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("entry.mp4"));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    const QString good = someFile(dir.filePath(QStringLiteral("good.mkv")));

    GatedProbe gate;
    gate.open();
    PlaylistModel model(gate.probe(), QString());
    model.addFiles({path, good});
    QTRY_VERIFY_WITH_TIMEOUT(!model.isAvailable(0), kWaitMs);
    QVERIFY(model.isAvailable(1));
    QCOMPARE(model.data(model.index(0), Qt::ToolTipRole).toString(), tooltip + path);
    QVERIFY(model.data(model.index(0), Qt::ForegroundRole).canConvert<QColor>());
    QVERIFY(!model.data(model.index(1), Qt::ForegroundRole).isValid());
    QVERIFY(isIcon(model.data(model.index(0), Qt::DecorationRole), noPictureIcon));
    // Never given to the probe: opening a pipe would block it for good.
    QTest::qWait(50);
    QCOMPARE(gate.calls(), 0);

    // A regular file in its place: the model's own periodic look brings it back.
    QFile::remove(path);
    QDir().rmdir(path);
    QVERIFY(!someFile(path).isEmpty());
    model.setRecheckInterval(50);
    QTRY_VERIFY_WITH_TIMEOUT(model.isAvailable(0), kWaitMs);
    QCOMPARE(model.data(model.index(0), Qt::ToolTipRole).toString(), path);
    QVERIFY(!model.data(model.index(0), Qt::ForegroundRole).isValid());
    QTRY_COMPARE_WITH_TIMEOUT((model.data(model.index(0), Qt::DecorationRole), model.thumbnailState(0)),
                              PlaylistModel::Thumbnail::Picture, kWaitMs);
}

void TestPlaylistModel::failedEntriesAreMarked()
{
    QTemporaryDir dir;
    const QStringList paths{someFile(dir.filePath(QStringLiteral("a.mp3"))),
                            someFile(dir.filePath(QStringLiteral("b.mp3"))), dir.filePath(QStringLiteral("c.mp3"))};
    PlaylistModel model(GatedProbe().probe(), QString());
    model.addFiles(paths);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isAvailable(2), kWaitMs);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setFailed(1, true);
    model.setFailed(1, true);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 1);
    QCOMPARE(model.data(model.index(1), Qt::ToolTipRole).toString(), QStringLiteral("无法播放: ") + paths.at(1));
    QVERIFY(model.data(model.index(1), Qt::ForegroundRole).canConvert<QColor>());

    // The mark travels with its row, and a missing file says so first.
    model.removeFile(0);
    QVERIFY(model.hasFailed(0));
    QVERIFY(!model.hasFailed(1));
    model.setFailed(1, true);
    QCOMPARE(model.data(model.index(1), Qt::ToolTipRole).toString(), QStringLiteral("文件不存在: ") + paths.at(2));
    model.setFailed(0, false);
    QVERIFY(!model.hasFailed(0));
    QCOMPARE(model.data(model.index(0), Qt::ToolTipRole).toString(), paths.at(1));
}

QTEST_MAIN(TestPlaylistModel)
#include "tst_playlistmodel.moc"
