#pragma once

// Owning thread: whichever thread calls it, one at a time; in the player that is
// the FramePreviewer's worker. It touches nothing but its own FFmpeg objects and
// the abort flag it is given, which it only reads.

#include "decoder/ffmpegsupport.h"

#include <QCache>
#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>

// Small pictures of a file at chosen times, for the preview over the position slider.
// A picture is the key frame at or before the time (one packet decoded, nothing
// else), converted straight to the preview size. The pictures of the open file are
// kept in a small cache by key frame, so a pointer moving within one key-frame
// interval costs no decoding; opening another file drops them.
class PreviewDecoder
{
public:
    // The box a preview is fitted into: about 160 px wide, flatter than tall.
    static constexpr int previewWidth = 160;
    static constexpr int previewMaxHeight = 120;
    static constexpr int cacheEntries = 48;

    struct Preview {
        QImage image;        // null: no picture there (no video, unreadable, aborted)
        qint64 frameMs = -1; // the picture's own time, counted from the first frame
        bool cached = false;
    };

    // Reading stops, and frameAt returns nothing, once *abort is true.
    explicit PreviewDecoder(const std::atomic<bool> *abort = nullptr);
    ~PreviewDecoder();
    PreviewDecoder(const PreviewDecoder &) = delete;
    PreviewDecoder &operator=(const PreviewDecoder &) = delete;

    // The picture for `ms` into the file at `path`, opening it if it is not the open one.
    Preview frameAt(const QString &path, qint64 ms);

    // The preview size of a frame of `frame` pixels whose pixels have the aspect
    // `sampleAspect` (num:den; 0 or invalid counts as square), fitted into `box`.
    static QSize previewSize(QSize frame, int sampleAspectNum, int sampleAspectDen,
                             QSize box = QSize(previewWidth, previewMaxHeight));

private:
    bool open(const QString &path);
    void close();
    // The timestamp of the indexed key frame at or before `ts`, as the cache key; or
    // AV_NOPTS_VALUE when the index does not know one.
    int64_t indexedKeyFrame(int64_t ts) const;
    // Seeks to the key frame at or before `target` and reads its packet into
    // keyPacket; *key is that packet's timestamp.
    bool seekToKeyPacket(int64_t target, int64_t *key);
    enum class ReadResult { Found, End, Failed };
    ReadResult readToKeyPacket(int64_t target);
    // Decodes keyPacket into `frame`.
    bool decodeKeyPacket();

    static int interrupted(void *opaque);

    const std::atomic<bool> *abortFlag;
    QString openPath;
    ffmpeg::FormatContextPtr format;
    ffmpeg::CodecContextPtr codec;
    ffmpeg::FramePtr frame;
    ffmpeg::PacketPtr packet;
    ffmpeg::PacketPtr keyPacket;
    SwsContext *converter = nullptr;
    int streamIndex = -1;
    bool indexComplete = false; // the demuxer's index was read whole from the file
    QCache<qint64, Preview> cache;
};
