#include "playlist/playlistmodel.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QIcon>
#include <QSignalSpy>
#include <QTest>

extern "C" {
#include <libavutil/log.h>
}

namespace {

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

// Puts a copy of a test medium at a scratch path, replacing what was there.
bool placeCopy(const QString &mediaName, const QString &target)
{
    QFile::remove(target);
    return QFile::copy(testsupport::mediaPath(mediaName), target);
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
    void failuresAreProbedAgain();
    void removingAndClearingForgetThumbnails();

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
    const QVariant decoration = model.data(model.index(0), Qt::DecorationRole);
    if (audio) {
        QCOMPARE(decoration.userType(), QMetaType::QIcon);
        if (QFile::exists(QStringLiteral(":/icons/audio-icon.svg")))
            QVERIFY(!decoration.value<QIcon>().pixmap(QSize(40, 40)).isNull());
    } else {
        QCOMPARE(sourceOf(decoration), Source::Wide);
    }

    // Without a file behind it, a non-audio name still gets an image, a null one.
    PlaylistModel missing;
    missing.addFile(scratch(QStringLiteral("gone-") + name));
    const QVariant none = missing.data(missing.index(0), Qt::DecorationRole);
    QCOMPARE(none.userType(), audio ? int(QMetaType::QIcon) : int(QMetaType::QImage));
    if (!audio)
        QVERIFY(none.value<QImage>().isNull());
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
    model.addFile(lower);
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide);

    // Once made, the thumbnail is not made again even when the file changes.
    QVERIFY(placeCopy(QStringLiteral("portrait.mp4"), lower));
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide);

    // A path that differs only in letter case is a key of its own.
    model.addFile(upper);
    QCOMPARE(sourceOf(model.data(model.index(1), Qt::DecorationRole)), Source::Portrait);
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide);
}

void TestPlaylistModel::failuresAreProbedAgain()
{
    const QString path = scratch(QStringLiteral("arrives-later.mkv"));
    QFile::remove(path);
    PlaylistModel model;
    model.addFile(path);
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::None);
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::None);

    // Nothing was remembered about the failure: the file is probed again.
    QVERIFY(placeCopy(QStringLiteral("wide.mp4"), path));
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide);

    // An audio-only file in a video-like container: a null image every time.
    model.addFile(testsupport::mediaPath(QStringLiteral("audio-only.m4a")));
    QCOMPARE(sourceOf(model.data(model.index(1), Qt::DecorationRole)), Source::None);
    QCOMPARE(sourceOf(model.data(model.index(1), Qt::DecorationRole)), Source::None);
}

void TestPlaylistModel::removingAndClearingForgetThumbnails()
{
    const QString path = scratch(QStringLiteral("changing.mp4"));
    QVERIFY(placeCopy(QStringLiteral("wide.mp4"), path));

    PlaylistModel model;
    model.addFile(path);
    model.addFile(QStringLiteral("/m/other.mp4"));
    model.addFile(path);
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide);
    QCOMPARE(sourceOf(model.data(model.index(2), Qt::DecorationRole)), Source::Wide);

    // Removing one of two rows with the same path drops the shared thumbnail: the
    // remaining row makes it anew, from the file as it is now.
    QVERIFY(placeCopy(QStringLiteral("portrait.mp4"), path));
    model.removeFile(0);
    QCOMPARE(model.filePath(1), path);
    QCOMPARE(sourceOf(model.data(model.index(1), Qt::DecorationRole)), Source::Portrait);

    // Removing another row leaves it alone.
    QVERIFY(placeCopy(QStringLiteral("wide.mp4"), path));
    model.removeFile(0);
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Portrait);

    // Clearing forgets everything.
    model.clear();
    model.addFile(path);
    QCOMPARE(sourceOf(model.data(model.index(0), Qt::DecorationRole)), Source::Wide);
}

QTEST_MAIN(TestPlaylistModel)
#include "tst_playlistmodel.moc"
