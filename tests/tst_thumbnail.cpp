#include "decoder/ffmpegsupport.h"
#include "playlist/playlistmodel.h"
#include "playlist/thumbnailprobe.h"
#include "testsupport.h"

#include <QFile>
#include <QTest>

#include <sys/stat.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

enum class Hue { Red, Green, Blue, Other };

Hue hueOf(QRgb pixel)
{
    const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
    if (r > 160 && g < 90 && b < 90)
        return Hue::Red;
    if (g > 90 && r < 90 && b < 90)
        return Hue::Green;
    if (b > 160 && r < 90 && g < 90)
        return Hue::Blue;
    return Hue::Other;
}

QImage thumbnailOf(const QString &mediaName)
{
    PlaylistModel model;
    return model.generateThumbnail(testsupport::mediaPath(mediaName));
}

} // namespace

class TestThumbnail : public QObject
{
    Q_OBJECT

private slots:
    void cropKeepsTheMiddle_data();
    void cropKeepsTheMiddle();
    void cropEdgeCases();

    void wideVideoKeepsItsMiddle();
    void portraitVideoKeepsItsFullWidth();
    void smallVideosAreScaledUp_data();
    void smallVideosAreScaledUp();
    void noPictureGivesANullImage_data();
    void noPictureGivesANullImage();
    void probeGivesUpOnAStreamThatNeverDecodes();
    void interruptEndsTheProbe_data();
    void interruptEndsTheProbe();
};

void TestThumbnail::cropKeepsTheMiddle_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("firstKeptColumn");
    QTest::addColumn<int>("firstKeptRow");
    // Sizes that already cover 40x40 with one side exactly 40 are not resampled,
    // so the cut can be checked pixel by pixel.
    QTest::newRow("41 wide: last column cut") << QSize(41, 40) << 0 << 0;
    QTest::newRow("43 wide") << QSize(43, 40) << 1 << 0;
    QTest::newRow("81 wide") << QSize(81, 40) << 20 << 0;
    QTest::newRow("41 high: last row cut") << QSize(40, 41) << 0 << 0;
    QTest::newRow("45 high") << QSize(40, 45) << 0 << 2;
    QTest::newRow("square") << QSize(40, 40) << 0 << 0;
}

