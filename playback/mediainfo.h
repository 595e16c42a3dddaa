#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

// One audio or subtitle stream of a file, as the track menus show it.
struct MediaTrack
{
    int index = -1;          // the stream's number in the file
    QString language;        // the file's tag ("chi", "eng"); empty when untagged
    QString title;           // the file's name for it; may be empty
    QString codec;           // FFmpeg's short name: "aac", "subrip", "hdmv_pgs_subtitle"
    bool isDefault = false;
    bool isForced = false;
};

// A subtitle file beside the video, or one the user dropped on the window.
struct SubtitleFileTrack
{
    QString path;
    QString label;           // what lies between the video's name and the extension: "zh", "chs"
};

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

    QList<MediaTrack> audioTracks;
    QList<MediaTrack> subtitleTracks;
    QList<SubtitleFileTrack> subtitleFiles;
    // What plays: a stream index, -1 for none. A subtitle file shown instead of a
    // stream is named by `subtitleFile`, and `subtitleTrack` is then -1.
    int audioTrack = -1;
    int subtitleTrack = -1;
    QString subtitleFile;
};
