// Subtitles from generated media: decoded events and their times, what the renderer
// draws onto frames and when, picture subtitles, files beside a video, broken input.

#include "decoder/ffmpegsupport.h"
#include "subtitles/subtitledecoder.h"
#include "subtitles/subtitlefile.h"
#include "subtitles/subtitlefiles.h"
#include "subtitles/subtitlerenderer.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <thread>

using testsupport::mediaPath;

namespace {

struct Decoded {
    SubtitleFormat format;
    QList<SubtitleEvent> events;
    QList<AVPacket *> packets; // kept for decoding again
    ~Decoded() { for (AVPacket *p : packets) av_packet_free(&p); }
};

// Every event of a file's first subtitle stream, timed as the video is.
void decodeFile(const QString &path, Decoded &out, SubtitleDecoder &decoder)
{
    AVFormatContext *raw = nullptr;
    QVERIFY(ffmpeg::openLocalInput(&raw, path) >= 0);
    const ffmpeg::FormatContextPtr format(raw);
    QVERIFY(avformat_find_stream_info(raw, nullptr) >= 0);
    const int video = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int index = av_find_best_stream(raw, AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
    QVERIFY(video >= 0 && index >= 0);
    const AVStream *v = raw->streams[video];
    const qint64 origin = v->start_time == AV_NOPTS_VALUE ? 0 : av_rescale_q(v->start_time, v->time_base, {1, 1000});
    QVERIFY(decoder.open(raw->streams[index]->codecpar, raw->streams[index]->time_base, origin));
    out.format = decoder.format();
    ffmpeg::PacketPtr packet(av_packet_alloc());
    while (av_read_frame(raw, packet.get()) >= 0) {
        if (packet->stream_index == index) {
            out.events << decoder.decode(packet.get());
            out.packets << av_packet_clone(packet.get());
        }
        av_packet_unref(packet.get());
    }
    QCOMPARE(decoder.takeError(), QString());
}

QImage blackFrame(QSize size = {320, 240})
{
    QImage frame(size, QImage::Format_RGB32);
    frame.fill(Qt::black);
    return frame;
}

int litPixels(const QImage &image, const QColor &like = QColor())
{
    int lit = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (like.isValid()) {
                lit += qAbs(qRed(row[x]) - like.red()) + qAbs(qGreen(row[x]) - like.green())
                     + qAbs(qBlue(row[x]) - like.blue()) < 60;
            } else {
                lit += qRed(row[x]) + qGreen(row[x]) + qBlue(row[x]) > 90;
            }
        }
    }
    return lit;
}

int largestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = qMax(largest, qMax(qAbs(qRed(p) - qRed(q)),
                                         qMax(qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q)))));
        }
    }
    return largest;
}

QImage rendered(SubtitleRenderer &renderer, qint64 ms, QSize size = {320, 240}, QRect video = {})
{
    QImage frame = blackFrame(size);
    const bool drew = renderer.render(frame, video.isNull() ? frame.rect() : video, ms);
    if (drew != (litPixels(frame) > 0))
        qWarning() << "render() said" << drew << "at" << ms;
    return frame;
}

SubtitleEvent textEvent(qint64 start, qint64 end, const QByteArray &text)
{
    SubtitleEvent event;
    event.startMs = start;
    event.endMs = end;
    event.assLine = "0,0,Default,,0,0,0,," + text;
    return event;
}

} // namespace

class TestSubtitles : public QObject
{
    Q_OBJECT

private slots:
    void embeddedText_data();
    void embeddedText();
    void blending_data();
    void blending();
    void cjkGlyphs();
    void repeatsAndOpenEnds();
    void pictures();
    void legacyAndBrokenText();
    void filesBesideVideo();
    void feedingFromAnotherThread();
};

void TestSubtitles::embeddedText_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("headerHas");
    QTest::newRow("SubRip in Matroska") << "subs-srt.mkv" << QByteArray("Style: Default");
    QTest::newRow("ASS in Matroska") << "subs-ass.mkv" << QByteArray("Style: Sign,DejaVu Sans,24");
    QTest::newRow("WebVTT in Matroska") << "subs-webvtt.mkv" << QByteArray("Style: Default");
    QTest::newRow("mov_text in MP4") << "subs-movtext.mp4" << QByteArray("Style: Default");
}

