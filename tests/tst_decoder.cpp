#include "decoder/ffmpegdecoder.h"
#include "decoder/ffmpegsupport.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <atomic>
#include <future>
#include <thread>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

using testsupport::mediaPath;
using testsupport::scratchPath;

namespace {

struct Run {
    QList<QImage> frames;
    QList<qint64> positions;
    int calls = 0;
    int readySignals = 0;
    int finishedSignals = 0;
};

// Asks for frames one at a time, as the window's timer does, until the decoder
// says the media is over.
Run playToEnd(FFmpegDecoder &decoder, int maxCalls = 5000)
{
    Run run;
    QObject scope;
    QObject::connect(&decoder, &FFmpegDecoder::frameReady, &scope, [&](const QImage &image) {
        ++run.readySignals;
        if (!image.isNull()) {
            run.frames << image;
            run.positions << decoder.position();
        }
    });
    QObject::connect(&decoder, &FFmpegDecoder::playbackFinished, &scope, [&] { ++run.finishedSignals; });
    while (run.finishedSignals == 0 && run.calls < maxCalls) {
        decoder.decodeVideoFrame();
        ++run.calls;
    }
    return run;
}

QImage nextFrame(FFmpegDecoder &decoder, int maxCalls = 50)
{
    QImage result;
    QObject scope;
    QObject::connect(&decoder, &FFmpegDecoder::frameReady, &scope, [&](const QImage &image) { result = image; });
    for (int i = 0; i < maxCalls && result.isNull(); ++i)
        decoder.decodeVideoFrame();
    return result;
}

QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput();
}

int ffprobeFrameCount(const QString &path)
{
    const QByteArray out = runTool(QStringLiteral("ffprobe"),
        {"-v", "error", "-count_frames", "-select_streams", "v:0",
         "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
    // Playlists list their stream once per program as well: the first line counts.
    bool ok = false;
    const int count = QString::fromLatin1(out).trimmed().section(QLatin1Char('\n'), 0, 0).trimmed().toInt(&ok);
    return ok ? count : -1;
}

// Largest colour difference between a frame and a reference rendering of it.
int worstDifference(const QImage &frame, const QByteArray &reference)
{
    if (reference.size() != frame.width() * frame.height() * 4)
        return 256;
    int worst = 0;
    for (int y = 0; y < frame.height(); ++y) {
        const uchar *ours = frame.constScanLine(y);
        const auto *theirs = reinterpret_cast<const uchar *>(reference.constData()) + y * frame.width() * 4;
        for (int x = 0; x < frame.width() * 4; ++x)
            if (x % 4 != 3)
                worst = qMax(worst, qAbs(ours[x] - theirs[x]));
    }
    return worst;
}

// Every picture of a file as FFmpeg's own tool renders it with the decoder's
// scaler flags, each at its own size, tightly packed BGRA one after the other.
QByteArray ffmpegFrames(const QString &path)
{
    return runTool(QStringLiteral("ffmpeg"),
        {"-nostdin", "-v", "error", "-i", path, "-autoscale", "0", "-fps_mode", "passthrough",
         "-sws_flags", "bilinear", "-f", "rawvideo", "-pix_fmt", "bgra", "-"});
}

// Compares each frame with FFmpeg's rendering of it; returns the worst colour
// difference and the frame it occurs in.
QPair<int, int> compareWithFfmpeg(const QList<QImage> &frames, const QString &path)
{
    const QByteArray reference = ffmpegFrames(path);
    QPair<int, int> worst(0, -1);
    qsizetype offset = 0;
    for (int i = 0; i < frames.size(); ++i) {
        const qsizetype bytes = qsizetype(frames[i].width()) * frames[i].height() * 4;
        const int difference = worstDifference(frames[i], reference.mid(offset, bytes));
        if (difference > worst.first)
            worst = {difference, i};
        offset += bytes;
    }
    if (offset != reference.size())
        worst = {256, -1};
    return worst;
}

// Every pixel of an RGB32 frame must carry alpha 255; the raw bytes are read
// because QImage::pixel() masks the alpha of this format.
bool fullyOpaque(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const uchar *row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x)
            if (row[x * 4 + 3] != 0xff)
                return false;
    }
    return true;
}

