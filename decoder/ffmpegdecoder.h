#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include "decoder/ffmpegsupport.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// Opens one media file at a time and turns its best video stream, one frame per
// request, into QImage pictures. It keeps no clock: the owner sets the pace by
// posting decodeVideoFrame requests.
class FFmpegDecoder : public QObject
{
    Q_OBJECT

public:
    explicit FFmpegDecoder(QObject *parent = nullptr);
    ~FFmpegDecoder() override;

    bool open(const QString &path);
    void close();

    bool isOpen() const;
    QString currentFile() const;
    qint64 duration() const;
    qint64 position() const;
    double frameRate() const;
    bool hasVideo() const;
    bool hasAudio() const;
    // A picture that moves: a video stream that is not just a cover image.
    bool hasMovingPicture() const;
    ffmpeg::MediaTags tags() const;
    // How long the last delivered frame is meant to stay on screen, in ms; 0
    // before the first frame or when the stream does not say.
    qint64 frameDuration() const;

signals:
    void errorOccurred(const QString &message);
    void audioFormatChanged();
    void videoFrameReady(const QImage &frame);
    void frameReady(const QImage &frame);
    void playbackFinished();

public slots:
    bool seek(qint64 pos);
    void decodeVideoFrame();

private:
    bool openStream(int mediaType, int &streamIndex, AVCodecContext *&codecContext);
    QImage decodeNextFrame();
    void startDraining();
    void finishPlayback();
    void noteFrameTiming(const AVFrame *decoded);

    AVFormatContext *formatContext = nullptr;
    AVCodecContext *videoCodecContext = nullptr;
    AVCodecContext *audioCodecContext = nullptr;
    int videoStreamIndex = -1;
    int audioStreamIndex = -1;
    AVFrame *frame = nullptr;
    SwsContext *swsContext = nullptr;
    bool opened = false;
    QString currentPath;

    AVPacket *packet = nullptr;   // reused for every read, like frame
    bool draining = false;        // end of input reached, the decoder is handing out what it holds
    bool finished = false;        // playbackFinished has been emitted for this run through the file
    bool hasPosition = false;
    qint64 lastPosition = 0;      // ms, presentation time of the last delivered frame
    qint64 lastFrameDuration = 0; // ms
    ffmpeg::ImagePool imagePool;  // memory of frame images, recycled once the images are gone
};
