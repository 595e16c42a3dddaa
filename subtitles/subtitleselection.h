#pragma once

#include <QList>
#include <QLocale>
#include <QString>

// A subtitle track as the track menu knows it: an embedded stream (its language tag
// and title from the file) or a file beside the video (its label as the tag).
struct SubtitleChoice
{
    QString language; // "chi", "zh-Hant", "en", "chs"...; empty when unknown
    QString title;    // "简体中文", "English SDH"...; may name the language or script too
    bool isDefault = false;
    bool isForced = false;
    bool isExternal = false;
};

// Which track to show when a file opens, by index into `tracks`, or -1 for none:
//  1. a file beside the video, not forced: the user put it there. One in the
//     reader's language first, then one of unknown language, then any other;
//  2. the track the file marks as default, not forced (of several, the one that
//     suits the reader best);
//  3. a track in the reader's language, not forced (for Chinese, the reader's
//     script before the other; both before none);
//  4. a forced track (only the lines for foreign speech and signs) in the reader's
//     language or of unknown language;
//  5. none.
// Ties go to the earlier track.
int defaultSubtitleTrack(const QList<SubtitleChoice> &tracks, const QLocale &reader = QLocale::system());