bool near(QRgb actual, QRgb expected, int tolerance)
{
    return qAbs(qRed(actual) - qRed(expected)) <= tolerance
        && qAbs(qGreen(actual) - qGreen(expected)) <= tolerance
        && qAbs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

// Stands in for a web server on the loopback: counts connections and answers
// each with 404 so that a client that does connect fails quickly instead of hanging.
class RefusingServer
{
public:
    RefusingServer()
    {
        std::promise<quint16> listening;
        auto port = listening.get_future();
        worker = std::thread([this, &listening] {
            QTcpServer server;
            listening.set_value(server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0);
            while (!stopping) {
                if (!server.waitForNewConnection(50))
                    continue;
                QTcpSocket *socket = server.nextPendingConnection();
                ++connectionCount;
                socket->waitForReadyRead(1000);
                socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->waitForBytesWritten(1000);
                socket->disconnectFromHost();
                delete socket;
            }
        });
        serverPort = port.get();
    }
    ~RefusingServer()
    {
        stopping = true;
        worker.join();
    }
    quint16 port() const { return serverPort; }
    int connections() const { return connectionCount; }

private:
    std::thread worker;
    std::atomic<bool> stopping{false};
    std::atomic<int> connectionCount{0};
    quint16 serverPort = 0;
};

} // namespace

class TestDecoder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void opensStreams_data();
    void opensStreams();
    void failedOpenHoldsNothing_data();
    void failedOpenHoldsNothing();
    void secondOpenReplacesFirst();

    void deliversEveryFrame_data();
    void deliversEveryFrame();
    void packetBudgetIsNotTheEnd();
    void positionsFollowTimestamps();
    void durations_data();
    void durations();
    void frameRates_data();
    void frameRates();

    void barsKeepTheirColours();
    void deliveredFramesAreNeverReused();
    void oddSizesAreFullyWritten_data();
    void oddSizesAreFullyWritten();
    void streamChangesMidStream_data();
    void streamChangesMidStream();
    void conversionStaysInsideItsBuffer_data();
    void conversionStaysInsideItsBuffer();
    void conversionFollowsColourTags();

    void seekReturnsToKeyFrames();
    void seekAfterTheEndPlaysAgain();
    void queuedInvocationByName();

    void protocolNamesAreFileNames();
    void playlistCannotReachTheNetwork_data();
    void playlistCannotReachTheNetwork();
};

void TestDecoder::initTestCase()
{
    QVERIFY2(QFile::exists(mediaPath("clip.mp4")), "test media missing: run the media_setup test");
    QVERIFY2(!runTool("ffprobe", {"-version"}).isEmpty(), "ffprobe is needed to count frames");
}

void TestDecoder::opensStreams_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("video");
    QTest::addColumn<bool>("audio");
    QTest::addColumn<QSize>("size");

    QTest::newRow("video and audio") << "clip.mp4" << true << true << QSize(320, 240);
    QTest::newRow("video only") << "bars.mp4" << true << false << QSize(320, 240);
    QTest::newRow("audio first") << "audio-first.mkv" << true << true << QSize(160, 120);
    QTest::newRow("m4a") << "audio-only.m4a" << false << true << QSize();
    QTest::newRow("mp3") << "audio.mp3" << false << true << QSize();
    QTest::newRow("wav") << "audio.wav" << false << true << QSize();
    QTest::newRow("flac") << "audio.flac" << false << true << QSize();
}

void TestDecoder::opensStreams()
{
    QFETCH(QString, file);
    QFETCH(bool, video);
    QFETCH(bool, audio);
    QFETCH(QSize, size);

    if (!video)
        QTest::ignoreMessage(QtDebugMsg, "No video stream found");
    if (!audio)
        QTest::ignoreMessage(QtDebugMsg, "No audio stream found");

    FFmpegDecoder decoder;
    QSignalSpy errors(&decoder, &FFmpegDecoder::errorOccurred);
    const QString path = mediaPath(file);
    QVERIFY(decoder.open(path));
    QCOMPARE(errors.count(), 0);
    QVERIFY(decoder.isOpen());
    QCOMPARE(decoder.currentFile(), path);
    QCOMPARE(decoder.hasVideo(), video);
    QCOMPARE(decoder.hasAudio(), audio);
    QVERIFY(decoder.duration() > 0);
    QCOMPARE(decoder.frameRate() > 0.0, video);

    if (video) {
        const QImage frame = nextFrame(decoder);
        QCOMPARE(frame.size(), size);
        QCOMPARE(frame.format(), QImage::Format_RGB32);
        QVERIFY(fullyOpaque(frame));
        return;
    }
    QSignalSpy ready(&decoder, &FFmpegDecoder::frameReady);
    QSignalSpy finished(&decoder, &FFmpegDecoder::playbackFinished);
    for (int i = 0; i < 3; ++i)
        decoder.decodeVideoFrame();
    QCOMPARE(ready.count(), 3);
    for (const auto &arguments : ready)
        QVERIFY(arguments.at(0).value<QImage>().isNull());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(decoder.position(), 0);
    QVERIFY(!decoder.seek(0));
}

