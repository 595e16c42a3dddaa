#pragma once

// Thread: owned by whichever single thread feeds it packets (the demuxer's, or the
// one that takes the subtitle packet queue); it touches nothing but its own FFmpeg
// codec context. Decoding a subtitle packet takes microseconds for text and well
// under a millisecond for a picture, so it may run on the demuxer thread.

#include "decoder/ffmpegsupport.h"
#include "subtitles/subtitleevent.h"
#include "subtitles/subtitleformat.h"

#include <QCoreApplication>
#include <QList>
#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
}

// Turns the packets of one subtitle stream into timed events: ASS lines for the text
// formats (SubRip, ASS/SSA, WebVTT, mov_text and the rest of FFmpeg's text
// decoders, all of which speak ASS), premultiplied ARGB pictures for the picture
// formats (Blu-ray PGS, DVD and DVB subtitles).
class SubtitleDecoder
{
    Q_DECLARE_TR_FUNCTIONS(SubtitleDecoder)

public:
    SubtitleDecoder() = default;
    SubtitleDecoder(const SubtitleDecoder &) = delete;
    SubtitleDecoder &operator=(const SubtitleDecoder &) = delete;

    // Opens a decoder for a stream with these parameters whose packets are timed in
    // `timeBase`. Event times are the packet times minus `originMs`, the media time
    // the player calls 0: the value it subtracts from the video frames' times (the
    // file's start time), not the subtitle stream's own start time, which may be
    // just its first subtitle's. False when the codec is not a subtitle codec or
    // cannot be opened; takeError() then says why.
    bool open(const AVCodecParameters *parameters, AVRational timeBase, qint64 originMs = 0);
    void close();
    bool isOpen() const { return context != nullptr; }

    // Valid once open: what a renderer needs before the events.
    SubtitleFormat format() const;

    // The events one packet completes: none, one, or (rarely) several. A packet
    // that cannot be decoded gives none; the first such fault is kept for
    // takeError() and the stream goes on.
    QList<SubtitleEvent> decode(const AVPacket *packet);

    // After a seek: forgets half-assembled pictures and state of the old position.
    void flush();

    // A message for the user about the first fault of this stream, once; empty when
    // nothing failed or it was already taken.
    QString takeError();

private:
    void fail(const QString &message);
    SubtitleEvent toEvent(const AVSubtitle &subtitle, const AVPacket *packet) const;

    ffmpeg::CodecContextPtr context;
    AVRational timeBase{0, 1};
    qint64 originMs = 0;
    bool keepsReadOrder = false; // ASS/SSA streams number their events themselves
    bool pictures = false;       // a picture codec: PGS, DVD, DVB
    bool plainText = false;      // packets hold nothing but text (unlike mov_text's binary boxes)
    bool failed = false;
    QString pendingError;
};
