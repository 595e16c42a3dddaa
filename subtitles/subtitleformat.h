#pragma once

#include "subtitles/subtitlelanguage.h"

#include <QByteArray>

// What a renderer needs to know about a subtitle track before its events arrive.
struct SubtitleFormat
{
    enum class Kind { None, Text, Pictures };

    Kind kind = Kind::None;
    // Text tracks: the ASS script header (script info, styles). For tracks in other
    // text formats it is the one FFmpeg's decoder built, which its events assume.
    QByteArray assHeader;
    // Picks the Chinese, Japanese or Korean shapes of the fallback font; unknown:
    // the system language decides.
    SubtitleLanguage language;
};
