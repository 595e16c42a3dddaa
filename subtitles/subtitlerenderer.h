#pragma once

// Thread: owned by the video worker, the only thread that calls prepare() and
// render(). The feeding functions (setTrack, setVideoSize, addFont, addEvents,
// flush) may be called from any thread: they only put their data into a small
// store under a lock, which render() empties at its next call. libass and the
// scaled pictures are touched by the owner alone, outside the lock.

#include "subtitles/subtitleevent.h"
#include "subtitles/subtitleformat.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
#include <QRect>
#include <QSet>
#include <QSize>
#include <QString>

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class AssRenderer;

// Draws the subtitles of one track onto converted video frames: text tracks through
// libass, picture tracks scaled with the picture. One renderer serves one opened
// media file (the fonts it carries stay until the renderer goes).
class SubtitleRenderer
{
public:
    SubtitleRenderer();
    ~SubtitleRenderer();
    SubtitleRenderer(const SubtitleRenderer &) = delete;
    SubtitleRenderer &operator=(const SubtitleRenderer &) = delete;

    // --- any thread -------------------------------------------------------------
    // Shows a new track from the next frame on (a format of kind None shows
    // nothing), dropping every event of the previous one. Its events must be added
    // after this call, from the same thread.
    void setTrack(const SubtitleFormat &format);
    // The video's stored frame size: picture tracks that do not give their own
    // canvas are placed on it, and libass scales borders and blur by it.
    void setVideoSize(const QSize &size);
    // A font the media file carries (a Matroska attachment): name and contents.
    void addFont(const QString &name, const QByteArray &data);
    // Events of the current track, in any order and any number of times: a text
    // event seen before is ignored, so the packets read again after a seek can be
    // passed on as they come.
    void addEvents(const QList<SubtitleEvent> &events);
    // After a seek: drops pictures still waiting (the demuxer reads them again).
    // Text events are kept, so a line that began before the seek point still shows.
    void flush();

    // --- the owner thread -----------------------------------------------------------
    // Takes in what was fed so far and sets up libass and its fonts (fontconfig's
    // scan of the system's fonts, tens of milliseconds). render() does it when a
    // text track first needs it; calling this once the file's fonts are added and
    // before playback keeps that out of a frame.
    void prepare();
    // Draws the subtitles showing at `ptsMs` onto `frame` (RGB32 or ARGB32; not
    // shared with another QImage, or painting makes a copy), whose picture occupies
    // `videoRect`: the whole image in letter-box mode, a rectangle larger than the
    // image in cover mode. Returns whether anything was drawn.
    bool render(QImage &frame, const QRect &videoRect, qint64 ptsMs);

private:
    struct QueuedPicture {
        quint64 serial;
        SubtitleEvent event;
    };
    struct ScaledPicture {
        QPoint offset; // from the video rectangle's top left
        QImage image;
    };
    struct OpenText {
        int index;
        qint64 startMs;
    };

    void applyPending();
    void ensureAss();
    void applyTrack(const SubtitleFormat &format);
    void addText(const SubtitleEvent &event);
    bool drawPictures(QImage &frame, const QRect &videoRect, const QueuedPicture &shown);

    // Shared with the feeding threads, under `lock`.
    std::mutex lock;
    std::optional<SubtitleFormat> pendingTrack;
    QList<SubtitleEvent> pendingText;
    QList<QPair<QString, QByteArray>> pendingFonts;
    std::deque<QueuedPicture> pictures; // by start time
    quint64 nextSerial = 1;
    QSize sharedVideoSize;

    // The owner's alone.
    std::unique_ptr<AssRenderer> ass;
    SubtitleFormat format;
    QSize videoSize;
    QSet<QByteArray> seenText;
    std::vector<OpenText> openText;
    quint64 scaledSerial = 0;
    QSize scaledFor;
    std::vector<ScaledPicture> scaled;
};
