#pragma once

// Thread: owned by one thread (SubtitleRenderer's owner, the video worker), which
// makes every call; libass objects are never touched from anywhere else.

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

struct ass_image;
struct ass_library;
struct ass_renderer;
struct ass_track;

// libass for one text track at a time: its header and events, fonts through
// fontconfig with the fonts a file carries added, and drawing onto frames.
class AssRenderer
{
public:
    AssRenderer();
    ~AssRenderer();
    AssRenderer(const AssRenderer &) = delete;
    AssRenderer &operator=(const AssRenderer &) = delete;

    bool isValid() const { return renderer != nullptr; }

    // A font carried by the media (a Matroska attachment): used by name from the
    // next frame on, for this and every later track.
    void addFont(const QString &name, const QByteArray &data);
    // The family for characters the script's own fonts lack: a CJK family, so that
    // Chinese, Japanese and Korean text never comes out as empty boxes.
    void setFallbackFamily(const QString &family);
    // Loads the fonts now rather than at the next render (see applyFonts).
    void prepareFonts();
    // The video's stored frame size: libass derives the pixel aspect ratio and the
    // scale of blur and borders from it.
    void setStorageSize(const QSize &size);

    // Starts a track from an ASS header, dropping the previous one and its events.
    void startTrack(const QByteArray &header);
    void dropTrack();
    bool hasTrack() const { return track != nullptr; }

    // Adds one event (see SubtitleEvent::assLine); returns its index for
    // setDuration, or -1 when libass rejected it.
    int addEvent(qint64 startMs, qint64 durationMs, const QByteArray &line);
    void setDuration(int index, qint64 durationMs);

    // Draws what shows at `ptsMs` onto `frame`, whose picture occupies `videoRect`
    // (inside the image, the whole image, or larger than it when cropped).
    // Returns whether anything was drawn.
    bool render(QImage &frame, const QRect &videoRect, qint64 ptsMs);

private:
    struct Piece {
        QPoint position;
        QImage image; // ARGB32_Premultiplied: libass's bitmaps of one area composited
    };
    void applyFonts();
    void rebuildPieces(const ass_image *images, const QRect &bounds);

    ass_library *library = nullptr;
    ass_renderer *renderer = nullptr;
    ass_track *track = nullptr;
    QString fallbackFamily;
    bool fontsDirty = true;
    int nextReadOrder = 0;
    QSize frameSize;
    QRect placedVideo;
    QSize storageSize;
    // What the last frame showed, drawn again as it is while libass reports that
    // nothing changed.
    std::vector<Piece> pieces;
    bool piecesValid = false;
};
