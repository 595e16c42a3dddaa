// Finding subtitle files beside a video, reading their encoding, guessing languages
// and choosing the track shown by default: the pure parts of subtitles.

#include "subtitles/subtitleencoding.h"
#include "subtitles/subtitlefiles.h"
#include "subtitles/subtitlelanguage.h"
#include "subtitles/subtitleselection.h"

#include <QStringEncoder>
#include <QTest>

class TestSubtitleFiles : public QObject
{
    Q_OBJECT

private slots:
    void matching_data();
    void matching();
    void languageGuess_data();
    void languageGuess();
    void encodingDetection_data();
    void encodingDetection();
    void defaultTrack_data();
    void defaultTrack();
};

void TestSubtitleFiles::matching_data()
{
    QTest::addColumn<QString>("video");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("labels, case, strangers")
        << "/films/film.mkv"
        << QStringList{"film.mkv", "filmmaker.srt", "other.srt", "film.zh.txt", "film.en.forced.srt",
                       "FILM.ZH.SRT", "film.chs.ass", "film.srt", ".film.srt"}
        << QStringList{"film.srt", "film.chs.ass", "FILM.ZH.SRT", "film.en.forced.srt"};
    QTest::newRow("dotted video name")
        << "/films/my.film.2019.mkv"
        << QStringList{"my.film.srt", "my.film.2019.en.srt", "my.film.2019.srt"}
        << QStringList{"my.film.2019.srt", "my.film.2019.en.srt"};
    QTest::newRow("richer format first for one label")
        << "/films/film.mp4"
        << QStringList{"film.en.vtt", "film.en.srt", "film.en.ssa", "film.en.ass"}
        << QStringList{"film.en.ass", "film.en.ssa", "film.en.srt", "film.en.vtt"};
}

void TestSubtitleFiles::matching()
{
    QFETCH(QString, video);
    QFETCH(QStringList, names);
    QFETCH(QStringList, expected);
    QStringList got;
    for (const SubtitleFileCandidate &candidate : matchSubtitleFiles(video, names)) {
        QCOMPARE(candidate.path, "/films/" + QFileInfo(candidate.path).fileName());
        got << QFileInfo(candidate.path).fileName();
        QCOMPARE(candidate.forced, candidate.label == "en.forced");
    }
    QCOMPARE(got, expected);
}

void TestSubtitleFiles::languageGuess_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QLocale::Language>("language");
    QTest::addColumn<QLocale::Script>("script");

    QTest::newRow("639-2") << "chi" << QLocale::Chinese << QLocale::AnyScript;
    QTest::newRow("639-1 with script") << "zh-Hant" << QLocale::Chinese << QLocale::TraditionalHanScript;
    QTest::newRow("bilingual, first wins") << "chs&eng" << QLocale::Chinese << QLocale::SimplifiedHanScript;
    QTest::newRow("sc is not Sardinian") << "sc" << QLocale::Chinese << QLocale::SimplifiedHanScript;
    QTest::newRow("kr is not Kanuri") << "kr" << QLocale::Korean << QLocale::AnyScript;
    QTest::newRow("script later") << "chi.traditional" << QLocale::Chinese << QLocale::TraditionalHanScript;
    QTest::newRow("native words") << "繁體中文" << QLocale::Chinese << QLocale::TraditionalHanScript;
    QTest::newRow("native simplified") << "简体&英文" << QLocale::Chinese << QLocale::SimplifiedHanScript;
    QTest::newRow("Japanese native") << "日本語字幕" << QLocale::Japanese << QLocale::AnyScript;
    QTest::newRow("name and tag") << "English SDH" << QLocale::English << QLocale::AnyScript;
    QTest::newRow("label with flags") << "en.forced" << QLocale::English << QLocale::AnyScript;
    QTest::newRow("no 639-3 guesses") << "sdh" << QLocale::AnyLanguage << QLocale::AnyScript;
    QTest::newRow("undetermined") << "und" << QLocale::AnyLanguage << QLocale::AnyScript;
}

void TestSubtitleFiles::languageGuess()
{
    QFETCH(QString, text);
    QFETCH(QLocale::Language, language);
    QFETCH(QLocale::Script, script);
    const SubtitleLanguage guessed = SubtitleLanguage::guess(text);
    QCOMPARE(guessed.language, language);
    QCOMPARE(guessed.script, script);
}

