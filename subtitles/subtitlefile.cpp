#include "subtitles/subtitlefile.h"

#include "decoder/ffmpegsupport.h"
#include "subtitles/subtitledecoder.h"
#include "subtitles/subtitleencoding.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstring>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/mem.h>
}

namespace {

Q_LOGGING_CATEGORY(lcSubtitleFile, "zeltora.subtitles.file", QtWarningMsg)

// Subtitle files run to a few hundred kilobytes; anything far larger is not one.
constexpr qint64 MaxFileBytes = 32 * 1024 * 1024;
constexpr int IoBufferBytes = 64 * 1024;

QString tr(const char *text)
{
    return QCoreApplication::translate("SubtitleFile", text);
}

struct MemoryInput {
    QByteArray data;
    int64_t position = 0;
};

int readMemory(void *opaque, uint8_t *buffer, int size)
{
    auto *input = static_cast<MemoryInput *>(opaque);
    const int64_t left = input->data.size() - input->position;
    if (left <= 0)
        return AVERROR_EOF;
    const int count = int(std::min<int64_t>(left, size));
    std::memcpy(buffer, input->data.constData() + input->position, size_t(count));
    input->position += count;
    return count;
}

int64_t seekMemory(void *opaque, int64_t offset, int whence)
{
    auto *input = static_cast<MemoryInput *>(opaque);
    const int64_t size = input->data.size();
    if (whence & AVSEEK_SIZE)
        return size;
    int64_t target = offset;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET: break;
    case SEEK_CUR: target += input->position; break;
    case SEEK_END: target += size; break;
    default: return AVERROR(EINVAL);
    }
    if (target < 0 || target > size)
        return AVERROR(EINVAL);
    input->position = target;
    return target;
}

// Everything a subtitle file is read from is already in memory: a demuxer that asks
// to open another resource (a reference, a playlist entry) is refused.
int refuseNestedOpen(AVFormatContext *, AVIOContext **, const char *url, int, AVDictionary **)
{
    qCWarning(lcSubtitleFile) << "Refused to open" << url << "from inside a subtitle file";
    return AVERROR(EPERM);
}

struct AvioFreer {
    void operator()(AVIOContext *io) const
    {
        if (io)
            av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
using AvioPtr = std::unique_ptr<AVIOContext, AvioFreer>;

} // namespace

SubtitleFile loadSubtitleFile(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        SubtitleFile failed;
        failed.error = tr("字幕文件无法打开：%1（%2）").arg(name, file.errorString());
        return failed;
    }
    if (file.size() > MaxFileBytes) {
        SubtitleFile failed;
        failed.error = tr("字幕文件过大，不像字幕：%1").arg(name);
        return failed;
    }
    return parseSubtitleFile(file.readAll(), name);
}

SubtitleFile parseSubtitleFile(const QByteArray &bytes, const QString &name)
{
    SubtitleFile result;
    const auto fail = [&](const QString &message) {
        qCWarning(lcSubtitleFile).noquote() << name << message;
        if (result.error.isEmpty())
            result.error = message;
        return result;
    };
    if (bytes.isEmpty())
        return fail(tr("字幕文件是空的：%1").arg(name));

    const SubtitleText text = decodeSubtitleText(bytes);
    result.encoding = text.encoding;
    MemoryInput input{text.text.toUtf8(), 0};

    auto *buffer = static_cast<uint8_t *>(av_malloc(IoBufferBytes));
    if (!buffer)
        return fail(tr("内存不足，字幕文件无法读取：%1").arg(name));
    AvioPtr io(avio_alloc_context(buffer, IoBufferBytes, 0, &input, readMemory, nullptr, seekMemory));
    if (!io) {
        av_free(buffer);
        return fail(tr("内存不足，字幕文件无法读取：%1").arg(name));
    }

    AVFormatContext *raw = avformat_alloc_context();
    if (!raw)
        return fail(tr("内存不足，字幕文件无法读取：%1").arg(name));
    raw->pb = io.get();
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    raw->io_open = refuseNestedOpen;
    AVDictionary *options = nullptr;
    // Only the text formats the finder looks for; whatever else the bytes might
    // resemble is not read.
    int ret = av_dict_set(&options, "format_whitelist", "srt,ass,webvtt", 0);
    if (ret >= 0)
        ret = avformat_open_input(&raw, name.toUtf8().constData(), nullptr, &options);
    av_dict_free(&options);
    if (ret < 0) {
        // A failing avformat_open_input has freed the context already; it is left
        // over only when the options could not be set.
        if (raw)
            avformat_free_context(raw);
        return fail(tr("不是可识别的字幕文件：%1（%2）").arg(name, ffmpeg::errorText(ret)));
    }
    const ffmpeg::FormatContextPtr format(raw);

    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
    if (streamIndex < 0)
        return fail(tr("文件里没有字幕：%1").arg(name));
    const AVStream *stream = format->streams[streamIndex];

    SubtitleDecoder decoder;
    if (!decoder.open(stream->codecpar, stream->time_base, 0))
        return fail(decoder.takeError());
    result.format = decoder.format();

    const ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!packet)
        return fail(tr("内存不足，字幕文件无法读取：%1").arg(name));
    while ((ret = av_read_frame(format.get(), packet.get())) >= 0) {
        if (packet->stream_index == streamIndex)
            result.events << decoder.decode(packet.get());
        av_packet_unref(packet.get());
    }
    if (ret != AVERROR_EOF)
        fail(tr("字幕文件读取中断：%1（%2）").arg(name, ffmpeg::errorText(ret)));
    if (const QString error = decoder.takeError(); !error.isEmpty())
        fail(error);
    if (result.events.isEmpty())
        fail(tr("文件里没有字幕：%1").arg(name));
    return result;
}
