#include "preview/previewdecoder.h"

#include "video/orientation.h"

#include <QLoggingCategory>

#include <algorithm>

extern "C" {
#include <libavutil/mathematics.h>
}

// Previews are a courtesy: files that give none (audio, damage) are common and
// the pointer asks again at every move, so failures are logged at debug level.
Q_LOGGING_CATEGORY(lcPreview, "zeltora.preview", QtWarningMsg)

namespace {

constexpr AVRational Milliseconds{1, 1000};

// A seek normally leaves the demuxer on the key frame itself; files without an
// index may land before it. Enough to cross a ten-second key-frame distance of a
// big file, not to read a broken one to its end.
constexpr int maxPackets = 3000;
constexpr qint64 maxPacketBytes = 64 * 1024 * 1024;
// Seeks that land after the target are tried again further back, this many times.
constexpr int maxSeekAttempts = 4;

int64_t packetTimestamp(const AVPacket *packet)
{
    return packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
}

} // namespace

PreviewDecoder::PreviewDecoder(const std::atomic<bool> *abort)
    : abortFlag(abort), cache(cacheEntries)
{
}

PreviewDecoder::~PreviewDecoder()
{
    close();
}

int PreviewDecoder::interrupted(void *opaque)
{
    const auto *flag = static_cast<const std::atomic<bool> *>(opaque);
    return flag && flag->load() ? 1 : 0;
}

QSize PreviewDecoder::previewSize(QSize frame, int sampleAspectNum, int sampleAspectDen, QSize box)
{
    if (frame.isEmpty() || box.isEmpty())
        return QSize();
    const double aspect = (sampleAspectNum > 0 && sampleAspectDen > 0)
        ? double(sampleAspectNum) / sampleAspectDen : 1.0;
    const double width = frame.width() * aspect;
    const double height = frame.height();
    const double scale = std::min(box.width() / width, box.height() / height);
    return QSize(qMax(1, qRound(width * scale)), qMax(1, qRound(height * scale)));
}

void PreviewDecoder::close()
{
    sws_freeContext(converter);
    converter = nullptr;
    codec.reset();
    format.reset();
    frame.reset();
    packet.reset();
    keyPacket.reset();
    streamIndex = -1;
    indexComplete = false;
    openPath.clear();
    cache.clear();
}

bool PreviewDecoder::open(const QString &path)
{
    close();
    openPath = path;

    AVIOInterruptCB interrupt{&PreviewDecoder::interrupted, const_cast<std::atomic<bool> *>(abortFlag)};
    AVFormatContext *opened = nullptr;
    int ret = ffmpeg::openLocalInput(&opened, path, abortFlag ? &interrupt : nullptr);
    if (ret < 0) {
        qCDebug(lcPreview) << "Cannot open" << path << ffmpeg::errorText(ret);
        return false;
    }
    format.reset(opened);
    ret = avformat_find_stream_info(format.get(), nullptr);
    if (ret < 0) {
        qCDebug(lcPreview) << "No stream information in" << path << ffmpeg::errorText(ret);
        return false;
    }
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        qCDebug(lcPreview) << "No video in" << path << ffmpeg::errorText(index);
        return false;
    }
    AVStream *stream = format->streams[index];
    // Cover art of a song is one picture for every moment: no preview to give.
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
        return false;

    const AVCodec *decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder) {
        qCDebug(lcPreview) << "No decoder for the video of" << path;
        return false;
    }
    codec.reset(avcodec_alloc_context3(decoder));
    frame.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    keyPacket.reset(av_packet_alloc());
    if (!codec || !frame || !packet || !keyPacket) {
        qWarning() << "Out of memory for the preview decoder";
        return false;
    }
    ret = avcodec_parameters_to_context(codec.get(), stream->codecpar);
    if (ret < 0) {
        qCDebug(lcPreview) << "Cannot set up the decoder for" << path << ffmpeg::errorText(ret);
        return false;
    }
    codec->pkt_timebase = stream->time_base;
    // One core at most, so the playing file keeps the rest. At 160 px the deblocking
    // filter's work is invisible, and skipping it makes a key frame markedly cheaper.
    codec->thread_count = 1;
    codec->skip_loop_filter = AVDISCARD_ALL;
    codec->flags2 |= AV_CODEC_FLAG2_FAST;
    ret = avcodec_open2(codec.get(), decoder, nullptr);
    if (ret < 0) {
        qCDebug(lcPreview) << "Cannot open the decoder for" << path << ffmpeg::errorText(ret);
        return false;
    }
    streamIndex = index;
    // An index read whole from the file's header says where every seek lands; one
    // that the demuxer builds while reading (generic index) knows only what it has
    // passed, and a cache lookup through it could answer with an earlier key frame.
    indexComplete = avformat_index_get_entries_count(stream) > 0
        && !(format->iformat->flags & AVFMT_GENERIC_INDEX);
    return true;
}

