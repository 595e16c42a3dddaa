#include "subtitles/assrenderer.h"

#include <QLoggingCategory>
#include <QPainter>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

extern "C" {
#include <ass/ass.h>
}

namespace {

Q_LOGGING_CATEGORY(lcAss, "zeltora.subtitles.libass", QtWarningMsg)

void forwardMessage(int level, const char *format, va_list args, void *)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    // libass: 0 fatal, 1 error, 2 warning, the rest chatter. Its warnings are mostly
    // about fonts chosen in place of those asked for, and come per line.
    if (level <= 1)
        qCWarning(lcAss).noquote() << text;
    else
        qCDebug(lcAss).noquote() << text;
}

// Bitmaps closer than this join one piece: one overlay for a subtitle's outline,
// shadow and fill, and for the lines of one subtitle, rather than many small ones.
constexpr int JoinDistance = 8;

// (s * a + d * (255 - a)) / 255 for each of the four bytes, rounded: `s` over `d`
// at opacity `a`. Two bytes at a time in the halves of a 32-bit word; neither half
// can overflow, as the sum is at most 255 * 255.
inline uint32_t blend(uint32_t s, uint32_t d, uint32_t a)
{
    const uint32_t b = 255 - a;
    uint32_t even = (s & 0xff00ff) * a + (d & 0xff00ff) * b + 0x800080;
    even = ((even + ((even >> 8) & 0xff00ff)) >> 8) & 0xff00ff;
    uint32_t odd = ((s >> 8) & 0xff00ff) * a + ((d >> 8) & 0xff00ff) * b + 0x800080;
    odd = (odd + ((odd >> 8) & 0xff00ff)) & 0xff00ff00;
    return even | odd;
}

// coverage * opacity / 255, rounded as blend() rounds.
inline uint32_t opacityOf(uint32_t coverage, uint32_t opacity)
{
    const uint32_t t = coverage * opacity + 128;
    return (t + (t >> 8)) >> 8;
}

#if defined(__SSE2__) || defined(_M_X64)
// x / 255 rounded, for each 16-bit lane holding at most 255 * 255.
inline __m128i divide255(__m128i x)
{
    const __m128i t = _mm_add_epi16(x, _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
}
#endif

// One row of a libass bitmap (an alpha mask in one colour) over premultiplied ARGB.
// This runs for every bitmap row of every changed frame: four pixels at a time with
// SSE2 (the same arithmetic as blend(), so both give the same bytes), and empty
// stretches of the mask, most of a glyph's box, skipped four pixels at a time.
void compositeRow(const uint8_t *mask, uint32_t *out, int width, uint32_t solid, uint32_t opacity)
{
    int x = 0;
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i zero = _mm_setzero_si128();
    const __m128i source = _mm_unpacklo_epi8(_mm_set1_epi32(int(solid)), zero);
    const __m128i opacity16 = _mm_set1_epi16(short(opacity));
    const __m128i full = _mm_set1_epi16(255);
    for (; x + 4 <= width; x += 4) {
        uint32_t four;
        std::memcpy(&four, mask + x, sizeof four);
        if (!four)
            continue;
        const __m128i coverage = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(four)), zero);
        const __m128i alpha = divide255(_mm_mullo_epi16(coverage, opacity16));
        const __m128i pairs = _mm_unpacklo_epi16(alpha, alpha);
        const __m128i alphaLow = _mm_unpacklo_epi32(pairs, pairs);  // pixels 0 and 1, each channel
        const __m128i alphaHigh = _mm_unpackhi_epi32(pairs, pairs); // pixels 2 and 3
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i *>(out + x));
        const __m128i low = _mm_unpacklo_epi8(pixels, zero);
        const __m128i high = _mm_unpackhi_epi8(pixels, zero);
        const __m128i blendedLow = divide255(_mm_add_epi16(_mm_mullo_epi16(source, alphaLow),
                                                           _mm_mullo_epi16(low, _mm_sub_epi16(full, alphaLow))));
        const __m128i blendedHigh = divide255(_mm_add_epi16(_mm_mullo_epi16(source, alphaHigh),
                                                            _mm_mullo_epi16(high, _mm_sub_epi16(full, alphaHigh))));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x), _mm_packus_epi16(blendedLow, blendedHigh));
    }
