#include "playback/demuxer.h"

#include "playback/packetqueue.h"
#include "playback/streamparams.h"
#include "subtitles/subtitlefile.h"
#include "subtitles/subtitlefiles.h"
#include "subtitles/subtitlerenderer.h"
#include "subtitles/subtitleselection.h"
#include "video/framegeometry.h"
#include "video/orientation.h"

#include <QDebug>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <chrono>

Q_LOGGING_CATEGORY(lcDemuxer, "zeltora.playback.demuxer", QtInfoMsg)

namespace {

constexpr AVRational Microseconds{1, 1000000};
constexpr AVRational Milliseconds{1, 1000};

// A timestamp that goes back by more than this, or (in formats whose clock may
// restart) forward by more than the larger gap, is a discontinuity, not media time.
constexpr qint64 backwardJumpUs = 1000000;
constexpr qint64 forwardJumpUs = 10000000;

// The album cover a music file carries as a one-picture stream.
QImage decodeCover(const AVStream *stream)
{
    const AVPacket &picture = stream->attached_pic;
    if (picture.size <= 0)
        return QImage();
    QString error;
    ffmpeg::CodecContextPtr decoder = ffmpeg::openDecoder(stream->codecpar, stream->time_base, 1, &error);
    if (!decoder) {
        qCWarning(lcDemuxer) << "Cannot decode the cover:" << error;
        return QImage();
    }
    ffmpeg::FramePtr frame(av_frame_alloc());
    if (!frame)
        return QImage();
    int ret = avcodec_send_packet(decoder.get(), &picture);
    if (ret >= 0)
        ret = avcodec_send_packet(decoder.get(), nullptr);
    if (ret < 0 && ret != AVERROR_EOF) {
        qCWarning(lcDemuxer) << "Cannot decode the cover:" << ffmpeg::errorText(ret);
        return QImage();
    }
    ret = avcodec_receive_frame(decoder.get(), frame.get());
    if (ret < 0) {
        qCWarning(lcDemuxer) << "Cannot decode the cover:" << ffmpeg::errorText(ret);
        return QImage();
    }
    SwsContext *converter = nullptr;
    QImage image = ffmpeg::convertFrame(&converter, frame.get());
    sws_freeContext(converter);
    return image;
}

QSize shownSize(const AVStream *stream)
{
    const AVCodecParameters *codec = stream->codecpar;
    if (codec->width <= 0 || codec->height <= 0)
        return QSize();
    return framegeometry::displaySize(
        QSize(codec->width, codec->height),
        framegeometry::displaySampleAspectRatio(stream->sample_aspect_ratio, codec->sample_aspect_ratio),
        Orientation::fromStream(stream));
}

QString streamTag(const AVStream *stream, const char *key)
{
    const AVDictionaryEntry *entry = av_dict_get(stream->metadata, key, nullptr, 0);
    return entry ? QString::fromUtf8(entry->value) : QString();
}

MediaTrack describeTrack(const AVStream *stream)
{
    MediaTrack track;
    track.index = stream->index;
    track.language = streamTag(stream, "language");
    if (track.language == QLatin1String("und"))
        track.language.clear();
    track.title = streamTag(stream, "title");
    track.codec = QString::fromUtf8(avcodec_get_name(stream->codecpar->codec_id));
    track.isDefault = stream->disposition & AV_DISPOSITION_DEFAULT;
    track.isForced = stream->disposition & AV_DISPOSITION_FORCED;
    return track;
}

bool isFontAttachment(const AVStream *stream)
{
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT || !stream->codecpar->extradata
        || stream->codecpar->extradata_size <= 0)
        return false;
    if (stream->codecpar->codec_id == AV_CODEC_ID_TTF || stream->codecpar->codec_id == AV_CODEC_ID_OTF)
        return true;
    const QString mime = streamTag(stream, "mimetype").toLower();
    const QString name = streamTag(stream, "filename").toLower();
    return mime.contains(QLatin1String("font")) || mime.contains(QLatin1String("truetype"))
        || mime.contains(QLatin1String("opentype")) || name.endsWith(QLatin1String(".ttf"))
        || name.endsWith(QLatin1String(".otf")) || name.endsWith(QLatin1String(".ttc"));
}

} // namespace

