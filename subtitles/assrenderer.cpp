#include "subtitles/assrenderer.h"

#include <QLoggingCategory>
#include <QPainter>

#include <cstdarg>
#include <cstdio>

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

// x * a / 255 for the four bytes of x at once, rounded.
inline uint32_t byteMul(uint32_t x, uint32_t a)
{
    uint32_t t = (x & 0xff00ff) * a;
    t = ((t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8) & 0xff00ff;
    x = ((x >> 8) & 0xff00ff) * a;
    x = (x + ((x >> 8) & 0xff00ff) + 0x800080) & 0xff00ff00;
    return x | t;
}

// Composites one libass bitmap (an alpha mask in one colour) over a premultiplied
// ARGB piece. `area` is the part of the bitmap to draw, in frame coordinates, and
// lies inside both the bitmap and the piece. This runs for every bitmap of every
// changed frame.
void composite(const ASS_Image *image, QImage &piece, const QPoint &piecePosition, const QRect &area)
{
    const uint32_t colour = image->color;
    const uint32_t opacity = 255 - (colour & 0xff);
    if (opacity == 0)
        return;
    const uint32_t solid = 0xff000000u | (colour >> 8);
    const int width = area.width();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const uint8_t *mask = image->bitmap + qsizetype(y - image->dst_y) * image->stride
                            + (area.left() - image->dst_x);
        auto *out = reinterpret_cast<uint32_t *>(piece.scanLine(y - piecePosition.y()))
                  + (area.left() - piecePosition.x());
        for (int x = 0; x < width; ++x) {
            const uint32_t coverage = mask[x];
            if (!coverage)
                continue;
            const uint32_t alpha = (coverage * opacity + 127) / 255;
            out[x] = alpha == 255 ? solid : byteMul(solid, alpha) + byteMul(out[x], 255 - alpha);
        }
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
    if (frame.size() != frameSize) {
        frameSize = frame.size();
        ass_set_frame_size(renderer, frameSize.width(), frameSize.height());
        piecesValid = false;
    }
    if (videoRect != placedVideo) {
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
    if (changed || !piecesValid) {
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
