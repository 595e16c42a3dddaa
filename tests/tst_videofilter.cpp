#include "playback/videofilter.h"
#include "testsupport.h"
#include "video/framegeometry.h"

#include <QTest>

#include <vector>

using ffmpeg::FramePtr;

namespace {

struct Clip {
    ffmpeg::FormatContextPtr format;
    const AVStream *stream = nullptr;
    std::vector<FramePtr> frames;
};

Clip decodeAll(const QString &name)
{
    Clip clip;
    AVFormatContext *opened = nullptr;
    if (ffmpeg::openLocalInput(&opened, testsupport::mediaPath(name)) < 0)
        return clip;
    clip.format.reset(opened);
    const int index = av_find_best_stream(opened, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec *codec = index < 0 ? nullptr : avcodec_find_decoder(opened->streams[index]->codecpar->codec_id);
    ffmpeg::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!codec || avformat_find_stream_info(opened, nullptr) < 0
        || avcodec_parameters_to_context(decoder.get(), opened->streams[index]->codecpar) < 0
        || avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return clip;
    clip.stream = opened->streams[index];
    ffmpeg::PacketPtr packet(av_packet_alloc());
    for (bool more = true; more;) {
        more = av_read_frame(opened, packet.get()) >= 0;
        if (!more || packet->stream_index == index)
            avcodec_send_packet(decoder.get(), more ? packet.get() : nullptr);
        av_packet_unref(packet.get());
        for (FramePtr frame(av_frame_alloc()); avcodec_receive_frame(decoder.get(), frame.get()) == 0;
             frame.reset(av_frame_alloc()))
            clip.frames.push_back(std::move(frame));
    }
    return clip;
}

// Everything the filter gives for the frames (which it takes) and the end of stream.
std::vector<FramePtr> filterAll(VideoFilter &filter, std::vector<FramePtr> &frames)
{
    std::vector<FramePtr> out;
    const auto pullAll = [&] {
        for (FramePtr frame(av_frame_alloc()); filter.pull(frame.get()) == 0; frame.reset(av_frame_alloc()))
            out.push_back(std::move(frame));
    };
    for (FramePtr &frame : frames) {
        if (filter.push(frame.get()) < 0)
            return {};
        pullAll();
    }
    filter.push(nullptr);
    pullAll();
    return out;
}

int luma(const AVFrame *frame, int x, int y)
{
    return frame->data[0][y * frame->linesize[0] + x];
}

// Pixels that differ sharply from the one below: in a picture whose columns are
// uniform, as in the interlaced clip, only combing makes them.
int combedPixels(const AVFrame *frame)
{
    int combed = 0;
    for (int y = 0; y + 1 < frame->height; ++y)
        for (int x = 0; x < frame->width; ++x)
            combed += qAbs(luma(frame, x, y) - luma(frame, x, y + 1)) > 64;
    return combed;
}

// Red, lime or blue at each corner marker, clockwise from the top left.
QString corners(const QImage &image)
{
    const int w = image.width(), h = image.height();
    QString names;
    for (const QPoint &p : {QPoint(w / 8, h / 8), QPoint(w * 7 / 8, h / 8), QPoint(w * 7 / 8, h * 7 / 8),
                            QPoint(w / 8, h * 7 / 8)}) {
        const QRgb c = image.pixel(p);
        names += qRed(c) > 128 ? 'r' : qGreen(c) > 128 ? 'g' : 'b';
    }
    return names;
}

QString corners(const AVFrame *frame)
{
    SwsContext *converter = nullptr;
    const QImage image = ffmpeg::convertFrame(&converter, frame);
    sws_freeContext(converter);
    return corners(image);
}

} // namespace

class TestVideoFilter : public QObject
{
    Q_OBJECT

private slots:
    void shownAsMeant_data();
    void shownAsMeant();
    void deinterlacesAtFieldRate();
    void rebuildsWhenTheSizeChanges();
    void seekDropsHeldPictures();
    void toneMapsHdr_data();
    void toneMapsHdr();
};

void TestVideoFilter::shownAsMeant_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<QString>("corners");
    QTest::addColumn<bool>("passesThrough");
    QTest::newRow("upright") << "upright.mp4" << QSize(96, 64) << "rgbb" << true;
    QTest::newRow("turned 90") << "turned-90.mp4" << QSize(64, 96) << "brgb" << false;
    QTest::newRow("turned 270") << "turned-270.mp4" << QSize(64, 96) << "gbbr" << false;
    QTest::newRow("mirrored") << "mirrored.mp4" << QSize(96, 64) << "grbb" << false;
    QTest::newRow("transposed") << "transposed.mp4" << QSize(64, 96) << "rbbg" << false;
    QTest::newRow("4:3 in 720x576") << "sar-4x3.mp4" << QSize(768, 576) << "rgbb" << true;
    QTest::newRow("16:9 in 720x576") << "sar-16x9.mp4" << QSize(1024, 576) << "rgbb" << true;
    QTest::newRow("16:9 by the container") << "sar-container.mp4" << QSize(1024, 576) << "rgbb" << true;
    QTest::newRow("16:9 turned") << "sar-16x9-turned.mp4" << QSize(576, 1024) << "brgb" << false;
}