void TestDecoder::failedOpenHoldsNothing_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");

    const QString cannotOpen = QStringLiteral("Could not open file");
    QTest::newRow("missing") << mediaPath("missing.mp4") << cannotOpen;
    QTest::newRow("text") << mediaPath("not-media.mp4") << cannotOpen;
    QTest::newRow("random") << mediaPath("random.mkv") << cannotOpen;
    QTest::newRow("empty") << mediaPath("empty.mp4") << cannotOpen;
    QTest::newRow("directory") << mediaPath(".") << cannotOpen;
    QTest::newRow("no streams") << mediaPath("nostreams.ts") << QStringLiteral("Could not find stream information");
}

void TestDecoder::failedOpenHoldsNothing()
{
    QFETCH(QString, path);
    QFETCH(QString, message);

    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath("clip.mp4")));
    QVERIFY(!nextFrame(decoder).isNull());

    QSignalSpy errors(&decoder, &FFmpegDecoder::errorOccurred);
    QVERIFY(!decoder.open(path));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), message);

    QVERIFY(!decoder.isOpen());
    QCOMPARE(decoder.currentFile(), QString());
    QCOMPARE(decoder.duration(), 0);
    QCOMPARE(decoder.position(), 0);
    QCOMPARE(decoder.frameRate(), 0.0);
    QVERIFY(!decoder.hasVideo());
    QVERIFY(!decoder.hasAudio());
    QVERIFY(!decoder.seek(0));

    QSignalSpy ready(&decoder, &FFmpegDecoder::frameReady);
    QSignalSpy finished(&decoder, &FFmpegDecoder::playbackFinished);
    decoder.decodeVideoFrame();
    QCOMPARE(ready.count(), 1);
    QVERIFY(ready.at(0).at(0).value<QImage>().isNull());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(errors.count(), 1);
}

void TestDecoder::secondOpenReplacesFirst()
{
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath("clip.mp4")));
    for (int i = 0; i < 10; ++i)
        QVERIFY(!nextFrame(decoder).isNull());
    QVERIFY(decoder.position() > 0);

    QTest::ignoreMessage(QtDebugMsg, "No audio stream found");
    QVERIFY(decoder.open(mediaPath("bars.mp4")));
    QCOMPARE(decoder.currentFile(), mediaPath("bars.mp4"));
    QVERIFY(!decoder.hasAudio());
    QCOMPARE(decoder.position(), 0);

    // Nothing of the first file's decoder or converter may leak into the second.
    const Run run = playToEnd(decoder);
    QCOMPARE(run.finishedSignals, 1);
    QCOMPARE(run.frames.size(), ffprobeFrameCount(mediaPath("bars.mp4")));
    QCOMPARE(run.positions.first(), 0);
    QVERIFY(near(run.frames.first().pixel(40, 120), qRgb(255, 0, 0), 6));

    QTest::ignoreMessage(QtDebugMsg, "No video stream found");
    QVERIFY(decoder.open(mediaPath("audio.wav")));
    QVERIFY(!decoder.hasVideo());
    QVERIFY(nextFrame(decoder, 3).isNull());
}

void TestDecoder::deliversEveryFrame_data()
{
    QTest::addColumn<QString>("file");

    for (const char *file : {"clip.mp4", "bars.mp4", "red.mp4", "audio-first.mkv", "vfr.mkv", "fps60.mp4",
                             "fps23976.mp4", "noduration.h264", "sizechange.h264", "fmtchange.h264",
                             "hls.m3u8", "odd-33x7.mkv", "odd-1x1.mkv"})
        QTest::newRow(file) << QString::fromLatin1(file);
}