void TestSubtitles::embeddedText()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, headerHas);
    SubtitleDecoder decoder;
    Decoded decoded;
    decodeFile(mediaPath(file), decoded, decoder);
    QCOMPARE(decoded.format.kind, SubtitleFormat::Kind::Text);
    QVERIFY2(decoded.format.assHeader.contains(headerHas), decoded.format.assHeader.constData());

    QCOMPARE(decoded.events.size(), 2);
    QCOMPARE(decoded.events[0].startMs, 1000);
    QCOMPARE(decoded.events[0].endMs, 2000);
    QVERIFY2(decoded.events[0].assLine.endsWith("中文字幕 First line"), decoded.events[0].assLine.constData());
    QCOMPARE(decoded.events[1].startMs, 3000);
    QCOMPARE(decoded.events[1].endMs, 4500);
    QVERIFY2(decoded.events[1].assLine.endsWith("日本語 한국어 Second line"), decoded.events[1].assLine.constData());

    SubtitleRenderer renderer;
    renderer.setTrack(decoded.format);
    renderer.setVideoSize({320, 240});
    renderer.addEvents(decoded.events);
    const struct { qint64 ms; bool shown; } moments[] = {
        {500, false}, {1000, true}, {1500, true}, {2000, false}, {2500, false}, {4000, true}, {4600, false}};
    for (const auto &moment : moments)
        QVERIFY2((litPixels(rendered(renderer, moment.ms)) > 0) == moment.shown, qPrintable(QString::number(moment.ms)));

    // A changed subtitle is drawn straight onto the frame, an unchanged one from the
    // pieces composited for it: both must look the same (up to rounding).
    const QImage changed = rendered(renderer, 1200);
    const QImage cached = rendered(renderer, 1300);
    QVERIFY(litPixels(changed) > 0);
    QVERIFY2(largestDifference(changed, cached) <= 2, qPrintable(QString::number(largestDifference(changed, cached))));

    // Cover mode: the picture is twice the frame and cropped. Ordinary lines stay in
    // the visible frame rather than below it with the picture's bottom edge.
    const QImage cover = rendered(renderer, 1500, {320, 240}, QRect(-160, -120, 640, 480));
    QVERIFY(litPixels(cover) > 0);
}

void TestSubtitles::blending_data()
{
    QTest::addColumn<QByteArray>("alphaTag");
    QTest::addColumn<QRgb>("expected");
    // Red over grey 128 at opacity 255 - alpha: round((255 * o + 128 * (255 - o)) / 255).
    QTest::newRow("opaque") << QByteArray("&H00&") << qRgb(255, 0, 0);
    QTest::newRow("half") << QByteArray("&H80&") << qRgb(191, 64, 64);
    QTest::newRow("faint") << QByteArray("&HF0&") << qRgb(136, 120, 120);
}

