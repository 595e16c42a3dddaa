// Subtitles and track choice through the whole engine: real files through the demuxer
// and the video worker, the frames handed to the window looked at for the lines.

#include "playback/playbackcontroller.h"
#include "support/fakeaudiosink.h"
#include "support/playbackrig.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using testsupport::mediaPath;

namespace {

using testsupport::Shown;

struct Rig : testsupport::PlaybackRig
{
    bool load(const QString &name, QSize area = QSize(320, 240), bool cover = false)
    {
        return PlaybackRig::load(name, area, cover);
    }

    // The test files mark no track default, and the reader's language (the test
    // machine's) may not be theirs: the first track is chosen here.
    bool loadShowingFirstTrack(const QString &name, QSize area = QSize(320, 240), bool cover = false)
    {
        if (!load(name, area, cover) || player->mediaInfo().subtitleTracks.isEmpty())
            return false;
        if (player->mediaInfo().subtitleTrack < 0)
            player->setSubtitleTrack(player->mediaInfo().subtitleTracks.first().index);
        return player->mediaInfo().subtitleTrack >= 0;
    }

    // The next picture shown once `change` has run (a seek or a track choice, paused).
    QImage nextPicture(const std::function<void()> &change)
    {
        shown.clear();
        change();
        if (!QTest::qWaitFor([&] { return !shown.empty(); }, 10000))
            return QImage();
        return shown.back().image;
    }

    QImage pictureAt(qint64 ms)
    {
        return nextPicture([&] { player->seek(ms); });
    }
};

// Pixels of subtitle text (white or yellow, the test files' colours) in rows
// [top, bottom) of a black picture.
int textPixels(const QImage &image, int top, int bottom)
{
    int count = 0;
    for (int y = qMax(0, top); y < qMin(bottom, image.height()); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 150 && qGreen(p) > 150)
                ++count;
        }
    }
    return count;
}

int lowerTextPixels(const QImage &image)
{
    return textPixels(image, image.height() / 2, image.height());
}

// The tone heard in a stretch of samples, by counting zero crossings.
double toneHz(const std::vector<float> &samples, double sampleRate)
{
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        crossings += (samples[i - 1] < 0.0f) != (samples[i] < 0.0f);
    return samples.empty() ? 0.0 : crossings / 2.0 / (double(samples.size()) / sampleRate);
}

std::vector<float> heardBetween(const FakeAudioSink::Heard &heard, double fromMs, double toMs)
{
    std::vector<float> samples;
    for (size_t i = 0; i < heard.samples.size(); ++i) {
        if (heard.heardAtMs[i] >= fromMs && heard.heardAtMs[i] < toMs)
            samples.push_back(heard.samples[i]);
    }
    return samples;
}

} // namespace