void TestDecoder::deliversEveryFrame()
{
    QFETCH(QString, file);
    const QString path = mediaPath(file);
    const int expected = ffprobeFrameCount(path);
    QVERIFY(expected > 0);

    FFmpegDecoder decoder;
    QVERIFY(decoder.open(path));
    const Run run = playToEnd(decoder);
    QCOMPARE(run.finishedSignals, 1);
    QCOMPARE(run.readySignals, run.calls);
    QCOMPARE(run.frames.size(), expected);

    // Position: presentation time of the frame just delivered, from the stream's
    // first frame, never backwards, never past the end.
    const qint64 duration = decoder.duration();
    QCOMPARE(run.positions.first(), 0);
    for (int i = 0; i < run.positions.size(); ++i) {
        QVERIFY(run.positions[i] >= 0);
        if (duration > 0)
            QVERIFY(run.positions[i] <= duration);
        if (i > 0)
            QVERIFY2(run.positions[i] >= run.positions[i - 1], qPrintable(QString::number(i)));
    }
    QVERIFY(run.positions.last() > 0 || expected == 1);

    // The end is announced once; later requests only give null frames.
    QSignalSpy ready(&decoder, &FFmpegDecoder::frameReady);
    QSignalSpy finished(&decoder, &FFmpegDecoder::playbackFinished);
    for (int i = 0; i < 3; ++i)
        decoder.decodeVideoFrame();
    QCOMPARE(ready.count(), 3);
    for (const auto &arguments : ready)
        QVERIFY(arguments.at(0).value<QImage>().isNull());
    QCOMPARE(finished.count(), 0);
}

void TestDecoder::packetBudgetIsNotTheEnd()
{
    // The file opens with a second of audio: the first request runs out of its
    // ten packets before any video, which must not count as the end.
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath("audio-first.mkv")));
    QSignalSpy ready(&decoder, &FFmpegDecoder::frameReady);
    QSignalSpy finished(&decoder, &FFmpegDecoder::playbackFinished);
    decoder.decodeVideoFrame();
    QCOMPARE(ready.count(), 1);
    QVERIFY(ready.at(0).at(0).value<QImage>().isNull());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(decoder.position(), 0);
}

void TestDecoder::positionsFollowTimestamps()
{
    // 25 fps for a second, 50 fps for the next, then 10 fps.
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath("vfr.mkv")));
    const Run run = playToEnd(decoder);
    QVERIFY(run.positions.size() > 50);
    for (int i = 1; i < run.positions.size(); ++i) {
        const qint64 previous = run.positions[i - 1];
        const qint64 expectedStep = previous < 1000 ? 40 : previous < 2000 ? 20 : 100;
        QVERIFY2(qAbs(run.positions[i] - previous - expectedStep) <= 1,
                 qPrintable(QStringLiteral("%1 -> %2").arg(previous).arg(run.positions[i])));
    }
}

void TestDecoder::durations_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("mp4") << "clip.mp4" << qint64(3000);
    QTest::newRow("mkv") << "audio-first.mkv" << qint64(3023);
    QTest::newRow("wav") << "audio.wav" << qint64(2000);
    // A raw stream knows no duration: 0, never FFmpeg's no-value marker.
    QTest::newRow("raw h264") << "noduration.h264" << qint64(0);
}

void TestDecoder::durations()
{
    QFETCH(QString, file);
    QFETCH(qint64, expected);
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath(file)));
    QVERIFY2(qAbs(decoder.duration() - expected) <= 30, qPrintable(QString::number(decoder.duration())));
}

void TestDecoder::frameRates_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("rate");
    QTest::addColumn<qint64>("frameLength");

    QTest::newRow("25") << "fps25.mp4" << 25.0 << qint64(40);
    QTest::newRow("29.97") << "fps2997.mp4" << 30000.0 / 1001 << qint64(33);
    QTest::newRow("23.976") << "fps23976.mp4" << 24000.0 / 1001 << qint64(42);
    QTest::newRow("60") << "fps60.mp4" << 60.0 << qint64(17);
    QTest::newRow("raw h264") << "noduration.h264" << 25.0 << qint64(40);
}