void TestThumbnail::cropKeepsTheMiddle()
{
    QFETCH(QSize, size);
    QFETCH(int, firstKeptColumn);
    QFETCH(int, firstKeptRow);

    // Every pixel carries its own coordinates, so the crop shows where it was cut.
    QImage frame(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            frame.setPixel(x, y, qRgb(x, y, 128));

    const QImage thumbnail = thumbnailprobe::cropThumbnail(frame);
    QCOMPARE(thumbnail.size(), QSize(40, 40));
    QCOMPARE(thumbnail.format(), QImage::Format_RGB32);
    QCOMPARE(thumbnail.pixel(0, 0), qRgb(firstKeptColumn, firstKeptRow, 128));
    QCOMPARE(thumbnail.pixel(39, 39), qRgb(firstKeptColumn + 39, firstKeptRow + 39, 128));
}

void TestThumbnail::cropEdgeCases()
{
    // 1280x720 and 240x320 after scaling to cover the square.
    QCOMPARE(thumbnailprobe::centreSquare(QSize(71, 40)), QRect(15, 0, 40, 40));
    QCOMPARE(thumbnailprobe::centreSquare(QSize(40, 53)), QRect(0, 6, 40, 40));

    QVERIFY(thumbnailprobe::cropThumbnail(QImage()).isNull());

    QImage dot(1, 1, QImage::Format_ARGB32);
    dot.fill(qRgb(10, 200, 30));
    const QImage fromDot = thumbnailprobe::cropThumbnail(dot);
    QCOMPARE(fromDot.size(), QSize(40, 40));
    QCOMPARE(fromDot.format(), QImage::Format_RGB32);
    QCOMPARE(fromDot.pixel(20, 20), qRgb(10, 200, 30));
}

void TestThumbnail::wideVideoKeepsItsMiddle()
{
    // wide.mp4: 1280x720 blue with a red band over the middle eighth of its width.
    const QImage thumbnail = thumbnailOf(QStringLiteral("wide.mp4"));
    QCOMPARE(thumbnail.size(), QSize(40, 40));
    QCOMPARE(thumbnail.format(), QImage::Format_RGB32);
    for (int y : {0, 20, 39}) {
        QCOMPARE(hueOf(thumbnail.pixel(20, y)), Hue::Red);
        QCOMPARE(hueOf(thumbnail.pixel(0, y)), Hue::Blue);
        QCOMPARE(hueOf(thumbnail.pixel(39, y)), Hue::Blue);
    }
    // Only the middle 40 of 71 scaled columns remain: the band is about a quarter of it.
    int redColumns = 0;
    for (int x = 0; x < 40; ++x)
        redColumns += hueOf(thumbnail.pixel(x, 20)) == Hue::Red;
    QVERIFY2(redColumns >= 7 && redColumns <= 11, qPrintable(QString::number(redColumns)));
}

void TestThumbnail::portraitVideoKeepsItsFullWidth()
{
    // portrait.mp4: 240x320 blue with a full-width red band over rows 120..199.
    const QImage thumbnail = thumbnailOf(QStringLiteral("portrait.mp4"));
    QCOMPARE(thumbnail.size(), QSize(40, 40));
    for (int x : {0, 20, 39}) {
        QCOMPARE(hueOf(thumbnail.pixel(x, 0)), Hue::Blue);
        QCOMPARE(hueOf(thumbnail.pixel(x, 20)), Hue::Red);
        QCOMPARE(hueOf(thumbnail.pixel(x, 39)), Hue::Blue);
    }
    // 53 scaled rows, 6 cut at the top: the band covers 13 or so of the 40 left.
    int redRows = 0;
    for (int y = 0; y < 40; ++y)
        redRows += hueOf(thumbnail.pixel(20, y)) == Hue::Red;
    QVERIFY2(redRows >= 11 && redRows <= 15, qPrintable(QString::number(redRows)));
}

void TestThumbnail::smallVideosAreScaledUp_data()
{
    QTest::addColumn<QString>("media");
    QTest::addColumn<int>("hue");
    QTest::newRow("tiny 20x16") << QStringLiteral("tiny.mkv") << int(Hue::Green);
    // One picture only: a decoder that holds pictures back must be drained for it.
    QTest::newRow("single red frame") << QStringLiteral("red.mp4") << int(Hue::Red);
    QTest::newRow("1x1") << QStringLiteral("odd-1x1.mkv") << -1;
    QTest::newRow("33x7") << QStringLiteral("odd-33x7.mkv") << -1;
    QTest::newRow("video after audio") << QStringLiteral("audio-first.mkv") << -1;
}

void TestThumbnail::smallVideosAreScaledUp()
{
    QFETCH(QString, media);
    QFETCH(int, hue);
    const QImage thumbnail = thumbnailOf(media);
    QCOMPARE(thumbnail.size(), QSize(40, 40));
    QCOMPARE(thumbnail.format(), QImage::Format_RGB32);
    if (hue >= 0) {
        for (QPoint p : {QPoint(0, 0), QPoint(20, 20), QPoint(39, 39)}) {
            const QRgb pixel = thumbnail.pixel(p);
            QVERIFY2(int(hueOf(pixel)) == hue, qPrintable(QStringLiteral("(%1,%2) is %3,%4,%5").arg(p.x()).arg(p.y())
                     .arg(qRed(pixel)).arg(qGreen(pixel)).arg(qBlue(pixel))));
        }
    }
}

void TestThumbnail::noPictureGivesANullImage_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("audio only") << testsupport::mediaPath(QStringLiteral("audio-only.m4a"));
    QTest::newRow("missing") << testsupport::mediaPath(QStringLiteral("no-such-file.mp4"));
    QTest::newRow("text") << testsupport::mediaPath(QStringLiteral("not-media.mp4"));
    QTest::newRow("random bytes") << testsupport::mediaPath(QStringLiteral("random.mkv"));
    QTest::newRow("empty") << testsupport::mediaPath(QStringLiteral("empty.mp4"));
    QTest::newRow("a folder") << testsupport::mediaPath(QString());
    QTest::newRow("empty path") << QString();
    // Opening a named pipe would wait for a writer for ever.
    const QString fifo = testsupport::scratchPath(QStringLiteral("pipe.mp4"));
    QFile::remove(fifo);
    if (mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0)
        QTest::newRow("named pipe") << fifo;
}

void TestThumbnail::noPictureGivesANullImage()
{
    QFETCH(QString, path);
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    const QImage thumbnail = PlaylistModel().generateThumbnail(path);
    av_log_set_level(level);
    QVERIFY(thumbnail.isNull());
}

void TestThumbnail::probeGivesUpOnAStreamThatNeverDecodes()
{
    // 600 packets the decoder rejects, then good red pictures: the probe stops long
    // before reaching them instead of reading the whole file.
    const QString path = testsupport::mediaPath(QStringLiteral("late-picture.h264"));
    QVERIFY(QFile::exists(path));
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    const QImage thumbnail = PlaylistModel().generateThumbnail(path);
    av_log_set_level(level);
    QVERIFY(thumbnail.isNull());
}

void TestThumbnail::interruptEndsTheProbe_data()
{
    QTest::addColumn<bool>("stop");
    QTest::newRow("never asked to stop") << false;
    QTest::newRow("asked to stop") << true;
}

void TestThumbnail::interruptEndsTheProbe()
{
    QFETCH(bool, stop);
    int asked = 0;
    const QImage frame = thumbnailprobe::firstFrame(testsupport::mediaPath(QStringLiteral("wide.mp4")),
                                                    [&] { ++asked; return stop; });
    QVERIFY(asked > 0);
    QCOMPARE(frame.isNull(), stop);

    // The open itself gives up when told to, before the first packet.
    AVFormatContext *format = nullptr;
    const AVIOInterruptCB callback{[](void *answer) { return *static_cast<int *>(answer); }, &asked};
    asked = stop ? 1 : 0;
    const int ret = ffmpeg::openLocalInput(&format, testsupport::mediaPath(QStringLiteral("wide.mp4")), &callback);
    const ffmpeg::FormatContextPtr owner(format);
    QCOMPARE(ret == AVERROR_EXIT, stop);
    QCOMPARE(format == nullptr, stop);
}

QTEST_MAIN(TestThumbnail)
#include "tst_thumbnail.moc"
