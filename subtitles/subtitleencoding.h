#pragma once

#include <QByteArray>
#include <QString>

// The text of a subtitle file, whatever encoding it was saved in.
struct SubtitleText
{
    QString text;
    QByteArray encoding; // the name the bytes were read as: "UTF-8", "UTF-16LE", "GB18030", ...
};

// Works out how a subtitle file's bytes are encoded and decodes them:
//  - a byte order mark says UTF-8, UTF-16 or UTF-32;
//  - UTF-16 without a mark shows as zero bytes in every other place;
//  - bytes that are valid UTF-8 are UTF-8 (plain ASCII included);
//  - otherwise each of the legacy East Asian encodings that reads the bytes without
//    a fault (GB18030, which covers GBK and GB2312; Big5; Shift_JIS; CP949, which
//    covers EUC-KR) is scored by how much of what it reads is the everyday text of
//    its language (the most frequent characters, kana, hangul syllables). Any byte
//    string of Big5 or Shift_JIS also reads as some GB18030 text, so a clean decode
//    alone proves nothing; the frequency check is what tells them apart. GB18030
//    wins unless another scores clearly higher, since it is by far the most common
//    of them for the subtitles this player is made for;
//  - bytes none of them reads cleanly are taken as Windows-1252 (Western European),
//    which reads anything.
// A decoder error in the chosen encoding cannot happen except for the UTF ones,
// where bad sequences become U+FFFD.
SubtitleText decodeSubtitleText(const QByteArray &bytes);