#endif
    for (; x < width; ++x) {
        if (mask[x])
            out[x] = blend(solid, out[x], opacityOf(mask[x], opacity));
    }
}

// Composites one libass bitmap over a piece or the frame itself (at 0, 0). `area` is
// the part of the bitmap to draw, in frame coordinates, and lies inside both the
// bitmap and the target.
void composite(const ASS_Image *image, QImage &piece, const QPoint &piecePosition, const QRect &area)
{
    const uint32_t colour = image->color;
    const uint32_t opacity = 255 - (colour & 0xff);
    if (opacity == 0)
        return;
    const uint32_t solid = 0xff000000u | (colour >> 8);
    uchar *bits = piece.bits();
    const qsizetype pieceStride = piece.bytesPerLine();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uint8_t *mask = image->bitmap + qsizetype(y - image->dst_y) * image->stride
                            + (area.left() - image->dst_x);
        auto *out = reinterpret_cast<uint32_t *>(bits + (y - piecePosition.y()) * pieceStride)
                  + (area.left() - piecePosition.x());
        compositeRow(mask, out, area.width(), solid, opacity);
    }
}

} // namespace

AssRenderer::AssRenderer()
{
    library = ass_library_init();
    if (!library) {
        qCWarning(lcAss) << "libass could not be initialised";
        return;
    }
    ass_set_message_cb(library, forwardMessage, nullptr);
    // Fonts an ASS script carries in its own [Fonts] section.
    ass_set_extract_fonts(library, 1);
    renderer = ass_renderer_init(library);
    if (!renderer)
        qCWarning(lcAss) << "The libass renderer could not be initialised";
}

AssRenderer::~AssRenderer()
{
    dropTrack();
    if (renderer)
        ass_renderer_done(renderer);
    if (library)
        ass_library_done(library);
}

void AssRenderer::addFont(const QString &name, const QByteArray &data)
{
    if (!library || data.isEmpty())
        return;
    ass_add_font(library, name.toUtf8().constData(), data.constData(), int(data.size()));
    // The renderer's font list is built by ass_set_fonts: it learns of the new
    // font when that runs again.
    fontsDirty = true;
}

void AssRenderer::setFallbackFamily(const QString &family)
{
    if (family == fallbackFamily)
        return;
    fallbackFamily = family;
    fontsDirty = true;
}

void AssRenderer::setStorageSize(const QSize &size)
{
    if (size == storageSize || !renderer)
        return;
    storageSize = size;
    ass_set_storage_size(renderer, qMax(0, size.width()), qMax(0, size.height()));
    piecesValid = false;
}

void AssRenderer::startTrack(const QByteArray &header)
{
    dropTrack();
    if (!library)
        return;
    track = ass_new_track(library);
    if (!track)
        return;
    QByteArray writable = header;
    if (!writable.isEmpty())
        ass_process_codec_private(track, writable.data(), int(writable.size()));
}

void AssRenderer::dropTrack()
{
    if (track)
        ass_free_track(track);
    track = nullptr;
    nextReadOrder = 0;
    pieces.clear();
    piecesValid = false;
}

int AssRenderer::addEvent(qint64 startMs, qint64 durationMs, const QByteArray &line)
{
    if (!track)
        return -1;
    // libass drops an event whose ReadOrder it has seen; callers have already
    // weeded out repeats, so every event gets a number of its own.
    const qsizetype comma = line.indexOf(',');
    if (comma < 0)
        return -1;
    QByteArray numbered = QByteArray::number(nextReadOrder++) + line.mid(comma);
    const int before = track->n_events;
    ass_process_chunk(track, numbered.data(), int(numbered.size()), startMs, durationMs);
    return track->n_events > before ? track->n_events - 1 : -1;
}

void AssRenderer::setDuration(int index, qint64 durationMs)
{
    if (track && index >= 0 && index < track->n_events)
        track->events[index].Duration = durationMs;
    piecesValid = false;
}

void AssRenderer::prepareFonts()
{
    if (renderer && fontsDirty)
        applyFonts();
}