void TestDecoder::frameRates()
{
    QFETCH(QString, file);
    QFETCH(double, rate);
    QFETCH(qint64, frameLength);
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath(file)));
    QVERIFY(qAbs(decoder.frameRate() - rate) < 0.01);
    QCOMPARE(decoder.frameDuration(), 0);
    QVERIFY(!nextFrame(decoder).isNull());
    QCOMPARE(decoder.frameDuration(), frameLength);
}

void TestDecoder::barsKeepTheirColours()
{
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath("bars.mp4")));
    const QImage frame = nextFrame(decoder);
    QCOMPARE(frame.size(), QSize(320, 240));
    QCOMPARE(frame.format(), QImage::Format_RGB32);
    QVERIFY(fullyOpaque(frame));

    const QRgb colours[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255)};
    for (int bar = 0; bar < 4; ++bar) {
        for (int x : {bar * 80 + 2, bar * 80 + 40, bar * 80 + 77}) {
            for (int y : {0, 120, 239}) {
                const QRgb pixel = frame.pixel(x, y);
                QVERIFY2(near(pixel, colours[bar], 6),
                         qPrintable(QStringLiteral("(%1,%2) is %3").arg(x).arg(y).arg(pixel, 8, 16)));
            }
        }
    }
}

// Frame memory is recycled, but only once an image is gone: every frame handed out
// keeps its pixels while decoding goes on, and outlives the decoder.
void TestDecoder::deliveredFramesAreNeverReused()
{
    QList<QImage> held;
    QList<QImage> copies;
    {
        FFmpegDecoder decoder;
        QVERIFY(decoder.open(mediaPath("clip.mp4")));
        QObject scope;
        QObject::connect(&decoder, &FFmpegDecoder::frameReady, &scope, [&](const QImage &image) {
            if (image.isNull())
                return;
            held << image;
            copies << image.copy();
            if (held.size() % 3 == 0)
                held.removeFirst(); // free some buffers as playback does, so the pool is used
        });
        for (int i = 0; i < 200; ++i)
            decoder.decodeVideoFrame();
        QVERIFY(copies.size() >= 50);
    }
    QVERIFY(!held.isEmpty());
    const int offset = copies.size() - held.size();
    for (int i = 0; i < held.size(); ++i)
        QCOMPARE(held.at(i), copies.at(offset + i));
}

void TestDecoder::oddSizesAreFullyWritten_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");
    for (const QSize size : {QSize(1, 1), QSize(2, 2), QSize(15, 17), QSize(321, 241), QSize(854, 480), QSize(33, 7)}) {
        const QString file = QStringLiteral("odd-%1x%2.mkv").arg(size.width()).arg(size.height());
        QTest::newRow(qPrintable(file)) << file << size;
    }
}

void TestDecoder::oddSizesAreFullyWritten()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    const QString path = mediaPath(file);

    FFmpegDecoder decoder;
    QVERIFY(decoder.open(path));
    const Run run = playToEnd(decoder);
    QVERIFY(!run.frames.isEmpty());
    for (const QImage &frame : run.frames) {
        QCOMPARE(frame.size(), size);
        QCOMPARE(frame.format(), QImage::Format_RGB32);
        QVERIFY(frame.bytesPerLine() >= size.width() * 4);
        QVERIFY(fullyOpaque(frame));
    }

    // Every pixel carries the picture: compare with FFmpeg's own rendering.
    const auto worst = compareWithFfmpeg(run.frames, path);
    QVERIFY2(worst.first <= 2, qPrintable(QStringLiteral("frame %1 differs by %2").arg(worst.second).arg(worst.first)));
}

void TestDecoder::streamChangesMidStream_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("firstSize");
    QTest::addColumn<QSize>("secondSize");

    QTest::newRow("smaller frames") << "sizechange.h264" << QSize(160, 120) << QSize(98, 66);
    QTest::newRow("larger frames") << "sizegrow.h264" << QSize(98, 66) << QSize(160, 120);
    // The same picture coded 4:2:0 and then 4:4:4.
    QTest::newRow("pixel format") << "fmtchange.h264" << QSize(96, 64) << QSize(96, 64);
}

