#pragma once

#include <QImage>

#include <memory>

struct AVFrame;

// One picture ready to be shown: converted to the size it is shown at, with its place
// on the media timeline. The decoded frame it was made from travels with it, so that
// the picture on screen can be converted again when the video area changes size while
// playback is paused.
struct VideoFrame
{
    QImage image;
    qint64 ptsMs = 0;
    qint64 durationMs = 0;
    int serial = 0;
    bool endOfStream = false;   // a marker: the stream has no more pictures
    std::shared_ptr<AVFrame> source;
};