void AssRenderer::applyFonts()
{
    // Every call builds libass's font list afresh: the fonts added to the library
    // and fontconfig's (read from its cache: tens of milliseconds, longer the more
    // fonts the system has). Hence only when fonts or the fallback changed.
    const QByteArray family = fallbackFamily.toUtf8();
    ass_set_fonts(renderer, nullptr, family.isEmpty() ? nullptr : family.constData(),
                  ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    fontsDirty = false;
    piecesValid = false;
}

bool AssRenderer::render(QImage &frame, const QRect &videoRect, qint64 ptsMs)
{
    if (!renderer || !track || frame.isNull() || videoRect.isEmpty())
        return false;
    if (fontsDirty)
        applyFonts();
    if (frame.size() != frameSize || videoRect != placedVideo) {
        if (frame.size() != frameSize)
            ass_set_frame_size(renderer, frame.width(), frame.height());
        frameSize = frame.size();
        placedVideo = videoRect;
        // Negative where the picture is cropped (cover mode): libass then keeps
        // ordinary lines inside the visible frame while positioned signs stay
        // with the picture.
        ass_set_margins(renderer, videoRect.top(), frameSize.height() - videoRect.bottom() - 1,
                        videoRect.left(), frameSize.width() - videoRect.right() - 1);
        ass_set_use_margins(renderer, 1);
        piecesValid = false;
    }

    int changed = 0;
    const ASS_Image *images = ass_render_frame(renderer, track, ptsMs, &changed);
    if (changed)
        piecesValid = false;
    // Subtitles that change with every frame (moving, fading, karaoke) go straight
    // onto the frame. Ones that stay are composited once into pieces, from the
    // second frame on, which are then only painted: a fraction of the cost.
    const bool opaque32 = frame.format() == QImage::Format_RGB32
                       || frame.format() == QImage::Format_ARGB32_Premultiplied;
    if (changed && opaque32) {
        bool drew = false;
        for (const ASS_Image *image = images; image; image = image->next) {
            const QRect area = QRect(image->dst_x, image->dst_y, image->w, image->h) & frame.rect();
            if (area.isEmpty())
                continue;
            composite(image, frame, QPoint(0, 0), area);
            drew = true;
        }
        return drew;
    }
    if (!piecesValid) {
        rebuildPieces(images, frame.rect());
        piecesValid = true;
    }
    if (pieces.empty())
        return false;
    QPainter painter(&frame);
    for (const Piece &piece : pieces)
        painter.drawImage(piece.position, piece.image);
    return true;
}

void AssRenderer::rebuildPieces(const ass_image *images, const QRect &bounds)
{
    pieces.clear();
    std::vector<QRect> areas;
    for (const ASS_Image *image = images; image; image = image->next) {
        const QRect area = QRect(image->dst_x, image->dst_y, image->w, image->h) & bounds;
        if (area.isEmpty())
            continue;
        bool joined = false;
        for (QRect &existing : areas) {
            if (existing.adjusted(-JoinDistance, -JoinDistance, JoinDistance, JoinDistance).intersects(area)) {
                existing |= area;
                joined = true;
                break;
            }
        }
        if (!joined)
            areas.push_back(area);
    }
    // Growing areas may have come to overlap each other.
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < areas.size() && !merged; ++i) {
            for (size_t j = i + 1; j < areas.size(); ++j) {
                if (areas[i].intersects(areas[j])) {
                    areas[i] |= areas[j];
                    areas.erase(areas.begin() + qsizetype(j));
                    merged = true;
                    break;
                }
            }
        }
    }

    for (const QRect &area : areas) {
        Piece piece;
        piece.position = area.topLeft();
        piece.image = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
        if (piece.image.isNull())
            continue;
        piece.image.fill(Qt::transparent);
        pieces.push_back(std::move(piece));
    }
    // libass lists bitmaps bottom first (shadow, outline, fill, in layer order),
    // so compositing them in list order stacks them right.
    for (const ASS_Image *image = images; image; image = image->next) {
        const QRect area = QRect(image->dst_x, image->dst_y, image->w, image->h) & bounds;
        if (area.isEmpty())
            continue;
        for (Piece &piece : pieces) {
            const QRect pieceRect(piece.position, piece.image.size());
            if (pieceRect.contains(area)) {
                composite(image, piece.image, piece.position, area);
                break;
            }
        }
    }
}