void TestDecoder::streamChangesMidStream()
{
    QFETCH(QString, file);
    QFETCH(QSize, firstSize);
    QFETCH(QSize, secondSize);

    // Both files join two 25-frame streams; a converter kept from the first half
    // would scramble the second or write outside its image.
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath(file)));
    const Run run = playToEnd(decoder);
    QCOMPARE(run.frames.size(), 50);
    for (int i = 0; i < run.frames.size(); ++i) {
        const QImage &frame = run.frames[i];
        QCOMPARE(frame.size(), i < 25 ? firstSize : secondSize);
        QCOMPARE(frame.format(), QImage::Format_RGB32);
        QVERIFY(fullyOpaque(frame));
    }
    const auto worst = compareWithFfmpeg(run.frames, mediaPath(file));
    QVERIFY2(worst.first <= 2, qPrintable(QStringLiteral("frame %1 differs by %2").arg(worst.second).arg(worst.first)));
}

void TestDecoder::conversionStaysInsideItsBuffer_data()
{
    QTest::addColumn<int>("format");
    for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUVJ420P,
                                 AV_PIX_FMT_NV12, AV_PIX_FMT_YUYV422, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUVA420P,
                                 AV_PIX_FMT_RGB24, AV_PIX_FMT_BGRA, AV_PIX_FMT_GRAY8, AV_PIX_FMT_GBRP,
                                 AV_PIX_FMT_PAL8})
        QTest::newRow(av_get_pix_fmt_name(format)) << int(format);
}

void TestDecoder::conversionStaysInsideItsBuffer()
{
    QFETCH(int, format);
    constexpr uint8_t Canary = 0x5a;
    constexpr size_t Guard = 4096;

    // One converter for every geometry, as the decoder keeps it.
    SwsContext *converter = nullptr;
    int widestOverrun = 0;
    QList<int> widths;
    for (int w = 1; w <= 72; ++w)
        widths << w;
    widths << 127 << 128 << 129 << 321 << 854;

    for (int width : std::as_const(widths)) {
        for (int height : {1, 2, 3, 7, 8}) {
            const QByteArray where = QStringLiteral("%1x%2").arg(width).arg(height).toLatin1();
            ffmpeg::FramePtr frame(av_frame_alloc());
            QVERIFY(frame);
            frame->width = width;
            frame->height = height;
            frame->format = format;
            QCOMPARE(av_frame_get_buffer(frame.get(), 0), 0);
            if (format == AV_PIX_FMT_PAL8 || format == AV_PIX_FMT_BGRA) {
                // Transparent black: alpha must still come out opaque.
                for (int plane = 0; plane < 2 && frame->data[plane]; ++plane)
                    memset(frame->data[plane], 0, plane == 1 ? 1024 : size_t(frame->linesize[0]) * height);
            } else {
                ptrdiff_t linesizes[4];
                for (int i = 0; i < 4; ++i)
                    linesizes[i] = frame->linesize[i];
                QVERIFY(av_image_fill_black(frame->data, linesizes, AVPixelFormat(format), AVCOL_RANGE_MPEG,
                                            width, height) >= 0);
                if (format == AV_PIX_FMT_YUVA420P)
                    memset(frame->data[3], 0, size_t(frame->linesize[3]) * height);
            }

            const ffmpeg::ImageLayout layout = ffmpeg::imageLayout(width, height);
            QVERIFY(layout.stride >= width * 4);
            auto *buffer = static_cast<uint8_t *>(av_malloc(layout.size + Guard));
            QVERIFY(buffer);
            memset(buffer, Canary, layout.size + Guard);
            const bool converted = ffmpeg::convertFrameInto(&converter, frame.get(), buffer);

            bool opaqueBlack = true;
            for (int y = 0; y < height; ++y) {
                const uint8_t *row = buffer + size_t(y) * layout.stride;
                for (int x = 0; x < width; ++x) {
                    const uint8_t *p = row + x * 4;
                    opaqueBlack = opaqueBlack && p[3] == 0xff && p[0] <= 20 && p[1] <= 20 && p[2] <= 20;
                }
                for (int b = layout.stride - 1; b >= width * 4; --b) {
                    if (row[b] != Canary) {
                        widestOverrun = qMax(widestOverrun, b - width * 4 + 1);
                        break;
                    }
                }
            }
            bool guardIntact = true;
            for (size_t i = layout.size; i < layout.size + Guard; ++i)
                guardIntact = guardIntact && buffer[i] == Canary;
            av_free(buffer);

            QVERIFY2(converted, where.constData());
            QVERIFY2(opaqueBlack, where.constData());
            QVERIFY2(guardIntact, where.constData());
        }
    }

    // The image wrapper uses the same layout and frees its buffer with the image.
    ffmpeg::FramePtr frame(av_frame_alloc());
    frame->width = 33;
    frame->height = 7;
    frame->format = AV_PIX_FMT_YUV420P;
    QCOMPARE(av_frame_get_buffer(frame.get(), 0), 0);
    const QImage image = ffmpeg::convertFrame(&converter, frame.get());
    QCOMPARE(image.size(), QSize(33, 7));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QCOMPARE(image.bytesPerLine(), qsizetype(ffmpeg::imageLayout(33, 7).stride));
    QVERIFY(fullyOpaque(image));

    sws_freeContext(converter);
    qInfo("widest write past the end of a row: %d bytes", widestOverrun);
}

