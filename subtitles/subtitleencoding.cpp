#include "subtitles/subtitleencoding.h"

#include <QStringDecoder>

#include <optional>

namespace {

// The everyday characters of each language: the most frequent ones in ordinary
// speech plus the full-width punctuation its subtitles use. Text read in the right
// encoding is made of these to a large part (a third to a half); the same bytes read
// in a wrong East Asian encoding turn into characters picked almost at random, of
// which only a few percent land in such a short list.
const char16_t simplifiedCommon[] =
    u"的一是不了在人有我他这个们中来上大为和国地到以说时要就出也得里后自会家可下而过天去"
    u"能对小多然于心学么之都好看起发当没成只如事把还用第样道想作种开美总从无情己面最女但"
    u"现前些所同日手又行意动方期它头经长儿回位分爱老因很给名法间知世什两次使身者被高已亲"
    u"其进此话常与活正感你她吗吧呢啊哦嗯那谁怎别走快再让真请做叫吃太听快找等错没事"
    u"，。！？、：；“”…";
const char16_t traditionalCommon[] =
    u"的一是不了在人有我他這個們中來上大為和國地到以說時要就出也得裡後自會家可下而過天去"
    u"能對小多然於心學麼之都好看起發當沒成只如事把還用第樣道想作種開美總從無情己面最女但"
    u"現前些所同日手又行意動方期它頭經長兒回位分愛老因很給名法間知世什兩次使身者被高已親"
    u"其進此話常與活正感你她嗎吧呢啊哦嗯那誰怎別走快再讓真請做叫吃太聽快找等錯沒事"
    u"，。！？、：；「」…";
const char16_t japaneseCommon[] = u"。、「」！？…・ー人日本私何今事";
const char16_t koreanCommon[] =
    u"이다는의에가고하을를지기서한도로게사나리아어자시으있들수것그대해인요니일보구정주라부"
    u"전상소여우면없안마내오만거장제과야말까네세죠데저너뭐왜잘좀했할된신러무모알렇겠습았었"
    u"워히님께씨좋같생각때더또엄빠왔갈봐줘은운원음적중진통";

bool inList(char16_t c, const char16_t *list)
{
    for (const char16_t *p = list; *p; ++p) {
        if (*p == c)
            return true;
    }
    return false;
}

enum class Family { Simplified, Traditional, Japanese, Korean };

bool isEveryday(char16_t c, Family family)
{
    switch (family) {
    case Family::Simplified: return inList(c, simplifiedCommon);
    case Family::Traditional: return inList(c, traditionalCommon);
    case Family::Japanese:
        // Hiragana and full-width katakana carry half of any Japanese sentence.
        return (c >= 0x3041 && c <= 0x30ff) || inList(c, japaneseCommon);
    case Family::Korean: return inList(c, koreanCommon);
    }
    return false;
}

struct Reading {
    QString text;
    qsizetype nonAscii = 0;
    qsizetype faults = 0;   // replacement characters: bytes the encoding could not read
    qsizetype everyday = 0;

    double score() const { return nonAscii ? double(everyday) / double(nonAscii) : 0.0; }
    // A stray damaged byte or two in a long file should not send it to the
    // Western fallback; a fault every few hundred characters is no accident.
    bool clean() const { return faults * 200 <= nonAscii; }
};

std::optional<Reading> readAs(const QByteArray &bytes, const char *encoding, Family family)
{
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    Reading reading;
    reading.text = decoder.decode(bytes);
    for (QChar c : std::as_const(reading.text)) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            continue;
        ++reading.nonAscii;
        if (u == 0xfffd)
            ++reading.faults;
        else if (isEveryday(u, family))
            ++reading.everyday;
    }
    return reading;
}

bool validUtf8(const QByteArray &bytes)
{
    // Not stateless: a stateless decoder forgets its errors with its state. The
    // result must be taken, or the lazy decode() never runs.
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// UTF-16 without a byte order mark: text that is mostly ASCII has a zero byte in
// every other place, on the odd side for little endian.
std::optional<QStringDecoder::Encoding> unmarkedUtf16(const QByteArray &bytes)
{
    const qsizetype probe = std::min<qsizetype>(bytes.size(), 4096) & ~qsizetype(1);
    if (probe < 8)
        return std::nullopt;
    qsizetype evenZeros = 0, oddZeros = 0;
    for (qsizetype i = 0; i < probe; i += 2) {
        evenZeros += bytes.at(i) == 0;
        oddZeros += bytes.at(i + 1) == 0;
    }
    const qsizetype units = probe / 2;
    if (oddZeros * 2 > units && evenZeros * 20 < units)
        return QStringDecoder::Utf16LE;
    if (evenZeros * 2 > units && oddZeros * 20 < units)
        return QStringDecoder::Utf16BE;
    return std::nullopt;
}

SubtitleText decodeWith(QStringDecoder::Encoding encoding, const QByteArray &bytes)
{
    // A Unicode decoder drops its own byte order mark.
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    SubtitleText result;
    result.text = decoder.decode(bytes);
    result.encoding = QStringConverter::nameForEncoding(encoding);
    return result;
}

} // namespace

SubtitleText decodeSubtitleText(const QByteArray &bytes)
{
    if (const auto marked = QStringConverter::encodingForData(bytes))
        return decodeWith(*marked, bytes);
    if (const auto utf16 = unmarkedUtf16(bytes))
        return decodeWith(*utf16, bytes);
    if (validUtf8(bytes))
        return decodeWith(QStringDecoder::Utf8, bytes);

    struct Candidate {
        const char *encoding;
        Family family;
    };
    // GB18030 first: it is kept unless another reading is clearly better.
    const Candidate candidates[] = {
        {"GB18030", Family::Simplified},
        {"Big5", Family::Traditional},
        {"Shift_JIS", Family::Japanese},
        {"CP949", Family::Korean},
    };
    constexpr double margin = 0.1;
    std::optional<Reading> best;
    const char *bestEncoding = nullptr;
    for (const Candidate &candidate : candidates) {
        std::optional<Reading> reading = readAs(bytes, candidate.encoding, candidate.family);
        if (!reading || !reading->clean())
            continue;
        if (best && reading->score() <= best->score() + margin)
            continue;
        best = std::move(reading);
        bestEncoding = candidate.encoding;
    }
    // A reading that finds no everyday text at all is a wrong guess, unless it is a
    // faultless GB18030 one: Chinese made only of rarer characters is still Chinese.
    constexpr double minimumScore = 0.05;
    const bool keep = best && (best->score() >= minimumScore
                               || (qstrcmp(bestEncoding, "GB18030") == 0 && best->faults == 0));
    if (keep)
        return {best->text, QByteArray(bestEncoding)};

    QStringDecoder western("windows-1252", QStringDecoder::Flag::Stateless);
    if (western.isValid())
        return {western.decode(bytes), QByteArrayLiteral("windows-1252")};
    return decodeWith(QStringDecoder::Latin1, bytes);
}
