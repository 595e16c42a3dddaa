#pragma once

#include "subtitles/subtitlelanguage.h"

#include <QList>
#include <QString>
#include <QStringList>

// A subtitle file lying beside a video under the video's name:
// "film.srt", "film.zh.srt", "film.chs.ass", "film.en.forced.srt".
struct SubtitleFileCandidate
{
    QString path;
    QString label;              // what sits between the video's name and the extension: "", "zh", "en.forced"
    SubtitleLanguage language;  // guessed from the label
    bool forced = false;        // the label says "forced": only the lines for foreign speech or signs
};

// The candidates among `fileNames` (names in the video's folder, without a path)
// for the video at `videoPath`: a bare "film.srt" first (the file most likely made
// for this video), then the labelled ones by label, forced ones last; for one label
// ASS/SSA before SubRip before WebVTT, as the richer format. Names compare without
// regard to case, so "Film.SRT" belongs to "film.mkv" too. Reads nothing from disk.
// Which one to show is for defaultSubtitleTrack to say.
QList<SubtitleFileCandidate> matchSubtitleFiles(const QString &videoPath, const QStringList &fileNames);

// The same for the files actually in the video's folder. Lists a folder: call it
// off the GUI thread.
QList<SubtitleFileCandidate> findSubtitleFiles(const QString &videoPath);
