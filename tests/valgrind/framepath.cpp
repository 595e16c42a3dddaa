// The frame path at odd and tiny sizes, meant to run under valgrind memcheck: every
// frame the decoder hands out (and every thumbnail) must have all its pixels written
// and nothing may be written outside the image's buffer. AddressSanitizer cannot see
// the second: the conversion happens in FFmpeg's uninstrumented SIMD code.
// Without valgrind the program still checks sizes, format and opaque pixels.

#include "decoder/ffmpegdecoder.h"
#include "playlist/playlistmodel.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QStringList>

#include <valgrind/memcheck.h>

#include <cstdio>

namespace {

int failures = 0;

void fail(const QString &what)
{
    std::fprintf(stderr, "FAIL: %s\n", qPrintable(what));
    ++failures;
}

// Every byte of the visible pixels must be defined; a pixel the converter skipped
// still holds the allocator's uninitialised bytes, which memcheck reports here.
void checkPixels(const QImage &image, const QString &what)
{
    for (int y = 0; y < image.height(); ++y) {
        const uchar *row = image.constScanLine(y);
        if (VALGRIND_CHECK_MEM_IS_DEFINED(row, image.width() * 4) != 0) {
            fail(QStringLiteral("%1: row %2 has pixels nobody wrote").arg(what).arg(y));
            return;
        }
        for (int x = 0; x < image.width(); ++x) {
            if (row[x * 4 + 3] != 0xff) {
                fail(QStringLiteral("%1: pixel %2,%3 is not opaque").arg(what).arg(x).arg(y));
                return;
            }
        }
    }
}

void checkFile(const QString &path, QSize expected)
{
    const QString name = QFileInfo(path).fileName();
    FFmpegDecoder decoder;
    int frames = 0;
    QObject::connect(&decoder, &FFmpegDecoder::frameReady, [&](const QImage &frame) {
        if (frame.isNull())
            return;
        ++frames;
        const QString what = QStringLiteral("%1 frame %2").arg(name).arg(frames);
        if (frame.format() != QImage::Format_RGB32)
            fail(QStringLiteral("%1: format %2").arg(what).arg(int(frame.format())));
        if (frame.size() != expected)
            fail(QStringLiteral("%1: %2x%3, expected %4x%5").arg(what).arg(frame.width())
                     .arg(frame.height()).arg(expected.width()).arg(expected.height()));
        checkPixels(frame, what);
    });
    if (!decoder.open(path)) {
        fail(name + QStringLiteral(": does not open"));
        return;
    }
    for (int i = 0; i < 12; ++i)
        decoder.decodeVideoFrame();
    // Back to the start: the converter is reused for the same geometry.
    decoder.seek(0);
    decoder.decodeVideoFrame();
    if (frames < 2)
        fail(QStringLiteral("%1: only %2 frames").arg(name).arg(frames));

    PlaylistModel model;
    const QImage thumbnail = model.generateThumbnail(path);
    if (thumbnail.size() != QSize(40, 40))
        fail(name + QStringLiteral(": no 40x40 thumbnail"));
    else
        checkPixels(thumbnail, name + QStringLiteral(" thumbnail"));
    std::printf("%s: %d frames of %dx%d\n", qPrintable(name), frames, expected.width(), expected.height());
}

} // namespace

int main(int argc, char **argv)
{
    const QDir media(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(ZELTORA_TEST_MEDIA_DIR));
    // Filtered by hand: QDir's name filters and QRegularExpression run PCRE2's
    // JIT-compiled matcher, which reads uninitialised memory by design and would
    // drown the report.
    QStringList files;
    for (const QString &name : media.entryList(QDir::Files, QDir::Name)) {
        if (name.startsWith(QLatin1String("odd-")) && name.endsWith(QLatin1String(".mkv")))
            files.append(name);
    }
    if (files.size() < 6)
        fail(QStringLiteral("expected the six odd-size clips in %1, found %2").arg(media.path()).arg(files.size()));
    // odd-<W>x<H>.mkv
    for (const QString &file : files) {
        const QStringList size = file.mid(4, file.size() - 8).split(QLatin1Char('x'));
        bool wide = false, high = false;
        const QSize expected(size.value(0).toInt(&wide), size.value(1).toInt(&high));
        if (size.size() != 2 || !wide || !high) {
            fail(QStringLiteral("cannot read the size in %1").arg(file));
            continue;
        }
        checkFile(media.filePath(file), expected);
    }
    const unsigned errors = VALGRIND_COUNT_ERRORS;
    std::printf("%s: %d failed checks, %u memcheck errors\n",
                RUNNING_ON_VALGRIND ? "under valgrind" : "natively", failures, errors);
    return failures == 0 && errors == 0 ? 0 : 1;
}
