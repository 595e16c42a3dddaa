#pragma once

#include "subtitles/subtitleevent.h"
#include "subtitles/subtitleformat.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A subtitle file read whole: external files are small, and holding all their
// events makes seeking in them free.
struct SubtitleFile
{
    SubtitleFormat format;
    QList<SubtitleEvent> events;  // in file order, times as the file says (0 = start of the video)
    QByteArray encoding;          // what the text was read as
    QString error;                // for the user, when the file could not be read in full; the
                                  // events still hold whatever could be
    bool isUsable() const { return format.kind != SubtitleFormat::Kind::None && !events.isEmpty(); }
};

// Reads a SubRip, ASS/SSA or WebVTT file (by content, whatever its extension) in any
// encoding decodeSubtitleText recognises. The text is converted to UTF-8 once and
// handed to FFmpeg's demuxer and decoder from memory; nothing else is opened.
// Reads the disk: call it off the GUI thread.
SubtitleFile loadSubtitleFile(const QString &path);

// The same for a file's contents; `name` is only for messages.
SubtitleFile parseSubtitleFile(const QByteArray &bytes, const QString &name);