class TestPlaybackSubtitles : public QObject
{
    Q_OBJECT

private slots:
    // The line (1.0-2.0 s) is on the picture at its time and gone after it, whichever
    // way the place was reached, in each embedded text format.
    void lineShownAtItsTime_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("SubRip in Matroska") << "subs-srt.mkv";
        QTest::newRow("ASS in Matroska") << "subs-ass.mkv";
        QTest::newRow("WebVTT in Matroska") << "subs-webvtt.mkv";
        QTest::newRow("mov_text in MP4") << "subs-movtext.mp4";
    }
    void lineShownAtItsTime()
    {
        QFETCH(QString, file);
        Rig rig;
        QVERIFY(rig.loadShowingFirstTrack(file));
        QCOMPARE(lowerTextPixels(rig.pictureAt(500)), 0);
        QVERIFY(lowerTextPixels(rig.pictureAt(1500)) > 30);
        QCOMPARE(lowerTextPixels(rig.pictureAt(2500)), 0);
        // Back into the line from after it: it shows again.
        QVERIFY(lowerTextPixels(rig.pictureAt(1300)) > 30);
    }

    // Playing, each frame carries the line exactly while the line lasts.
    void lineFollowsPlayback()
    {
        Rig rig;
        QVERIFY(rig.loadShowingFirstTrack("subs-srt.mkv"));
        rig.player->play();
        QTRY_VERIFY_WITH_TIMEOUT(rig.player->position() >= 2600, 15000);
        rig.player->pause();
        int during = 0;
        for (const Shown &frame : rig.shown) {
            const int text = lowerTextPixels(frame.image);
            if (frame.ptsMs >= 1000 && frame.ptsMs < 2000) {
                QVERIFY2(text > 30, qPrintable(QString::number(frame.ptsMs)));
                ++during;
            } else {
                QVERIFY2(text == 0, qPrintable(QString::number(frame.ptsMs)));
            }
        }
        QVERIFY(during >= 5);
    }

    // Full screen crops the picture's top and bottom; the line stays in what is seen.
    void coverModeKeepsLineInSight()
    {
        Rig rig;
        QVERIFY(rig.loadShowingFirstTrack("subs-srt.mkv", QSize(320, 200), true));
        const QImage picture = rig.pictureAt(1500);
        QCOMPARE(picture.size(), QSize(320, 240));
        // Rows 20..220 are on screen.
        QVERIFY(textPixels(picture, 120, 220) > 20);
        QCOMPARE(textPixels(picture, 220, 240), 0);
    }

    // Files beside the video are found; a GB18030 file shows the very same line as
    // its UTF-8 twin; a broken one is reported once and shows nothing.
    void filesBesideTheVideo()
    {
        Rig rig;
        QSignalSpy errors(rig.player.get(), &PlaybackController::subtitleError);
        QVERIFY(rig.load("beside-long/movie.mkv"));
        const MediaInfo &info = rig.player->mediaInfo();
        QCOMPARE(info.subtitleFiles.size(), 2);
        QVERIFY(!info.subtitleFile.isEmpty());
        const QString gb = mediaPath("beside-long/movie.chs.srt");
        const QString utf8 = mediaPath("beside-long/movie.utf8.srt");
        QVERIFY(info.subtitleFiles.first().path == gb || info.subtitleFiles.last().path == gb);

        rig.pictureAt(100);
        const QImage fromGb = rig.nextPicture([&] { rig.player->setSubtitleFile(gb); rig.player->seek(1500); });
        const QImage fromUtf8 = rig.nextPicture([&] { rig.player->setSubtitleFile(utf8); });
        QVERIFY(lowerTextPixels(fromGb) > 30);
        QCOMPARE(fromGb, fromUtf8);
        QCOMPARE(errors.count(), 0);

        const QImage broken = rig.nextPicture([&] {
            QVERIFY(rig.player->addSubtitleFile(mediaPath("beside/film.broken.srt")));
        });
        QCOMPARE(lowerTextPixels(broken), 0);
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(rig.player->mediaInfo().subtitleFiles.size(), 3);
    }

    // Another subtitle track, or none, shows at once at the same place.
    void switchingSubtitleTracks()
    {
        Rig rig;
        QVERIFY(rig.load("tracks.mkv"));
        const MediaInfo info = rig.player->mediaInfo();
        QCOMPARE(info.subtitleTracks.size(), 2);
        QCOMPARE(info.subtitleTrack, info.subtitleTracks.at(0).index); // the file's default
        const QImage chinese = rig.pictureAt(1500);
        QVERIFY(lowerTextPixels(chinese) > 30);

        const QImage english = rig.nextPicture([&] { rig.player->setSubtitleTrack(info.subtitleTracks.at(1).index); });
        QVERIFY(lowerTextPixels(english) > 30);
        QVERIFY(english != chinese);
        QVERIFY(qAbs(rig.player->position() - 1500) < 50);

        const QImage off = rig.nextPicture([&] { rig.player->setSubtitleTrack(-1); });
        QCOMPARE(lowerTextPixels(off), 0);
        const QImage again = rig.nextPicture([&] { rig.player->setSubtitleTrack(info.subtitleTracks.at(0).index); });
        QCOMPARE(again, chinese);
    }

    // Another sound track while playing: playback goes on from where it was, in the
    // new track's tone.
    void switchingAudioKeepsPlace()
    {
        Rig rig;
        QVERIFY(rig.load("tracks.mkv"));
        const MediaInfo info = rig.player->mediaInfo();
        QCOMPARE(info.audioTracks.size(), 2);
        QCOMPARE(info.audioTrack, info.audioTracks.at(0).index);
        rig.player->play();
        QTRY_VERIFY_WITH_TIMEOUT(rig.player->position() >= 1500, 15000);
        const qint64 before = rig.player->position();
        const double switchedAt = FakeAudioSink::nowMs();
        rig.shown.clear();
        rig.player->setAudioTrack(info.audioTracks.at(1).index);
        QCOMPARE(rig.player->mediaInfo().audioTrack, info.audioTracks.at(1).index);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.shown.empty(), 10000);
        QVERIFY2(rig.shown.front().ptsMs >= before - 100, qPrintable(QString::number(rig.shown.front().ptsMs)));
        // The clock follows the sound: once it has moved on, the new track is heard.
        QTRY_VERIFY_WITH_TIMEOUT(rig.player->position() >= before + 800, 15000);
        const double now = FakeAudioSink::nowMs();
        const qint64 after = rig.player->position();
        QVERIFY2(after <= before + qint64(now - switchedAt) + 100,
                 qPrintable(QStringLiteral("%1 -> %2 in %3 ms").arg(before).arg(after).arg(now - switchedAt)));

        const FakeAudioSink::Heard heard = rig.sink->heard();
        const double rate = testsupport::fakeOutputFormat().sampleRate();
        const double old = toneHz(heardBetween(heard, switchedAt - 400, switchedAt - 100), rate);
        const double fresh = toneHz(heardBetween(heard, now - 450, now - 50), rate);
        QVERIFY2(qAbs(old - 440) < 40, qPrintable(QString::number(old)));
        QVERIFY2(qAbs(fresh - 1000) < 60, qPrintable(QString::number(fresh)));
    }
};

QTEST_MAIN(TestPlaybackSubtitles)
#include "tst_playbacksubtitles.moc"
