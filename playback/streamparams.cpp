#include "playback/streamparams.h"

#include <QDebug>

std::shared_ptr<const StreamParams> StreamParams::fromStream(const AVStream *stream, qint64 originMs)
{
    auto params = std::make_shared<StreamParams>();
    params->codec.reset(avcodec_parameters_alloc(), [](AVCodecParameters *p) { avcodec_parameters_free(&p); });
    if (!params->codec)
        return nullptr;
    const int ret = avcodec_parameters_copy(params->codec.get(), stream->codecpar);
    if (ret < 0) {
        qWarning() << "Could not copy the parameters of stream" << stream->index << ":" << ffmpeg::errorText(ret);
        return nullptr;
    }
    params->timeBase = stream->time_base;
    params->originMs = originMs;
    const AVRational rate = stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0
        ? stream->avg_frame_rate : stream->r_frame_rate;
    params->frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
    params->sampleAspectRatio = stream->sample_aspect_ratio;
    params->streamIndex = stream->index;
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
        params->pictureTraits = VideoFilter::StreamTraits::of(stream);
    return params;
}