void TestVideoFilter::shownAsMeant()
{
    QFETCH(QString, file);
    QFETCH(QSize, shown);
    QFETCH(QString, corners);
    QFETCH(bool, passesThrough);
    Clip clip = decodeAll(file);
    QVERIFY(!clip.frames.empty());
    AVFrame *coded = clip.frames.front().get();
    const uint8_t *codedData = coded->data[0];
    const int64_t codedPts = coded->pts;
    const int codedFormat = coded->format;
    const AVColorRange codedRange = coded->color_range;
    // The same for stills, as thumbnails and previews make them: through a filter, or
    // from the coded picture as an image.
    const QImage still = VideoFilter::displayImage(clip.stream, coded);
    QCOMPARE(still.size(), shown);
    QCOMPARE(::corners(still), corners);
    SwsContext *converter = nullptr;
    const QImage image = orientedForDisplay(
        ffmpeg::convertFrame(&converter, coded), Orientation::fromFrame(coded, Orientation::fromStream(clip.stream)),
        framegeometry::displaySampleAspectRatio(clip.stream->sample_aspect_ratio, coded->sample_aspect_ratio));
    sws_freeContext(converter);
    QCOMPARE(image.size(), shown);
    QCOMPARE(::corners(image), corners);

    VideoFilter filter;
    filter.setStream(clip.stream);
    QCOMPARE(filter.push(coded), 0);
    QCOMPARE(filter.needsFiltering(), !passesThrough);
    FramePtr out(av_frame_alloc());
    QCOMPARE(filter.pull(out.get()), 0);
    QCOMPARE(filter.pull(out.get()), AVERROR(EAGAIN));

    QCOMPARE(framegeometry::displaySize(QSize(out->width, out->height), out->sample_aspect_ratio), shown);
    QCOMPARE(::corners(out.get()), corners);
    // Untouched colours: same pixels (the very same buffer when nothing is done), same tags.
    QCOMPARE(out->data[0] == codedData, passesThrough);
    QCOMPARE(out->format, codedFormat);
    QCOMPARE(out->color_range, codedRange);
    QCOMPARE(out->pts, 2 * codedPts);

    // After a seek, alike.
    filter.flush();
    out.reset(av_frame_alloc());
    QCOMPARE(filter.push(clip.frames.back().get()), 0);
    QCOMPARE(filter.pull(out.get()), 0);
    QCOMPARE(::corners(out.get()), corners);
}

void TestVideoFilter::deinterlacesAtFieldRate()
{
    Clip clip = decodeAll(QStringLiteral("interlaced.mp4"));
    QCOMPARE(clip.frames.size(), size_t(25));
    QVERIFY(clip.frames[3]->interlaced_frame);
    QVERIFY2(combedPixels(clip.frames[3].get()) > 1000, "the clip itself must comb");

    VideoFilter filter;
    filter.setStream(clip.stream);
    const std::vector<FramePtr> out = filterAll(filter, clip.frames);
    QCOMPARE(out.size(), size_t(50));
    const int64_t fieldStep = av_rescale_q(1, AVRational{1, 50}, filter.outputTimeBase());
    int firstLeft = 0;
    for (size_t k = 0; k < out.size(); ++k) {
        const AVFrame *field = out[k].get();
        QCOMPARE(field->format, int(AV_PIX_FMT_YUV420P));
        QVERIFY2(combedPixels(field) <= 10, qPrintable(QStringLiteral("output %1 combs").arg(k)));
        // Fields in the order they were filmed: the bar moves 6 pixels each.
        int left = 0;
        while (left < field->width && luma(field, left, 48) < 128)
            ++left;
        if (k == 0)
            firstLeft = left;
        QVERIFY2(qAbs(left - (firstLeft + int(k) * 6) % 136) <= 1,
                 qPrintable(QStringLiteral("output %1: bar at %2").arg(k).arg(left)));
        if (k > 0)
            QCOMPARE(field->pts - out[k - 1]->pts, fieldStep);
    }
}

