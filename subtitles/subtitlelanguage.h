#pragma once

#include <QLocale>
#include <QString>

// The language a subtitle track or file is in, as far as its tags or name tell.
// Script matters only for Chinese, where a simplified and a traditional track often
// sit side by side.
struct SubtitleLanguage
{
    QLocale::Language language = QLocale::AnyLanguage;
    QLocale::Script script = QLocale::AnyScript;

    bool isKnown() const { return language != QLocale::AnyLanguage; }

    // How well this suits a reader of `locale`, higher is better: 0 another or an
    // unknown language; 1 Chinese in the other script (still readable, so not 0);
    // 2 Chinese of no stated script; 3 the reader's language (and script).
    int suitability(const QLocale &locale) const;

    // Reads a language out of free text: a stream's language tag ("chi", "zh-Hant",
    // "pt-BR"), the label part of a file name ("chs", "en.forced", "简体"), or a
    // track title ("English SDH", "繁體中文"). The first word that names a language
    // decides; later words may still add the Chinese script.
    static SubtitleLanguage guess(const QString &text);
};
