#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// What the engine found in a file it opened: handed from the demuxer thread to the
// controller by value, read by the window.
struct MediaInfo
{
    QString path;
    qint64 durationMs = 0;   // 0 when the file does not say
    bool hasVideo = false;   // a moving picture (cover art does not count)
    bool hasAudio = false;
    double frameRate = 0.0;  // of the picture; 0 when unknown
    QSize pictureSize;       // as shown: pixel shape applied
    QImage cover;            // the album cover of a music file, null without one
    bool seekable = true;
    QString title;
    QString artist;
    QString album;
};
