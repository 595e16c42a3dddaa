// Arbitrary bytes through the real media paths: the playback decoder (open, a run of
// frame requests, seeks), the playlist's thumbnail probe and the slider's previews. The bytes go through a
// file because that is the only way media reach either of them.

#include "decoder/ffmpegdecoder.h"
#include "playlist/playlistmodel.h"
#include "preview/previewdecoder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

[[noreturn]] void fail(const char *what, const QImage &image = QImage())
{
    std::fprintf(stderr, "fuzz_media: %s (image %dx%d format %d)\n", what, image.width(),
                 image.height(), int(image.format()));
    std::abort();
}

// Frames must be fresh RGB32 pictures of a sane size; anything else is a fault.
void checkFrame(const QImage &image)
{
    if (image.isNull())
        return;
    if (image.format() != QImage::Format_RGB32)
        fail("frame is not RGB32", image);
    if (image.width() <= 0 || image.height() <= 0)
        fail("frame has no size", image);
    // Touch the first and last pixel so a short buffer shows up under the sanitizers.
    volatile QRgb first = image.pixel(0, 0);
    volatile QRgb last = image.pixel(image.width() - 1, image.height() - 1);
    (void)first;
    (void)last;
}

const QString &inputPath()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/zeltora-fuzz-XXXXXX"));
    static const QString path = dir.filePath(QStringLiteral("input"));
    return path;
}

bool writeInput(const uint8_t *data, size_t size)
{
    QFile file(inputPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const qint64 written = size ? file.write(reinterpret_cast<const char *>(data), qint64(size)) : 0;
    return written == qint64(size);
}

void exerciseDecoder(const QString &path, const uint8_t *data, size_t size)
{
    FFmpegDecoder decoder;
    int frames = 0;
    QObject::connect(&decoder, &FFmpegDecoder::frameReady, [&frames](const QImage &image) {
        checkFrame(image);
        if (!image.isNull())
            ++frames;
    });
    if (!decoder.open(path))
        return;

    const qint64 duration = decoder.duration();
    const double rate = decoder.frameRate();
    if (duration < 0)
        fail("negative duration");
    if (!std::isfinite(rate) || rate < 0.0)
        fail("frame rate not a finite positive number");
    (void)decoder.hasVideo();
    (void)decoder.hasAudio();

    for (int i = 0; i < 24; ++i) {
        decoder.decodeVideoFrame();
        if (decoder.position() < 0)
            fail("negative position");
    }

    // Seek targets as the window makes them: clamped to 0..duration. The last input
    // byte picks one, so the fuzzer can steer it.
    const qint64 fraction = size ? data[size - 1] : 0;
    const qint64 targets[] = {duration * fraction / 255, duration, 0, duration / 2};
    for (qint64 target : targets) {
        decoder.seek(target);
        for (int i = 0; i < 3; ++i)
            decoder.decodeVideoFrame();
    }

    // Reopening over an open file must release everything of the first.
    if (decoder.open(path))
        decoder.decodeVideoFrame();
    (void)frames;
}

void exerciseProbe(const QString &path)
{
    PlaylistModel model;
    const QImage thumbnail = model.generateThumbnail(path);
    if (!thumbnail.isNull() && thumbnail.size() != QSize(40, 40))
        fail("thumbnail is not 40x40", thumbnail);
    checkFrame(thumbnail);
}

void exercisePreview(const QString &path, const uint8_t *data, size_t size)
{
    PreviewDecoder previews;
    const qint64 steered = size ? data[0] * 100 : 0;
    for (qint64 ms : {qint64(0), steered, qint64(-5), qint64(1) << 40, steered / 2}) {
        const QImage image = previews.frameAt(path, ms).image;
        checkFrame(image);
        if (image.width() > PreviewDecoder::previewWidth || image.height() > PreviewDecoder::previewMaxHeight)
            fail("preview larger than its box", image);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Held for the whole run, so every decoder's own init and deinit are only
    // reference counts instead of setting the network libraries up anew each time.
    avformat_network_init();
    if (!qEnvironmentVariableIsSet("ZELTORA_FUZZ_VERBOSE")) {
        av_log_set_level(AV_LOG_QUIET);
        qInstallMessageHandler(quiet);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!writeInput(data, size))
        fail("cannot write the input file");
    const QString &path = inputPath();
    exerciseDecoder(path, data, size);
    exerciseProbe(path);
    exercisePreview(path, data, size);
    return 0;
}