void TestSubtitles::blending()
{
    // Bars one pixel wide, every third pixel, on the frame's own pixel grid: every
    // group of four pixels the blend handles at once mixes covered and empty ones.
    // They run off the frame's right edge, which cuts them to an odd width and
    // leaves a tail for the pixel-by-pixel loop.
    QFETCH(QByteArray, alphaTag);
    QFETCH(QRgb, expected);
    SubtitleFormat format;
    format.kind = SubtitleFormat::Kind::Text;
    format.assHeader =
        "[Script Info]\nScriptType: v4.00+\nPlayResX: 320\nPlayResY: 240\n\n[V4+ Styles]\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
        "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, "
        "Alignment, MarginL, MarginR, MarginV, Encoding\n"
        "Style: Default,DejaVu Sans,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,0,0,7,0,0,0,1\n";
    QByteArray bars;
    for (int x = 0; x < 97; x += 3)
        bars += QStringLiteral("m %1 0 l %2 0 %2 30 %1 30 ").arg(x).arg(x + 1).toLatin1();
    SubtitleRenderer renderer;
    renderer.setTrack(format);
    renderer.addEvents({textEvent(0, 10000, "{\\pos(250,20)\\1c&H0000FF&\\1a" + alphaTag + "\\p1}" + bars)});
    QImage grey(320, 240, QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    for (int frame = 0; frame < 2; ++frame) { // changed, then unchanged (cached pieces)
        QImage image = grey;
        QVERIFY(renderer.render(image, image.rect(), 1000 + frame * 40));
        for (int y = 15; y < 55; ++y) {
            for (int x = 240; x < 320; ++x) {
                const bool bar = y >= 20 && y < 50 && x >= 250 && (x - 250) % 3 == 0;
                const QRgb want = bar ? expected : qRgb(128, 128, 128);
                const QRgb got = image.pixel(x, y);
                // libass lets a bar cover about 97 % of its pixel and 1 % of each
                // neighbour's, whence the slack.
                const int slack = bar ? 5 : 3;
                if (qAbs(qRed(got) - qRed(want)) > slack || qAbs(qGreen(got) - qGreen(want)) > slack
                    || qAbs(qBlue(got) - qBlue(want)) > slack)
                    QFAIL(qPrintable(QStringLiteral("frame %1 pixel %2,%3 is %4, not %5").arg(frame).arg(x).arg(y)
                                         .arg(got, 0, 16).arg(want, 0, 16)));
            }
        }
    }
}

void TestSubtitles::cjkGlyphs()
{
    // With no font for these characters libass draws the same empty box for all of
    // them, or nothing at all; real glyphs differ.
    SubtitleDecoder decoder;
    Decoded decoded;
    decodeFile(mediaPath("subs-srt.mkv"), decoded, decoder);
    SubtitleRenderer renderer;
    renderer.setTrack(decoded.format);
    const QByteArray glyphs[] = {"中", "国", "あ", "한", "글"};
    QList<SubtitleEvent> events;
    for (int i = 0; i < 5; ++i)
        events << textEvent(i * 1000, i * 1000 + 1000, glyphs[i]);
    renderer.addEvents(events);
    QList<QImage> images;
    for (int i = 0; i < 5; ++i) {
        images << rendered(renderer, i * 1000 + 500);
        QVERIFY2(litPixels(images.last()) > 20, glyphs[i].constData());
        for (int j = 0; j < i; ++j)
            QVERIFY2(images[i] != images[j], glyphs[i] + " looks like " + glyphs[j]);
    }
}

void TestSubtitles::repeatsAndOpenEnds()
{
    SubtitleDecoder decoder;
    Decoded decoded;
    decodeFile(mediaPath("subs-srt.mkv"), decoded, decoder);
    SubtitleRenderer renderer;
    renderer.setTrack(decoded.format);
    renderer.addEvents(decoded.events);
    const QImage once = rendered(renderer, 1500);

    // A seek reads the packets again through a flushed decoder, which numbers its
    // events anew: the same line must not be stacked a second time.
    decoder.flush();
    renderer.flush();
    for (const AVPacket *packet : std::as_const(decoded.packets))
        renderer.addEvents(decoder.decode(packet));
    QCOMPARE(rendered(renderer, 1500), once);

    // A line without an end lasts until the next one begins, then gives way to it.
    SubtitleRenderer open;
    open.setTrack(decoded.format);
    open.addEvents({textEvent(1000, SubtitleEvent::OpenEnd, "Open"), textEvent(3000, 4000, "Next")});
    SubtitleRenderer next;
    next.setTrack(decoded.format);
    next.addEvents({textEvent(3000, 4000, "Next")});
    QVERIFY(litPixels(rendered(open, 2500)) > 0);
    QCOMPARE(rendered(open, 3500), rendered(next, 3500));
}

void TestSubtitles::pictures()
{
    // FFmpeg cannot make picture subtitles from text, so a DVD subtitle is encoded
    // here: a red bar 100x20 at (50, 200) of a 720x576 canvas, shown 2.0-3.0 s.
    const AVCodec *encoderCodec = avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE);
    QVERIFY(encoderCodec);
    ffmpeg::CodecContextPtr encoder(avcodec_alloc_context3(encoderCodec));
    encoder->width = 720;
    encoder->height = 576;
    encoder->time_base = {1, 1000};
    QVERIFY(avcodec_open2(encoder.get(), encoderCodec, nullptr) >= 0);

    std::vector<uint8_t> indices(100 * 20, 1);
    uint32_t palette[4] = {0x00000000, 0xffff0000, 0, 0};
    AVSubtitleRect rect{};
    rect.x = 50; rect.y = 200; rect.w = 100; rect.h = 20;
    rect.nb_colors = 4;
    rect.type = SUBTITLE_BITMAP;
    rect.data[0] = indices.data();
    rect.linesize[0] = 100;
    rect.data[1] = reinterpret_cast<uint8_t *>(palette);
    AVSubtitleRect *rects[] = {&rect};
    AVSubtitle subtitle{};
    subtitle.start_display_time = 0;
    subtitle.end_display_time = 1000;
    subtitle.num_rects = 1;
    subtitle.rects = rects;
    QByteArray buffer(64 * 1024, 0);
    const int size = avcodec_encode_subtitle(encoder.get(), reinterpret_cast<uint8_t *>(buffer.data()),
                                             int(buffer.size()), &subtitle);
    QVERIFY(size > 0);

    AVCodecParameters *parameters = avcodec_parameters_alloc();
    QVERIFY(avcodec_parameters_from_context(parameters, encoder.get()) >= 0);
    SubtitleDecoder decoder;
    const bool opened = decoder.open(parameters, {1, 1000}, 0);
    avcodec_parameters_free(&parameters);
    QVERIFY(opened);
    QCOMPARE(decoder.format().kind, SubtitleFormat::Kind::Pictures);
    ffmpeg::PacketPtr packet(av_packet_alloc());
    QVERIFY(av_new_packet(packet.get(), size) >= 0);
    memcpy(packet->data, buffer.constData(), size_t(size));
    packet->pts = 2000;
    const QList<SubtitleEvent> events = decoder.decode(packet.get());
    QCOMPARE(events.size(), 1);
    const SubtitleEvent &event = events[0];
    QCOMPARE(event.startMs, 2000);
    QVERIFY2(event.endMs > 2980 && event.endMs <= 3000, qPrintable(QString::number(event.endMs))); // DVD ticks
    QCOMPARE(event.canvas, QSize(720, 576));
    QCOMPARE(event.pictures.size(), 1);
    QCOMPARE(QRect(event.pictures[0].position, event.pictures[0].image.size()), QRect(50, 200, 100, 20));
    QCOMPARE(event.pictures[0].image.pixel(50, 10), qRgb(255, 0, 0));

    // Drawn at half the width and a quarter of the height onto a 360x144 frame, and
    // only while it shows.
    SubtitleRenderer renderer;
    renderer.setTrack(decoder.format());
    renderer.addEvents(events);
    const QSize half(360, 144);
    QCOMPARE(litPixels(rendered(renderer, 1999, half)), 0);
    const QImage shown = rendered(renderer, 2500, half);
    QCOMPARE(litPixels(shown, Qt::red), 50 * 5);
    QCOMPARE(QColor(shown.pixel(25 + 25, 50 + 2)), QColor(Qt::red));
    QCOMPARE(litPixels(rendered(renderer, 3000, half)), 0);

    // A picture without an end gives way to the next, an empty one clears the screen.
    SubtitleEvent open = event;
    open.startMs = 5000;
    open.endMs = SubtitleEvent::OpenEnd;
    SubtitleEvent clear;
    clear.startMs = 7000;
    renderer.addEvents({clear, open});
    QVERIFY(litPixels(rendered(renderer, 6500, half)) > 0);
    QCOMPARE(litPixels(rendered(renderer, 7000, half)), 0);
    // A seek drops what was waiting: the demuxer reads it again.
    renderer.addEvents({open});
    renderer.flush();
    QCOMPARE(litPixels(rendered(renderer, 5500, half)), 0);
}