int64_t PreviewDecoder::indexedKeyFrame(int64_t ts) const
{
    const AVIndexEntry *entry = avformat_index_get_entry_from_timestamp(
        format->streams[streamIndex], ts, AVSEEK_FLAG_BACKWARD);
    return entry ? entry->timestamp : AV_NOPTS_VALUE;
}

PreviewDecoder::Preview PreviewDecoder::frameAt(const QString &path, qint64 ms)
{
    if (abortFlag && abortFlag->load())
        return {};
    // A file that gave no decoder is not tried again until another file comes between.
    if (path != openPath && !open(path))
        return {};
    if (streamIndex < 0)
        return {};

    // Past the end means the last picture.
    if (format->duration > 0)
        ms = qMin<qint64>(ms, format->duration / (AV_TIME_BASE / 1000));
    ms = qMax<qint64>(0, ms);
    const AVStream *stream = format->streams[streamIndex];
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const int64_t target = av_rescale_q(ms, Milliseconds, stream->time_base) + start;

    // Within a key-frame interval already shown: no reading at all. The index counts
    // in decoding order, so near a key frame it can name the next one; a picture
    // later than asked for is not taken from it.
    if (indexComplete) {
        const int64_t key = indexedKeyFrame(target);
        if (key != AV_NOPTS_VALUE) {
            const Preview *hit = cache.object(key);
            if (hit && hit->frameMs <= ms) {
                Preview preview = *hit;
                preview.cached = true;
                return preview;
            }
        }
    }

    int64_t key = AV_NOPTS_VALUE;
    if (!seekToKeyPacket(target, &key))
        return {};
    if (const Preview *hit = cache.object(key)) {
        av_packet_unref(keyPacket.get());
        Preview preview = *hit;
        preview.cached = true;
        return preview;
    }
    if (!decodeKeyPacket())
        return {};

    Preview preview;
    const AVRational aspect = av_guess_sample_aspect_ratio(format.get(), format->streams[streamIndex], frame.get());
    const Orientation orientation =
        Orientation::fromFrame(frame.get(), Orientation::fromStream(format->streams[streamIndex]));
    // Converted lying as stored, so a picture that will stand on its side must fit the
    // box turned with it.
    const QSize box(previewWidth, previewMaxHeight);
    const QSize size = previewSize(QSize(frame->width, frame->height), aspect.num, aspect.den,
                                   orientation.swapsAxes() ? box.transposed() : box);
    preview.image = ffmpeg::convertFrameScaled(&converter, frame.get(), size);
    // Upright, as the picture plays (the pixel shape is already in the size).
    preview.image = orientedForDisplay(preview.image, orientation, AVRational{1, 1});
    int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        pts = key;
    preview.frameMs = pts != AV_NOPTS_VALUE
        ? qMax<qint64>(0, av_rescale_q(pts - start, stream->time_base, Milliseconds))
        : ms;
    av_frame_unref(frame.get());
    if (preview.image.isNull()) {
        qCDebug(lcPreview) << "Cannot convert the picture at" << ms << "ms of" << path;
        return {};
    }
    if (key != AV_NOPTS_VALUE)
        cache.insert(key, new Preview(preview));
    return preview;
}

