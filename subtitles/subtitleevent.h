#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>

#include <limits>

// One subtitle as decoded: when it shows, and either a line of text for libass or
// the pictures of a picture-based track. Times are in ms on the player's timeline,
// the one the video frames are timed on.
struct SubtitleEvent
{
    // The end of an event whose stream does not say when it ends: it lasts until
    // the next event of its track begins (how Blu-ray subtitles work).
    static constexpr qint64 OpenEnd = std::numeric_limits<qint64>::max();

    struct Picture {
        QImage image;   // Format_ARGB32_Premultiplied
        QPoint position; // top left, in canvas coordinates
    };

    qint64 startMs = 0;
    qint64 endMs = OpenEnd;

    // A text event, in the field order libass takes from Matroska:
    // "ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect,Text".
    QByteArray assLine;

    // A picture event. One with no pictures and no text clears the screen from its
    // start on: picture tracks end a subtitle that way.
    QList<Picture> pictures;
    // The picture coordinate space (the stream's own frame size); empty when the
    // stream does not say, and then the video's size is meant.
    QSize canvas;

    bool isText() const { return !assLine.isEmpty(); }
};