Demuxer::Demuxer(PacketQueue *video, PacketQueue *audio, Wakeup *wakeup, Callbacks callbacks)
    : videoQueue(video), audioQueue(audio), wakeup(wakeup), callbacks(std::move(callbacks)),
      packet(av_packet_alloc())
{
    thread = std::thread([this] { run(); });
}

Demuxer::~Demuxer()
{
    quitting = true;
    wakeup->notify();
    thread.join();
}

void Demuxer::open(const QString &file, int newSerial)
{
    Command command;
    command.kind = Command::Kind::Open;
    command.path = file;
    command.serial = newSerial;
    post(command);
}

void Demuxer::seek(qint64 targetMs, bool exact, int newSerial)
{
    Command command;
    command.kind = Command::Kind::Seek;
    command.targetMs = targetMs;
    command.exact = exact;
    command.serial = newSerial;
    post(command);
}

void Demuxer::close(int newSerial)
{
    Command command;
    command.kind = Command::Kind::Close;
    command.serial = newSerial;
    post(command);
}

void Demuxer::selectAudio(int streamIndex)
{
    std::lock_guard<std::mutex> lock(commandMutex);
    wantedAudio = streamIndex;
}

void Demuxer::selectSubtitles(int streamIndex, const QString &file)
{
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        subtitleRequest = true;
        wantedSubtitleStream = file.isEmpty() ? streamIndex : -1;
        wantedSubtitleFile = file;
        subtitleRequestWaiting = true;
    }
    wakeup->notify();
}

void Demuxer::post(Command command)
{
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        if (command.kind == Command::Kind::Open || command.kind == Command::Kind::Close) {
            // Choices made for the file before belong to it alone.
            wantedAudio = -1;
            subtitleRequest = false;
            subtitleRequestWaiting = false;
        }
        // A seek after an open that has not run yet must not lose the open.
        if (command.kind == Command::Kind::Seek && pending.kind == Command::Kind::Open) {
            pending.serial = command.serial;
            pending.targetMs = command.targetMs;
            pending.exact = command.exact;
        } else {
            pending = std::move(command);
        }
        commandWaiting = true;
    }
    wakeup->notify();
}

bool Demuxer::takeCommand(Command &command)
{
    std::lock_guard<std::mutex> lock(commandMutex);
    if (pending.kind == Command::Kind::None)
        return false;
    command = std::move(pending);
    pending = Command();
    commandWaiting = false;
    return true;
}

int Demuxer::interruptCallback(void *opaque)
{
    // FFmpeg: "During blocking operations, callback is called with opaque as
    // parameter. If the callback returns 1, the blocking operation will be aborted."
    const auto *self = static_cast<const Demuxer *>(opaque);
    return (self->quitting.load(std::memory_order_relaxed)
            || self->commandWaiting.load(std::memory_order_relaxed)) ? 1 : 0;
}

void Demuxer::run()
{
    while (!quitting) {
        Command command;
        if (takeCommand(command)) {
            switch (command.kind) {
            case Command::Kind::Open:
                openFile(command);
                break;
            case Command::Kind::Seek:
                seekFile(command);
                break;
            case Command::Kind::Close:
                serial = command.serial;
                closeFile();
                break;
            case Command::Kind::None:
                break;
            }
            continue;
        }
        if (subtitleRequestWaiting) {
            applySubtitleRequest();
            continue;
        }
        if (!format || atEnd || queuesFull()) {
            wakeup->wait([this] {
                return quitting || commandWaiting || subtitleRequestWaiting || (format && !atEnd && !queuesFull());
            }, std::chrono::milliseconds(format && !atEnd ? 20 : 500));
            continue;
        }
        readPacket();
    }
    closeFile();
}