void TestSubtitles::legacyAndBrokenText()
{
    const auto open = [](SubtitleDecoder &decoder, AVCodecID codec) {
        AVCodecParameters *parameters = avcodec_parameters_alloc();
        parameters->codec_type = AVMEDIA_TYPE_SUBTITLE;
        parameters->codec_id = codec;
        const bool opened = decoder.open(parameters, {1, 1000}, 0);
        avcodec_parameters_free(&parameters);
        return opened;
    };
    const auto packetOf = [](const QByteArray &payload, int64_t pts) {
        ffmpeg::PacketPtr packet(av_packet_alloc());
        av_new_packet(packet.get(), int(payload.size()));
        memcpy(packet->data, payload.constData(), size_t(payload.size()));
        packet->pts = pts;
        packet->duration = 500;
        return packet;
    };

    // SubRip muxed from an old GBK file keeps its bytes; read, not rejected.
    SubtitleDecoder subrip;
    QVERIFY(open(subrip, AV_CODEC_ID_SUBRIP));
    const QList<SubtitleEvent> legacy = subrip.decode(packetOf("\xd6\xd0\xce\xc4\xd7\xd6\xc4\xbb", 1000).get());
    QCOMPARE(legacy.size(), 1);
    QVERIFY2(legacy[0].assLine.endsWith("中文字幕"), legacy[0].assLine.constData());
    QCOMPARE(subrip.takeError(), QString());

    // mov_text, whose binary boxes are not converted, with text that is no UTF-8:
    // the first fault is reported once, and the stream goes on.
    SubtitleDecoder movText;
    QVERIFY(open(movText, AV_CODEC_ID_MOV_TEXT));
    for (int i = 0; i < 3; ++i)
        QVERIFY(movText.decode(packetOf(QByteArray("\x00\x04\xff\xfe\xc3x", 6), i * 1000).get()).isEmpty());
    QVERIFY(!movText.takeError().isEmpty());
    QCOMPARE(movText.takeError(), QString());
    const QList<SubtitleEvent> events = movText.decode(packetOf(QByteArray("\x00\x04fine", 6), 5000).get());
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].endMs, 5500);
    QCOMPARE(movText.takeError(), QString());
}

