#include "subtitles/subtitlelanguage.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

struct Tag {
    const char *word;
    QLocale::Language language;
    QLocale::Script script;
};

// Words release groups and subtitle sites put in file names that are not (or not
// only) ISO 639 codes. They win over the codes they collide with: in a subtitle's
// name "sc" is simplified Chinese, not Sardinian, and "kr" Korean, not Kanuri.
constexpr Tag namingTags[] = {
    {"chs", QLocale::Chinese, QLocale::SimplifiedHanScript},
    {"sc", QLocale::Chinese, QLocale::SimplifiedHanScript},
    {"zhs", QLocale::Chinese, QLocale::SimplifiedHanScript},
    {"gb", QLocale::Chinese, QLocale::SimplifiedHanScript},
    {"cn", QLocale::Chinese, QLocale::SimplifiedHanScript},
    {"cht", QLocale::Chinese, QLocale::TraditionalHanScript},
    {"tc", QLocale::Chinese, QLocale::TraditionalHanScript},
    {"zht", QLocale::Chinese, QLocale::TraditionalHanScript},
    {"big5", QLocale::Chinese, QLocale::TraditionalHanScript},
    {"tw", QLocale::Chinese, QLocale::TraditionalHanScript},
    {"hk", QLocale::Chinese, QLocale::TraditionalHanScript},
    {"jp", QLocale::Japanese, QLocale::AnyScript},
    {"kr", QLocale::Korean, QLocale::AnyScript},
};

// Words that only say which Chinese script follows or precedes.
constexpr Tag scriptTags[] = {
    {"hans", QLocale::AnyLanguage, QLocale::SimplifiedHanScript},
    {"simplified", QLocale::AnyLanguage, QLocale::SimplifiedHanScript},
    {"sg", QLocale::AnyLanguage, QLocale::SimplifiedHanScript},
    {"hant", QLocale::AnyLanguage, QLocale::TraditionalHanScript},
    {"traditional", QLocale::AnyLanguage, QLocale::TraditionalHanScript},
    {"mo", QLocale::AnyLanguage, QLocale::TraditionalHanScript},
};

// Words in the languages themselves, found anywhere inside a word of CJK text
// ("简体中文", "中英双语", "日本語字幕"); the earliest in the word decides.
struct NativeTag {
    const char16_t *text;
    QLocale::Language language;
    QLocale::Script script;
};
constexpr NativeTag nativeTags[] = {
    {u"简", QLocale::Chinese, QLocale::SimplifiedHanScript},
    {u"繁", QLocale::Chinese, QLocale::TraditionalHanScript},
    {u"中", QLocale::Chinese, QLocale::AnyScript},
    {u"汉", QLocale::Chinese, QLocale::SimplifiedHanScript},
    {u"漢", QLocale::Chinese, QLocale::TraditionalHanScript},
    {u"国语", QLocale::Chinese, QLocale::SimplifiedHanScript},
    {u"國語", QLocale::Chinese, QLocale::TraditionalHanScript},
    {u"日本", QLocale::Japanese, QLocale::AnyScript},
    {u"日文", QLocale::Japanese, QLocale::AnyScript},
    {u"日语", QLocale::Japanese, QLocale::AnyScript},
    {u"日語", QLocale::Japanese, QLocale::AnyScript},
    {u"한국", QLocale::Korean, QLocale::AnyScript},
    {u"韩", QLocale::Korean, QLocale::AnyScript},
    {u"韓", QLocale::Korean, QLocale::AnyScript},
    {u"英", QLocale::English, QLocale::AnyScript},
};

bool isAsciiWord(const QString &word)
{
    for (QChar c : word) {
        if (c.unicode() > 0x7f)
            return false;
    }
    return true;
}

QLocale::Language languageNamed(const QString &word)
{
    for (int value = QLocale::C + 1; value <= QLocale::LastLanguage; ++value) {
        const auto language = static_cast<QLocale::Language>(value);
        if (QLocale::languageToString(language).compare(word, Qt::CaseInsensitive) == 0)
            return language;
    }
    return QLocale::AnyLanguage;
}

// Language and script one word stands for; either may be "any".
Tag readWord(const QString &word)
{
    Tag none{nullptr, QLocale::AnyLanguage, QLocale::AnyScript};
    if (!isAsciiWord(word)) {
        qsizetype best = word.size();
        Tag found = none;
        for (const NativeTag &tag : nativeTags) {
            const qsizetype at = word.indexOf(QString::fromUtf16(tag.text));
            if (at >= 0 && at < best) {
                best = at;
                found = {nullptr, tag.language, tag.script};
            }
        }
        return found;
    }
    const QString lower = word.toLower();
    for (const Tag &tag : namingTags) {
        if (lower == QLatin1String(tag.word))
            return tag;
    }
    for (const Tag &tag : scriptTags) {
        if (lower == QLatin1String(tag.word))
            return tag;
    }
    if (lower.size() == 2 || lower.size() == 3) {
        // ISO 639-3 is left out on purpose: its thousands of three-letter codes
        // turn ordinary tags ("sdh", "eng" aside) into obscure languages.
        const QLocale::Language language = QLocale::codeToLanguage(
            lower, QLocale::ISO639Part1 | QLocale::ISO639Part2B | QLocale::ISO639Part2T);
        return {nullptr, language, QLocale::AnyScript};
    }
    if (lower.size() > 3)
        return {nullptr, languageNamed(lower), QLocale::AnyScript};
    return none;
}

} // namespace

int SubtitleLanguage::suitability(const QLocale &locale) const
{
    if (!isKnown() || language != locale.language())
        return 0;
    if (language != QLocale::Chinese)
        return 3;
    // A bare "zh" locale means simplified characters.
    const QLocale::Script wanted = locale.script() == QLocale::TraditionalHanScript
        ? QLocale::TraditionalHanScript : QLocale::SimplifiedHanScript;
    if (script == QLocale::AnyScript)
        return 2;
    return script == wanted ? 3 : 1;
}

SubtitleLanguage SubtitleLanguage::guess(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s._\\-&+,;:/\\\\()\\[\\]{}]+"));
    SubtitleLanguage result;
    QLocale::Script scriptSeen = QLocale::AnyScript;
    const QStringList words = text.split(separators, Qt::SkipEmptyParts);
    for (const QString &word : words) {
        const Tag tag = readWord(word);
        if (scriptSeen == QLocale::AnyScript)
            scriptSeen = tag.script;
        if (!result.isKnown() && tag.language != QLocale::AnyLanguage)
            result.language = tag.language;
        // Only the first language counts ("chs&eng" is Chinese first), but a
        // later word may still say which Chinese it is ("chi.traditional").
        if (result.isKnown() && scriptSeen != QLocale::AnyScript)
            break;
    }
    if (result.language == QLocale::Chinese)
        result.script = scriptSeen;
    return result;
}