void TestDecoder::conversionFollowsColourTags()
{
    ffmpeg::FramePtr frame(av_frame_alloc());
    frame->width = 16;
    frame->height = 16;
    frame->format = AV_PIX_FMT_YUV420P;
    QCOMPARE(av_frame_get_buffer(frame.get(), 0), 0);

    auto paint = [&](int y, int u, int v, AVColorRange range, AVColorSpace space) {
        memset(frame->data[0], y, size_t(frame->linesize[0]) * 16);
        memset(frame->data[1], u, size_t(frame->linesize[1]) * 8);
        memset(frame->data[2], v, size_t(frame->linesize[2]) * 8);
        frame->color_range = range;
        frame->colorspace = space;
    };

    SwsContext *converter = nullptr;
    struct Case {
        int y, u, v;
        AVColorRange range;
        AVColorSpace space;
        QRgb expected;
    };
    // Switching back and forth shows the one converter follows each frame's tags.
    const Case cases[] = {
        {16, 128, 128, AVCOL_RANGE_MPEG, AVCOL_SPC_UNSPECIFIED, qRgb(0, 0, 0)},
        {16, 128, 128, AVCOL_RANGE_JPEG, AVCOL_SPC_UNSPECIFIED, qRgb(16, 16, 16)},
        {235, 128, 128, AVCOL_RANGE_MPEG, AVCOL_SPC_UNSPECIFIED, qRgb(255, 255, 255)},
        {235, 128, 128, AVCOL_RANGE_JPEG, AVCOL_SPC_BT470BG, qRgb(235, 235, 235)},
        {81, 90, 240, AVCOL_RANGE_MPEG, AVCOL_SPC_BT470BG, qRgb(255, 0, 0)},
        {63, 102, 240, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709, qRgb(255, 0, 0)},
        {81, 90, 240, AVCOL_RANGE_MPEG, AVCOL_SPC_UNSPECIFIED, qRgb(255, 0, 0)},
    };
    for (const Case &c : cases) {
        paint(c.y, c.u, c.v, c.range, c.space);
        const QImage image = ffmpeg::convertFrame(&converter, frame.get());
        QVERIFY(!image.isNull());
        const QRgb pixel = image.pixel(8, 8);
        QVERIFY2(near(pixel, c.expected, 6),
                 qPrintable(QStringLiteral("YUV %1,%2,%3 gave %4").arg(c.y).arg(c.u).arg(c.v).arg(pixel, 8, 16)));
    }
    sws_freeContext(converter);
}

void TestDecoder::seekReturnsToKeyFrames()
{
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath("clip.mp4")));
    QList<QImage> frames;
    QList<qint64> positions;
    for (int i = 0; i < 60; ++i) {
        frames << nextFrame(decoder);
        positions << decoder.position();
    }

    QVERIFY(decoder.seek(0));
    QCOMPARE(nextFrame(decoder), frames.first());
    QCOMPARE(decoder.position(), 0);

    // Key frames sit at every second of this clip.
    QVERIFY(decoder.seek(2000));
    const QImage atTwo = nextFrame(decoder);
    QCOMPARE(decoder.position(), 2000);
    QCOMPARE(atTwo, frames.at(positions.indexOf(2000)));

    QVERIFY(decoder.seek(1500));
    QVERIFY(!nextFrame(decoder).isNull());
    QCOMPARE(decoder.position(), 1000);

    // The video of this file starts a second into the container.
    FFmpegDecoder late;
    QVERIFY(late.open(mediaPath("audio-first.mkv")));
    const QImage first = nextFrame(late);
    for (int i = 0; i < 20; ++i)
        nextFrame(late);
    QVERIFY(late.seek(0));
    QCOMPARE(nextFrame(late), first);
    QCOMPARE(late.position(), 0);
}