bool Demuxer::openInput(const QString &file, QString *message)
{
    format.reset();
    AVFormatContext *opened = nullptr;
    const AVIOInterruptCB interrupt{&Demuxer::interruptCallback, this};
    int ret = ffmpeg::openLocalInput(&opened, file, &interrupt);
    if (ret < 0 || !opened) {
        qCWarning(lcDemuxer) << "Could not open" << file << ":" << ffmpeg::errorText(ret);
        *message = QStringLiteral("Could not open file");
        return false;
    }
    format.reset(opened);
    ret = avformat_find_stream_info(format.get(), nullptr);
    if (ret < 0) {
        qCWarning(lcDemuxer) << "Could not read the streams of" << file << ":" << ffmpeg::errorText(ret);
        format.reset();
        *message = QStringLiteral("Could not find stream information");
        return false;
    }
    return true;
}

void Demuxer::openFile(const Command &command)
{
    closeFile();
    serial = command.serial;
    path = command.path;

    QString message;
    if (!openInput(path, &message)) {
        // An open cut short by a newer command is not a failure of this file.
        if (!commandWaiting && !quitting && callbacks.failed)
            callbacks.failed(serial, path, message);
        return;
    }

    originMs = format->start_time != AV_NOPTS_VALUE ? av_rescale_q(format->start_time, AV_TIME_BASE_Q, Milliseconds) : 0;

    QImage cover;
    videoStream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoStream >= 0 && (format->streams[videoStream]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
        // A still picture in a music file: shown while the sound plays, never played.
        cover = decodeCover(format->streams[videoStream]);
        videoStream = -1;
    }
    audioStream = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, videoStream, nullptr, 0);
    if (videoStream < 0)
        videoStream = -1;
    if (audioStream < 0)
        audioStream = -1;

    std::shared_ptr<const StreamParams> videoParams;
    std::shared_ptr<const StreamParams> audioParams;
    if (videoStream >= 0)
        videoParams = StreamParams::fromStream(format->streams[videoStream], originMs);
    if (audioStream >= 0)
        audioParams = StreamParams::fromStream(format->streams[audioStream], originMs);
    if (!videoParams)
        videoStream = -1;
    if (!audioParams)
        audioStream = -1;

    MediaInfo info = describe(path);
    info.cover = cover;
    describeTracks(info);
    if (videoStream >= 0) {
        subtitles = std::make_shared<SubtitleRenderer>();
        const AVCodecParameters *codec = format->streams[videoStream]->codecpar;
        subtitles->setVideoSize(QSize(codec->width, codec->height));
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVStream *stream = format->streams[i];
            if (isFontAttachment(stream))
                subtitles->addFont(streamTag(stream, "filename"),
                                   QByteArray(reinterpret_cast<const char *>(stream->codecpar->extradata),
                                              stream->codecpar->extradata_size));
        }
        chooseDefaultSubtitles(info);
    }
    discardUnusedStreams();
    if (callbacks.opened)
        callbacks.opened(serial, info);

    const qint64 target = qMax<qint64>(0, command.targetMs);
    if (target > 0 && !seekTo(target, command.exact))
        return;

    // The decoders learn of the new file from these, with a null stream when the
    // file has none of their kind.
    const std::pair<PacketQueue *, std::shared_ptr<const StreamParams>> starts[] = {
        {videoQueue, videoParams}, {audioQueue, audioParams}};
    for (const auto &[queue, params] : starts) {
        PacketQueue::Entry start;
        start.kind = PacketQueue::Entry::Kind::Start;
        start.serial = serial;
        start.params = params;
        start.targetMs = command.exact && target > 0 ? target : -1;
        if (queue == videoQueue) {
            start.subtitles = subtitles;
            start.subtitleText = !info.subtitleFiles.isEmpty() || std::any_of(
                info.subtitleTracks.cbegin(), info.subtitleTracks.cend(), [](const MediaTrack &track) {
                    const AVCodecDescriptor *codec = avcodec_descriptor_get_by_name(track.codec.toUtf8().constData());
                    return !codec || !(codec->props & AV_CODEC_PROP_BITMAP_SUB);
                });
        }
        queue->put(std::move(start));
    }
}

