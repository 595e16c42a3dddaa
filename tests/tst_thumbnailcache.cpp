// The thumbnails kept on disk between runs: found again after a restart, never
// trusted when damaged, and held within their byte budget.

#include "playlist/playlistmodel.h"
#include "playlist/thumbnailcache.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>

namespace {

QImage solid(QRgb colour)
{
    QImage image(40, 40, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QString pathOf(int i)
{
    return QStringLiteral("/media/clip-%1.mp4").arg(i);
}

} // namespace

class TestThumbnailCache : public QObject
{
    Q_OBJECT

private slots:
    void survivesARestart();
    void damagedFileIsIgnoredAndReplaced_data();
    void damagedFileIsIgnoredAndReplaced();
    void staysWithinItsBudget();
};

void TestThumbnailCache::survivesARestart()
{
    QTemporaryDir dir;
    const QString media = dir.filePath(QStringLiteral("film.mkv"));
    QFile file(media);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
    file.close();
    const QString folder = dir.filePath(QStringLiteral("cache"));

    auto calls = std::make_shared<std::atomic<int>>(0);
    const auto probeIn = [calls](QRgb colour) -> thumbnailprobe::Probe {
        return [calls, colour](const QString &, const thumbnailprobe::Interrupt &) {
            ++*calls;
            return solid(colour);
        };
    };
    for (int run = 0; run < 2; ++run) {
        // The second run's probe would paint blue: it must not be asked.
        PlaylistModel model(probeIn(run == 0 ? qRgb(255, 0, 0) : qRgb(0, 0, 255)), folder);
        model.addFile(media);
        model.data(model.index(0), Qt::DecorationRole);
        QTRY_COMPARE(model.thumbnailState(0), PlaylistModel::Thumbnail::Picture);
        QCOMPARE(model.data(model.index(0), Qt::DecorationRole).value<QImage>().pixel(5, 5), qRgb(255, 0, 0));
        QCOMPARE(calls->load(), 1);
    }
}

void TestThumbnailCache::damagedFileIsIgnoredAndReplaced_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("empty") << QStringLiteral("empty");
    QTest::newRow("cut short") << QStringLiteral("truncate");
    QTest::newRow("one pixel byte changed") << QStringLiteral("flip");
    QTest::newRow("another entry's file") << QStringLiteral("foreign");
    QTest::newRow("not ours") << QStringLiteral("garbage");
}

void TestThumbnailCache::damagedFileIsIgnoredAndReplaced()
{
    QFETCH(QString, damage);
    QTemporaryDir dir;
    const FileStamp stamp{123456, 1700000000000};
    QString target, other;
    {
        ThumbnailCache cache(dir.path());
        cache.storePicture(pathOf(1), stamp, solid(qRgb(255, 0, 0)));
        cache.storePicture(pathOf(2), stamp, solid(qRgb(0, 0, 255)));
        target = cache.fileFor(pathOf(1), stamp);
        other = cache.fileFor(pathOf(2), stamp);
        QVERIFY(QFile::exists(target) && QFile::exists(other));
        // Keyed by size and time as well as by path.
        QCOMPARE(ThumbnailCache(dir.path()).load(pathOf(1), {123456, 1700000000001}).result,
                 ThumbnailCache::Result::Miss);
        QCOMPARE(ThumbnailCache(dir.path()).load(pathOf(1), stamp).result, ThumbnailCache::Result::Picture);
    }

    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    if (damage == QLatin1String("empty"))
        bytes.clear();
    else if (damage == QLatin1String("truncate"))
        bytes.chop(30);
    else if (damage == QLatin1String("flip"))
        bytes[bytes.size() / 2] = char(bytes.at(bytes.size() / 2) ^ 0x01);
    else if (damage == QLatin1String("garbage"))
        bytes = QByteArray(bytes.size(), 'z');
    else {
        QFile foreign(other);
        QVERIFY(foreign.open(QIODevice::ReadOnly));
        bytes = foreign.readAll();
    }
    QVERIFY(file.resize(0) && file.write(bytes) == bytes.size());
    file.close();

    // A fresh start, as after a restart: the damaged file is a miss and is deleted.
    ThumbnailCache cache(dir.path());
    QCOMPARE(cache.load(pathOf(1), stamp).result, ThumbnailCache::Result::Miss);
    QVERIFY(!QFile::exists(target));
    cache.storePicture(pathOf(1), stamp, solid(qRgb(0, 255, 0)));
    const ThumbnailCache::Entry replaced = ThumbnailCache(dir.path()).load(pathOf(1), stamp);
    QCOMPARE(replaced.result, ThumbnailCache::Result::Picture);
    QCOMPARE(replaced.picture.pixel(20, 20), qRgb(0, 255, 0));
}

void TestThumbnailCache::staysWithinItsBudget()
{
    QTemporaryDir dir;
    const FileStamp stamp{1, 1};
    const qint64 oneFile = [&] {
        ThumbnailCache probe(dir.filePath(QStringLiteral("measure")));
        probe.storePicture(pathOf(0), stamp, solid(qRgb(1, 2, 3)));
        return probe.bytesOnDisk();
    }();
    QVERIFY(oneFile > 40 * 40 * 3);

    const QString folder = dir.filePath(QStringLiteral("cache"));
    ThumbnailCache cache(folder, oneFile * 10);
    for (int i = 0; i < 9; ++i)
        cache.storePicture(pathOf(i), stamp, solid(qRgb(i, 0, 0)));
    // Used again, the first entry is no longer the oldest.
    QCOMPARE(cache.load(pathOf(0), stamp).result, ThumbnailCache::Result::Picture);
    for (int i = 9; i < 13; ++i)
        cache.storePicture(pathOf(i), stamp, solid(qRgb(i, 0, 0)));

    QVERIFY(cache.bytesOnDisk() <= oneFile * 10);
    ThumbnailCache reopened(folder, oneFile * 10);
    QVERIFY(reopened.bytesOnDisk() <= oneFile * 10);
    QCOMPARE(reopened.load(pathOf(0), stamp).result, ThumbnailCache::Result::Picture);
    QCOMPARE(reopened.load(pathOf(1), stamp).result, ThumbnailCache::Result::Miss);
    QCOMPARE(reopened.load(pathOf(12), stamp).result, ThumbnailCache::Result::Picture);
}

QTEST_MAIN(TestThumbnailCache)
#include "tst_thumbnailcache.moc"
