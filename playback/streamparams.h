#pragma once

#include "decoder/ffmpegsupport.h"
#include "playback/videofilter.h"

#include <memory>

// What a decoder thread needs to know about the stream it decodes, copied out of the
// demuxer's context so that no other thread ever touches that context. Immutable once
// made; shared between the demuxer and the decoder that receives it.
struct StreamParams
{
    std::shared_ptr<AVCodecParameters> codec;
    AVRational timeBase{0, 1};
    // Milliseconds to subtract from every timestamp of the stream, so that all streams
    // of a file count from the container's start: the same media time for picture and
    // sound.
    qint64 originMs = 0;
    // Frames per second as the container states it; 0 when unknown.
    double frameRate = 0.0;
    // The container's idea of the pixel shape, for streams whose frames say nothing.
    AVRational sampleAspectRatio{0, 1};
    int streamIndex = -1;
    // What the picture filters need to know of a video stream (orientation, field
    // order, frame rate).
    VideoFilter::StreamTraits pictureTraits;

    static std::shared_ptr<const StreamParams> fromStream(const AVStream *stream, qint64 originMs);
};