void TestVideoFilter::rebuildsWhenTheSizeChanges()
{
    Clip clip = decodeAll(QStringLiteral("interlaced-sizechange.h264"));
    std::vector<QSize> sizes;
    for (const FramePtr &frame : clip.frames)
        sizes.insert(sizes.end(), 2, QSize(frame->width, frame->height));
    QVERIFY(sizes.front() != sizes.back());

    VideoFilter filter;
    filter.setStream(clip.stream);
    const std::vector<FramePtr> out = filterAll(filter, clip.frames);
    std::vector<QSize> shown;
    for (const FramePtr &frame : out)
        shown.push_back(QSize(frame->width, frame->height));
    QCOMPARE(shown, sizes);
}

void TestVideoFilter::seekDropsHeldPictures()
{
    Clip clip = decodeAll(QStringLiteral("interlaced.mp4"));
    QVERIFY(clip.frames.size() > 20);
    VideoFilter filter;
    filter.setStream(clip.stream);
    std::vector<FramePtr> before;
    for (int i = 0; i < 3; ++i)
        before.push_back(std::move(clip.frames[i]));
    QCOMPARE(filterAll(filter, before).size(), size_t(6));
    // Once drained it takes nothing more until flushed.
    QCOMPARE(filter.push(clip.frames[10].get()), AVERROR_EOF);

    filter.flush();
    QCOMPARE(filter.push(clip.frames[10].get()), 0);
    filter.flush(); // bwdif held that picture back: it must not come out after the seek
    FramePtr out(av_frame_alloc());
    QCOMPARE(filter.pull(out.get()), AVERROR(EAGAIN));

    const int64_t target = clip.frames[20]->pts;
    std::vector<FramePtr> after;
    after.push_back(std::move(clip.frames[20]));
    const std::vector<FramePtr> shown = filterAll(filter, after);
    QCOMPARE(shown.size(), size_t(2));
    QCOMPARE(shown.front()->pts, 2 * target);
    QCOMPARE(filter.pull(out.get()), AVERROR_EOF);
}

void TestVideoFilter::toneMapsHdr_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<QSize>("size");
    QTest::newRow("PQ") << "hdr-pq.mkv" << QSize() << QSize(128, 64);
    QTest::newRow("HLG") << "hdr-hlg.mkv" << QSize(1920, 1080) << QSize(128, 64);
    QTest::newRow("PQ shrunk for the screen") << "hdr-pq.mkv" << QSize(64, 40) << QSize(80, 40);
}

void TestVideoFilter::toneMapsHdr()
{
    QFETCH(QString, file);
    QFETCH(QSize, target);
    QFETCH(QSize, size);
    Clip clip = decodeAll(file);
    QVERIFY(!clip.frames.empty());
    clip.frames.resize(1);
    VideoFilter filter;
    filter.setStream(clip.stream);
    filter.setTargetSize(target);
    const std::vector<FramePtr> out = filterAll(filter, clip.frames);
    QCOMPARE(out.size(), size_t(1));
    const AVFrame *sdr = out.front().get();
    QCOMPARE(QSize(sdr->width, sdr->height), size);
    QCOMPARE(sdr->format, int(AV_PIX_FMT_YUV420P));
    QCOMPARE(sdr->colorspace, AVCOL_SPC_BT709);
    QCOMPARE(sdr->color_trc, AVCOL_TRC_BT709);
    QCOMPARE(sdr->color_range, AVCOL_RANGE_MPEG);

    // Mid-grey (26 nits, an eighth of reference white) is shown at an eighth of SDR
    // white (42 % signal at gamma 2.4), and reference white comes near full white
    // instead of a dull grey.
    const double grey = (luma(sdr, sdr->width / 8, sdr->height / 2) - 16) / 219.0;
    const double white = (luma(sdr, sdr->width * 7 / 8, sdr->height / 2) - 16) / 219.0;
    QVERIFY2(grey >= 0.40 && grey <= 0.50, qPrintable(QString::number(grey)));
    QVERIFY2(white >= 0.85, qPrintable(QString::number(white)));
    for (int plane : {1, 2}) // and no tint
        for (int x : {sdr->width / 16, sdr->width * 7 / 16})
            QVERIFY(qAbs(sdr->data[plane][sdr->height / 4 * sdr->linesize[plane] + x] - 128) <= 3);
}

QTEST_GUILESS_MAIN(TestVideoFilter)
#include "tst_videofilter.moc"