MediaInfo Demuxer::describe(const QString &file) const
{
    MediaInfo info;
    info.path = file;
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
        info.durationMs = format->duration / 1000;
    } else {
        // No container duration (raw streams, some live captures): take the longest
        // stream that knows its own.
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVStream *stream = format->streams[i];
            if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
                info.durationMs = qMax(info.durationMs, av_rescale_q(stream->duration, stream->time_base, Milliseconds));
        }
    }
    info.hasVideo = videoStream >= 0;
    info.hasAudio = audioStream >= 0;
    if (info.hasVideo) {
        const AVStream *stream = format->streams[videoStream];
        const AVRational rate = stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0
            ? stream->avg_frame_rate : stream->r_frame_rate;
        info.frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
        info.pictureSize = shownSize(stream);
    }
    info.seekable = format->pb && (format->pb->seekable & AVIO_SEEKABLE_NORMAL);

    const ffmpeg::MediaTags tags = ffmpeg::readTags(format.get());
    info.title = tags.title;
    info.artist = tags.artist;
    info.album = tags.album;
    return info;
}

void Demuxer::seekFile(const Command &command)
{
    serial = command.serial;
    if (!format)
        return;
    videoQueue->clear(true);
    audioQueue->clear(true);
    if (subtitleRequestWaiting)
        applySubtitleRequest();

    // Another audio stream: its decoder starts anew from the seek's target.
    std::shared_ptr<const StreamParams> newAudio;
    int wanted;
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        wanted = std::exchange(wantedAudio, -1);
    }
    if (wanted >= 0 && wanted != audioStream && unsigned(wanted) < format->nb_streams
        && format->streams[wanted]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        newAudio = StreamParams::fromStream(format->streams[wanted], originMs);
        if (newAudio) {
            if (audioStream >= 0)
                format->streams[audioStream]->discard = AVDISCARD_ALL;
            audioStream = wanted;
            format->streams[audioStream]->discard = AVDISCARD_DEFAULT;
        } else {
            qCWarning(lcDemuxer) << "Audio stream" << wanted << "of" << path << "cannot be played";
        }
    }

    const qint64 target = qMax<qint64>(0, command.targetMs);
    if (!seekTo(target, command.exact))
        return;
    subtitleDecoder.flush();
    if (subtitles)
        subtitles->flush();

    for (PacketQueue *queue : {videoQueue, audioQueue}) {
        PacketQueue::Entry flush;
        flush.kind = queue == audioQueue && newAudio ? PacketQueue::Entry::Kind::Start : PacketQueue::Entry::Kind::Flush;
        flush.serial = serial;
        flush.targetMs = command.exact ? target : -1;
        if (queue == audioQueue)
            flush.params = newAudio;
        queue->put(std::move(flush));
    }
}

void Demuxer::describeTracks(MediaInfo &info)
{
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream *stream = format->streams[i];
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            continue;
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            info.audioTracks << describeTrack(stream);
        else if (stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE && videoStream >= 0)
            info.subtitleTracks << describeTrack(stream);
    }
    info.audioTrack = audioStream;
    if (videoStream < 0)
        return;
    const QList<SubtitleFileCandidate> found = findSubtitleFiles(path);
    for (const SubtitleFileCandidate &candidate : found)
        info.subtitleFiles << SubtitleFileTrack{candidate.path, candidate.label};
}