void TestDecoder::seekAfterTheEndPlaysAgain()
{
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath("clip.mp4")));
    const Run first = playToEnd(decoder);
    QCOMPARE(first.finishedSignals, 1);

    QVERIFY(decoder.seek(0));
    const Run second = playToEnd(decoder);
    QCOMPARE(second.finishedSignals, 1);
    QCOMPARE(second.frames.size(), first.frames.size());
    QCOMPARE(second.frames.first(), first.frames.first());
    QCOMPARE(second.frames.last(), first.frames.last());
}

void TestDecoder::queuedInvocationByName()
{
    FFmpegDecoder decoder;
    QVERIFY(decoder.open(mediaPath("clip.mp4")));
    const QImage first = nextFrame(decoder);
    for (int i = 0; i < 20; ++i)
        nextFrame(decoder);

    QSignalSpy ready(&decoder, &FFmpegDecoder::frameReady);
    QVERIFY(QMetaObject::invokeMethod(&decoder, "seek", Qt::QueuedConnection, Q_ARG(qint64, 0)));
    QVERIFY(QMetaObject::invokeMethod(&decoder, "decodeVideoFrame", Qt::QueuedConnection));
    QCOMPARE(ready.count(), 0); // nothing runs before the event loop does
    QVERIFY(ready.wait(5000));
    QCOMPARE(ready.count(), 1);
    QCOMPARE(ready.at(0).at(0).value<QImage>(), first);
    QCOMPARE(decoder.position(), 0);
}

void TestDecoder::protocolNamesAreFileNames()
{
    // A local file whose name starts like a protocol opens as that file...
    const QString local = scratchPath("concat:clip.mp4");
    QFile::remove(local);
    QVERIFY(QFile::copy(mediaPath("clip.mp4"), local));

    FFmpegDecoder decoder;
    QVERIFY(decoder.open(local));
    QCOMPARE(nextFrame(decoder).size(), QSize(320, 240));

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QFileInfo(local).absolutePath()));
    const bool relativeOpened = decoder.open(QStringLiteral("concat:clip.mp4"));
    QDir::setCurrent(previous);
    QVERIFY(relativeOpened);

    // ...and a protocol name in front of a real file is never obeyed.
    QSignalSpy errors(&decoder, &FFmpegDecoder::errorOccurred);
    for (const QString &path : {QStringLiteral("concat:") + mediaPath("clip.mp4"),
                                QStringLiteral("subfile,,start,0,end,0,,:") + mediaPath("clip.mp4"),
                                QStringLiteral("async:") + mediaPath("clip.mp4")}) {
        QVERIFY2(!decoder.open(path), qPrintable(path));
        QVERIFY(!decoder.isOpen());
    }
    QCOMPARE(errors.count(), 3);
}

void TestDecoder::playlistCannotReachTheNetwork_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("m3u8") << "remote.m3u8";
    QTest::newRow("m3u8 named mp4") << "remote.mp4";
    QTest::newRow("address as path") << QString();
}

void TestDecoder::playlistCannotReachTheNetwork()
{
    QFETCH(QString, name);

    RefusingServer server;
    QVERIFY(server.port() != 0);
    QString path = QStringLiteral("http://127.0.0.1:%1/x.mp4").arg(server.port());
    if (!name.isEmpty()) {
        path = scratchPath(name);
        QFile playlist(path);
        QVERIFY(playlist.open(QIODevice::WriteOnly | QIODevice::Truncate));
        playlist.write(QStringLiteral("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n"
                                      "#EXTINF:2.0,\nhttp://127.0.0.1:%1/x.ts\n#EXTINF:2.0,\nhttp://127.0.0.1:%1/y.ts\n"
                                      "#EXT-X-ENDLIST\n").arg(server.port()).toLatin1());
        playlist.close();
    }

    {
        FFmpegDecoder decoder;
        decoder.open(path);
        for (int i = 0; i < 5; ++i)
            decoder.decodeVideoFrame();
    }
    QTest::qWait(200);
    QCOMPARE(server.connections(), 0);
}

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