void TestSubtitles::filesBesideVideo()
{
    const QList<SubtitleFileCandidate> found = findSubtitleFiles(mediaPath("beside/film.mkv"));
    QStringList names;
    for (const SubtitleFileCandidate &candidate : found)
        names << QFileInfo(candidate.path).fileName();
    QCOMPARE(names, QStringList({"film.srt", "film.broken.srt", "film.chs.srt", "Film.EN.ASS", "film.utf16.srt"}));

    const struct { const char *name; const char *encoding; SubtitleFormat::Kind kind; } expected[] = {
        {"film.srt", "UTF-8", SubtitleFormat::Kind::Text},
        {"film.chs.srt", "GB18030", SubtitleFormat::Kind::Text},
        {"Film.EN.ASS", "UTF-8", SubtitleFormat::Kind::Text},
        {"film.utf16.srt", "UTF-16LE", SubtitleFormat::Kind::Text},
    };
    for (const auto &file : expected) {
        const SubtitleFile loaded = loadSubtitleFile(mediaPath(QStringLiteral("beside/") + file.name));
        QVERIFY2(loaded.error.isEmpty(), qPrintable(loaded.error));
        QCOMPARE(loaded.encoding, QByteArray(file.encoding));
        QVERIFY(loaded.isUsable());
        QCOMPARE(loaded.events.size(), 2);
        QCOMPARE(loaded.events[0].startMs, 1000);
        QVERIFY2(loaded.events[0].assLine.endsWith("中文字幕 First line"), loaded.events[0].assLine.constData());
        QVERIFY2(loaded.events[1].assLine.endsWith("日本語 한국어 Second line"), loaded.events[1].assLine.constData());
    }
    const SubtitleFile broken = loadSubtitleFile(mediaPath("beside/film.broken.srt"));
    QVERIFY(!broken.isUsable());
    QVERIFY(broken.error.contains("film.broken.srt"));
}

void TestSubtitles::feedingFromAnotherThread()
{
    // The demuxer's thread feeds, seeks and switches tracks while the video
    // worker draws; run under ThreadSanitizer this shows any unguarded state.
    SubtitleDecoder decoder;
    Decoded decoded;
    decodeFile(mediaPath("subs-srt.mkv"), decoded, decoder);
    SubtitleRenderer renderer;
    renderer.setTrack(decoded.format);
    std::atomic<bool> done{false};
    std::thread feeder([&] {
        for (int round = 0; round < 40; ++round) {
            if (round % 10 == 9)
                renderer.setTrack(decoded.format);
            renderer.setVideoSize({320, 240});
            renderer.addEvents({textEvent(round * 100, round * 100 + 3000, "Line " + QByteArray::number(round))});
            renderer.flush();
            std::this_thread::yield();
        }
        done = true;
    });
    for (int frame = 0; !done || frame < 40; ++frame)
        rendered(renderer, frame * 100);
    feeder.join();
    QVERIFY(litPixels(rendered(renderer, 3950)) > 0);
}

QTEST_GUILESS_MAIN(TestSubtitles)
#include "tst_subtitles.moc"