void Demuxer::chooseDefaultSubtitles(MediaInfo &info)
{
    QList<SubtitleChoice> choices;
    for (const MediaTrack &track : std::as_const(info.subtitleTracks))
        choices << SubtitleChoice{track.language, track.title, track.isDefault, track.isForced, false};
    for (const SubtitleFileTrack &file : std::as_const(info.subtitleFiles)) {
        const bool forced = file.label.split(QLatin1Char('.')).contains(QLatin1String("forced"), Qt::CaseInsensitive);
        choices << SubtitleChoice{file.label, QString(), false, forced, true};
    }
    const int chosen = defaultSubtitleTrack(choices);
    if (chosen < 0) {
        showSubtitleStream(-1);
    } else if (chosen < info.subtitleTracks.size()) {
        info.subtitleTrack = info.subtitleTracks.at(chosen).index;
        showSubtitleStream(info.subtitleTrack);
    } else {
        info.subtitleFile = info.subtitleFiles.at(chosen - info.subtitleTracks.size()).path;
        showSubtitleFile(info.subtitleFile);
    }
}

void Demuxer::applySubtitleRequest()
{
    int stream;
    QString file;
    {
        std::lock_guard<std::mutex> lock(commandMutex);
        subtitleRequestWaiting = false;
        if (!subtitleRequest)
            return;
        subtitleRequest = false;
        stream = wantedSubtitleStream;
        file = wantedSubtitleFile;
    }
    if (!format || !subtitles)
        return;
    if (!file.isEmpty())
        showSubtitleFile(file);
    else
        showSubtitleStream(stream);
}

void Demuxer::showSubtitleStream(int index)
{
    if (subtitleStream >= 0 && subtitleStream != videoStream && subtitleStream != audioStream)
        format->streams[subtitleStream]->discard = AVDISCARD_ALL;
    subtitleStream = -1;
    subtitleFile.clear();
    subtitleDecoder.close();
    if (index >= 0 && unsigned(index) < format->nb_streams
        && format->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        const AVStream *stream = format->streams[index];
        if (subtitleDecoder.open(stream->codecpar, stream->time_base, originMs)) {
            subtitleStream = index;
            format->streams[index]->discard = AVDISCARD_DEFAULT;
        } else {
            reportSubtitleError(subtitleDecoder.takeError());
        }
    }
    if (!subtitles)
        return;
    SubtitleFormat shown = subtitleDecoder.format();
    if (subtitleStream >= 0) {
        const AVStream *stream = format->streams[subtitleStream];
        shown.language = SubtitleLanguage::guess(streamTag(stream, "language") + QLatin1Char(' ')
                                                 + streamTag(stream, "title"));
    }
    subtitles->setTrack(shown);
}

void Demuxer::showSubtitleFile(const QString &file)
{
    showSubtitleStream(-1);
    // Small enough to read whole: seeking in it is then free.
    const SubtitleFile loaded = loadSubtitleFile(file);
    if (!loaded.error.isEmpty())
        reportSubtitleError(loaded.error);
    if (!loaded.isUsable() || !subtitles)
        return;
    subtitleFile = file;
    SubtitleFormat shown = loaded.format;
    const QList<SubtitleFileCandidate> beside = matchSubtitleFiles(path, {QFileInfo(file).fileName()});
    if (!beside.isEmpty())
        shown.language = beside.first().language;
    subtitles->setTrack(shown);
    subtitles->addEvents(loaded.events);
}

void Demuxer::reportSubtitleError(const QString &message)
{
    if (!message.isEmpty() && callbacks.subtitleFailed)
        callbacks.subtitleFailed(path, message);
}

void Demuxer::decodeSubtitlePacket(const AVStream *stream)
{
    // The picture's timestamp repair applies to its subtitles too.
    if (const qint64 shiftUs = timestampShiftUs[0]) {
        const int64_t shift = av_rescale_q(shiftUs, Microseconds, stream->time_base);
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts += shift;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts += shift;
    }
    const QList<SubtitleEvent> events = subtitleDecoder.decode(packet.get());
    reportSubtitleError(subtitleDecoder.takeError());
    if (!events.isEmpty() && subtitles)
        subtitles->addEvents(events);
}