bool PreviewDecoder::seekToKeyPacket(int64_t target, int64_t *key)
{
    const AVStream *stream = format->streams[streamIndex];
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const int64_t second = av_rescale_q(1000, Milliseconds, stream->time_base);
    int64_t seekTarget = target;
    int64_t stepBack = second;
    for (int attempt = 0; attempt < maxSeekAttempts; ++attempt) {
        if (abortFlag && abortFlag->load())
            return false;
        avcodec_flush_buffers(codec.get());
        const int ret = av_seek_frame(format.get(), streamIndex, seekTarget, AVSEEK_FLAG_BACKWARD);
        if (ret < 0) {
            qCDebug(lcPreview) << "Cannot seek in" << openPath << ffmpeg::errorText(ret);
            return false;
        }
        // Indexes in decoding order, and formats without an index that land near the
        // target rather than before it, can leave the demuxer past the key frame
        // wanted, on a later one or with none before the end. Then it starts again
        // further back: at least by the overshoot, twice as far each time after that.
        // From well before the start, a seek has nowhere further back to go.
        const ReadResult read = readToKeyPacket(target);
        if (read == ReadResult::Failed)
            return false;
        const bool found = read == ReadResult::Found;
        const int64_t pts = found ? keyPacket->pts : AV_NOPTS_VALUE;
        const bool after = pts != AV_NOPTS_VALUE && pts > target;
        if (found && (!after || seekTarget < start - second || attempt == maxSeekAttempts - 1)) {
            *key = packetTimestamp(keyPacket.get());
            return true;
        }
        if (seekTarget < start - second)
            break;
        stepBack = qMax(stepBack, after ? pts - target : 0);
        seekTarget = qMin(seekTarget, target) - stepBack;
        stepBack *= 2;
    }
    qCDebug(lcPreview) << "No key frame found before" << target << "in" << openPath;
    return false;
}

PreviewDecoder::ReadResult PreviewDecoder::readToKeyPacket(int64_t target)
{
    // With the whole index known the seek stands on the key frame wanted; otherwise
    // it may stand before a later key frame that is still at or before the target,
    // so reading goes on until the stream's decoding time passes the target (nothing
    // after that can be shown earlier) and keeps the last key frame met.
    const bool scanOn = !indexComplete;
    av_packet_unref(keyPacket.get());
    bool haveKey = false;
    int packets = 0;
    qint64 bytes = 0;
    while (packets < maxPackets && bytes < maxPacketBytes) {
        const int ret = av_read_frame(format.get(), packet.get());
        if (ret == AVERROR_EOF)
            return haveKey ? ReadResult::Found : ReadResult::End;
        if (ret < 0) {
            if (ret != AVERROR_EXIT)
                qCDebug(lcPreview) << "Reading failed in" << openPath << ffmpeg::errorText(ret);
            return ReadResult::Failed;
        }
        ++packets;
        bytes += packet->size;
        if (packet->stream_index == streamIndex) {
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            const bool early = pts == AV_NOPTS_VALUE || pts <= target;
            if ((packet->flags & AV_PKT_FLAG_KEY) && (!haveKey || early)) {
                av_packet_unref(keyPacket.get());
                av_packet_move_ref(keyPacket.get(), packet.get());
                haveKey = true;
                if (!scanOn || !early)
                    return ReadResult::Found;
                continue;
            }
            if (haveKey && packet->dts != AV_NOPTS_VALUE && packet->dts > target) {
                av_packet_unref(packet.get());
                return ReadResult::Found;
            }
        }
        av_packet_unref(packet.get());
    }
    if (haveKey)
        return ReadResult::Found;
    qCDebug(lcPreview) << "No key frame within" << packets << "packets in" << openPath;
    return ReadResult::Failed;
}

bool PreviewDecoder::decodeKeyPacket()
{
    int ret = avcodec_send_packet(codec.get(), keyPacket.get());
    av_packet_unref(keyPacket.get());
    if (ret < 0) {
        qCDebug(lcPreview) << "The decoder refused a key frame of" << openPath << ffmpeg::errorText(ret);
        return false;
    }
    ret = avcodec_receive_frame(codec.get(), frame.get());
    if (ret == AVERROR(EAGAIN)) {
        // Decoders that reorder hold the picture back until more input comes; the
        // end of input makes them give it up without decoding anything else.
        ret = avcodec_send_packet(codec.get(), nullptr);
        if (ret < 0 && ret != AVERROR_EOF) {
            qCDebug(lcPreview) << "Cannot drain the decoder for" << openPath << ffmpeg::errorText(ret);
            return false;
        }
        ret = avcodec_receive_frame(codec.get(), frame.get());
    }
    if (ret < 0) {
        qCDebug(lcPreview) << "No picture from a key frame of" << openPath << ffmpeg::errorText(ret);
        return false;
    }
    return true;
}