void TestSubtitleFiles::encodingDetection_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("encoding");

    const auto srt = [](const QString &line1, const QString &line2) {
        return QStringLiteral("1\n00:00:01,000 --> 00:00:02,000\n%1\n\n2\n00:00:03,000 --> 00:00:04,000\n%2\n")
            .arg(line1, line2);
    };
    const auto encoded = [](const QString &text, const char *encoding) {
        QStringEncoder encoder(encoding);
        QByteArray bytes = encoder.encode(text);
        return encoder.hasError() ? QByteArray() : bytes;
    };
    const QString simplified = srt("我们走吧，他说这个时候没有人会来。", "你看到了吗？那是我的家。");
    const QString traditional = srt("我們走吧，他說這個時候沒有人會來。", "你看到了嗎？那是我的家。");
    const QString japanese = srt("これは日本語の字幕です。", "どこへ行くの？わからない。");
    const QString korean = srt("이것은 한국어 자막입니다.", "어디에 가는 거야? 나도 몰라.");
    const QString french = srt("Café déjà prêt, à bientôt.", "Où est la clé ? Voilà.");

    QTest::newRow("UTF-8") << simplified << simplified.toUtf8() << QByteArray("UTF-8");
    QTest::newRow("UTF-8 with BOM") << simplified << "\xef\xbb\xbf" + simplified.toUtf8() << QByteArray("UTF-8");
    QTest::newRow("UTF-16LE with BOM") << japanese << encoded(QChar(0xfeff) + japanese, "UTF-16LE")
                                       << QByteArray("UTF-16LE");
    QTest::newRow("UTF-16BE with BOM") << korean << encoded(QChar(0xfeff) + korean, "UTF-16BE")
                                       << QByteArray("UTF-16BE");
    QTest::newRow("UTF-16LE without BOM") << simplified << encoded(simplified, "UTF-16LE") << QByteArray("UTF-16LE");
    QTest::newRow("GB18030") << simplified << encoded(simplified, "GB18030") << QByteArray("GB18030");
    QTest::newRow("Big5") << traditional << encoded(traditional, "Big5") << QByteArray("Big5");
    QTest::newRow("Shift_JIS") << japanese << encoded(japanese, "Shift_JIS") << QByteArray("Shift_JIS");
    QTest::newRow("CP949") << korean << encoded(korean, "CP949") << QByteArray("CP949");
    QTest::newRow("Windows-1252") << french << encoded(french, "windows-1252") << QByteArray("windows-1252");
}

void TestSubtitleFiles::encodingDetection()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, encoding);
    QVERIFY(!bytes.isEmpty());
    const SubtitleText decoded = decodeSubtitleText(bytes);
    QCOMPARE(decoded.encoding, encoding);
    QCOMPARE(decoded.text, text);
}

void TestSubtitleFiles::defaultTrack_data()
{
    QTest::addColumn<QList<SubtitleChoice>>("tracks");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("expected");

    const auto track = [](const QString &language, const QString &title, bool isDefault = false,
                          bool forced = false, bool external = false) {
        return SubtitleChoice{language, title, isDefault, forced, external};
    };
    const QList<SubtitleChoice> mixed = {track("eng", "English"), track("chi", "繁體"), track("chi", "简体"),
                                         track("eng", "Signs", false, true)};
    QTest::newRow("reader's script first") << mixed << "zh_CN" << 2;
    QTest::newRow("Taiwan reads traditional") << mixed << "zh_TW" << 1;
    QTest::newRow("English reader") << mixed << "en_US" << 0;
    QTest::newRow("no match, no default") << mixed << "fr_FR" << -1;
    QTest::newRow("default flag wins")
        << QList<SubtitleChoice>{track("chi", ""), track("eng", "", true)} << "zh_CN" << 1;
    QTest::newRow("forced is not a default")
        << QList<SubtitleChoice>{track("eng", "", true, true), track("chi", "")} << "zh_CN" << 1;
    QTest::newRow("forced in the reader's language as last resort")
        << QList<SubtitleChoice>{track("jpn", ""), track("fre", "", false, true), track("chi", "", false, true)}
        << "zh_CN" << 2;
    QTest::newRow("file beside the video first")
        << QList<SubtitleChoice>{track("chi", "", true), track("en", "", false, false, true),
                                 track("", "", false, false, true)}
        << "zh_CN" << 2;
}

void TestSubtitleFiles::defaultTrack()
{
    QFETCH(QList<SubtitleChoice>, tracks);
    QFETCH(QString, locale);
    QFETCH(int, expected);
    QCOMPARE(defaultSubtitleTrack(tracks, QLocale(locale)), expected);
}

QTEST_GUILESS_MAIN(TestSubtitleFiles)
#include "tst_subtitlefiles.moc"