bool Demuxer::seekTo(qint64 targetMs, bool exact)
{
    const qint64 startUs = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
    qint64 landMs = targetMs;
    // Land on the key frame at or before the target; an exact seek decodes forward
    // from there and the decoders drop what comes before the target.
    int ret = avformat_seek_file(format.get(), -1, INT64_MIN, landMs * 1000 + startUs, landMs * 1000 + startUs, 0);
    if (ret < 0 && !commandWaiting && !quitting) {
        // Formats without an index or timestamps to search (raw elementary streams)
        // can still start over and read forward to the target.
        qCInfo(lcDemuxer) << "Seeking by time failed (" << ffmpeg::errorText(ret) << "); reading"
                          << path << "again from its start";
        QString message;
        if (!openInput(path, &message)) {
            endOfInput();
            return false;
        }
        discardUnusedStreams();
        ret = 0;
    } else if (ret >= 0 && exact && videoStream >= 0) {
        // Formats without a real index (transport streams) search by timestamps and
        // land on any packet, not on a key frame: step back until the first key frame
        // is at or before the target. Indexed formats pass at the first look.
        qint64 backoffMs = 1000;
        for (int attempt = 0; attempt < 6 && !commandWaiting && !quitting; ++attempt) {
            const qint64 keyMs = firstKeyFrameMs();
            if (keyMs == AV_NOPTS_VALUE || keyMs <= targetMs)
                break;
            landMs = targetMs - backoffMs;
            backoffMs *= 2;
            ret = avformat_seek_file(format.get(), -1, INT64_MIN, landMs * 1000 + startUs, landMs * 1000 + startUs, 0);
            if (ret < 0)
                break;
        }
        // The probing read ahead: go back to where it settled.
        if (ret >= 0)
            ret = avformat_seek_file(format.get(), -1, INT64_MIN, landMs * 1000 + startUs, landMs * 1000 + startUs, 0);
    }
    if (ret < 0)
        qCInfo(lcDemuxer) << "Seek to" << targetMs << "ms did not complete:" << ffmpeg::errorText(ret);

    atEnd = false;
    // A decoder fed from the middle of a group of pictures shows broken pictures
    // until the next key frame; it starts at one instead.
    awaitingKeyFrame = videoStream >= 0;
    packetsBeforeKeyFrame = 0;
    timestampShiftUs.fill(0);
    nextDtsUs.fill(AV_NOPTS_VALUE);
    return true;
}

qint64 Demuxer::firstKeyFrameMs()
{
    for (int packets = 0; packets < 2000 && !commandWaiting && !quitting; ++packets) {
        if (av_read_frame(format.get(), packet.get()) < 0)
            return AV_NOPTS_VALUE;
        const bool key = packet->stream_index == videoStream && (packet->flags & AV_PKT_FLAG_KEY);
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const AVRational timeBase = format->streams[packet->stream_index]->time_base;
        av_packet_unref(packet.get());
        if (key)
            return ts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(ts, timeBase, Milliseconds) - originMs;
    }
    return AV_NOPTS_VALUE;
}

void Demuxer::discardUnusedStreams()
{
    // Nothing else is read from the file: the demuxer may skip those packets.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (int(i) != videoStream && int(i) != audioStream && int(i) != subtitleStream)
            format->streams[i]->discard = AVDISCARD_ALL;
    }
}

void Demuxer::closeFile()
{
    format.reset();
    videoStream = -1;
    audioStream = -1;
    subtitleStream = -1;
    subtitleFile.clear();
    subtitleDecoder.close();
    subtitles.reset();
    atEnd = false;
    timestampShiftUs.fill(0);
    nextDtsUs.fill(AV_NOPTS_VALUE);
    videoQueue->clear();
    audioQueue->clear();
}

bool Demuxer::queuesFull() const
{
    const PacketQueue::Fill video = videoQueue->fill();
    const PacketQueue::Fill audio = audioQueue->fill();
    if (video.bytes + audio.bytes > maxQueuedBytes)
        return true;
    auto enough = [](bool active, const PacketQueue::Fill &fill) {
        return !active || (fill.packets > enoughPackets && fill.durationMs >= enoughMs);
    };
    return enough(videoStream >= 0, video) && enough(audioStream >= 0, audio);
}

void Demuxer::endOfInput()
{
    atEnd = true;
    PacketQueue::Entry videoEnd;
    videoEnd.kind = PacketQueue::Entry::Kind::End;
    videoEnd.serial = serial;
    videoQueue->put(std::move(videoEnd));
    PacketQueue::Entry audioEnd;
    audioEnd.kind = PacketQueue::Entry::Kind::End;
    audioEnd.serial = serial;
    audioQueue->put(std::move(audioEnd));
}

void Demuxer::readPacket()
{
    const int ret = av_read_frame(format.get(), packet.get());
    if (ret == AVERROR(EAGAIN))
        return;
    if (ret < 0) {
        if (ret == AVERROR_EXIT && (commandWaiting || quitting))
            return; // cut short by a newer command
        if (ret != AVERROR_EOF)
            qCWarning(lcDemuxer) << "Reading" << path << "stopped:" << ffmpeg::errorText(ret);
        endOfInput();
        return;
    }
    const int index = packet->stream_index;
    if (index == subtitleStream && subtitleStream >= 0) {
        decodeSubtitlePacket(format->streams[index]);
        av_packet_unref(packet.get());
        return;
    }
    PacketQueue *queue = index == videoStream ? videoQueue : index == audioStream ? audioQueue : nullptr;
    if (queue == videoQueue && awaitingKeyFrame) {
        // Streams that never mark a key frame (intra refresh) are let through after a
        // while rather than never.
        if ((packet->flags & AV_PKT_FLAG_KEY) || ++packetsBeforeKeyFrame > maxPacketsBeforeKeyFrame)
            awaitingKeyFrame = false;
        else
            queue = nullptr;
    }
    if (!queue) {
        av_packet_unref(packet.get());
        return;
    }
    const AVStream *stream = format->streams[index];
    fixDiscontinuity(packet.get(), stream);

    PacketQueue::Entry entry;
    entry.serial = serial;
    entry.durationMs = packet->duration > 0 ? av_rescale_q(packet->duration, stream->time_base, Milliseconds) : 0;
    entry.packet.reset(av_packet_alloc());
    if (!entry.packet) {
        av_packet_unref(packet.get());
        return;
    }
    av_packet_move_ref(entry.packet.get(), packet.get());
    queue->put(std::move(entry));
}

void Demuxer::fixDiscontinuity(AVPacket *pkt, const AVStream *stream)
{
    const size_t slot = pkt->stream_index == videoStream ? 0 : 1;
    const int64_t raw = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    if (raw == AV_NOPTS_VALUE)
        return;
    qint64 &shiftUs = timestampShiftUs[slot];
    qint64 dtsUs = av_rescale_q(raw, stream->time_base, Microseconds) + shiftUs;
    const qint64 expected = nextDtsUs[slot];
    if (expected != AV_NOPTS_VALUE) {
        const bool restartable = format->iformat->flags & AVFMT_TS_DISCONT;
        const qint64 jump = dtsUs - expected;
        if (jump < -backwardJumpUs || (restartable && jump > forwardJumpUs)) {
            qCInfo(lcDemuxer) << "Timestamps jump by" << jump / 1000 << "ms in" << path << "; carrying on";
            shiftUs -= jump;
            dtsUs -= jump;
        }
    }
    const qint64 lengthUs = pkt->duration > 0 ? av_rescale_q(pkt->duration, stream->time_base, Microseconds) : 0;
    nextDtsUs[slot] = dtsUs + lengthUs;
    if (shiftUs != 0) {
        const int64_t shift = av_rescale_q(shiftUs, Microseconds, stream->time_base);
        if (pkt->pts != AV_NOPTS_VALUE)
            pkt->pts += shift;
        if (pkt->dts != AV_NOPTS_VALUE)
            pkt->dts += shift;
    }
}
