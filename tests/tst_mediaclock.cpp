// The media clock: wall time when nothing else leads, the sound being heard when it
// plays, and never a step backwards within one play.

#include "playback/mediaclock.h"

#include <QtTest>

#include <cmath>

namespace {

// A clock whose monotonic time is moved by hand, in milliseconds.
struct ManualClock
{
    qint64 wallUs = 1000000;
    MediaClock clock{[this] { return wallUs; }};

    void advance(double ms) { wallUs += qint64(ms * 1000); }
    double at() const { return clock.position(); }
};

constexpr double tolerance = 0.01;

} // namespace

class TestMediaClock : public QObject
{
    Q_OBJECT

private slots:
    void wallClockStartsHeldAndPausedAtZero()
    {
        ManualClock c;
        QVERIFY(c.clock.isPaused());
        QVERIFY(c.clock.isHeld());
        c.advance(500);
        QCOMPARE(c.at(), 0.0);
        c.clock.setPaused(false);
        c.advance(500);
        QCOMPARE(c.at(), 0.0); // held until the first picture releases it
        c.clock.release();
        c.advance(40);
        QCOMPARE(c.at(), 40.0);
    }

    void pauseHoldsResumeContinuesAndRepeatsAreHarmless()
    {
        ManualClock c;
        c.clock.setPaused(false);
        c.clock.release();
        c.advance(300);
        c.clock.setPaused(true);
        c.clock.setPaused(true);
        c.advance(5000); // a long pause counts for nothing
        QCOMPARE(c.at(), 300.0);
        c.clock.setPaused(false);
        c.advance(100);
        c.clock.setPaused(false); // must not re-anchor and lose the 100 ms
        c.clock.release();
        c.advance(100);
        QCOMPARE(c.at(), 500.0);
    }

    void resetJumpsAndKeepsPauseState()
    {
        ManualClock c;
        c.clock.reset(7000, MediaClock::Master::Wall);
        QCOMPARE(c.at(), 7000.0);
        QVERIFY(c.clock.isPaused());
        c.clock.setPaused(false);
        c.clock.release();
        c.advance(50);
        c.clock.reset(2000, MediaClock::Master::Wall);
        QCOMPARE(c.at(), 2000.0);
        c.clock.release();
        c.advance(25);
        QCOMPARE(c.at(), 2025.0);
    }

    // Reports of the sound being heard lead the clock: the first one sets it, small
    // differences are worked off gently, and it never steps back.
    void audioLeads_data()
    {
        QTest::addColumn<double>("offset"); // heard minus clock before the report, ms
        QTest::addColumn<bool>("jumps");
        QTest::newRow("ahead a little") << 20.0 << false;
        QTest::newRow("behind a little") << -20.0 << false;
        QTest::newRow("far ahead") << 400.0 << true;
        QTest::newRow("far behind") << -400.0 << false;
    }
    void audioLeads()
    {
        QFETCH(double, offset);
        QFETCH(bool, jumps);
        ManualClock c;
        c.clock.reset(1000, MediaClock::Master::Audio, 7);
        c.clock.setPaused(false);
        c.advance(100);
        QCOMPARE(c.at(), 1000.0); // held until the sound is heard
        double heard = 1000;
        c.clock.syncToAudio(heard, 7);
        QCOMPARE(c.at(), 1000.0);

        // Steady sound: the clock moves with it.
        for (int i = 0; i < 50; ++i) {
            c.advance(10);
            heard += 10;
            c.clock.syncToAudio(heard, 7);
        }
        QVERIFY(std::abs(c.at() - heard) < tolerance);

        const double before = c.at();
        heard += offset;
        c.clock.syncToAudio(heard, 7);
        const double after = c.at();
        QVERIFY2(after >= before, "the clock stepped backwards");
        if (jumps)
            QCOMPARE(after, heard);
        else
            QVERIFY(std::abs(after - before) < tolerance);

        // Whatever the offset, the clock has caught up with the sound two seconds
        // later, and without ever going backwards on the way.
        double last = c.at();
        for (int i = 0; i < 200; ++i) {
            c.advance(10);
            heard += 10;
            c.clock.syncToAudio(heard, 7);
            QVERIFY(c.at() >= last);
            last = c.at();
        }
        QVERIFY2(std::abs(c.at() - heard) < 2.0,
                 qPrintable(QStringLiteral("clock %1, heard %2").arg(c.at()).arg(heard)));
    }

    // The output starves: nothing is heard, so time stands still until it plays again.
    void holdsWhileTheOutputStarves()
    {
        ManualClock c;
        c.clock.reset(0, MediaClock::Master::Audio, 1);
        c.clock.setPaused(false);
        double heard = 0;
        for (int i = 0; i < 20; ++i) {
            c.clock.syncToAudio(heard, 1);
            c.advance(10);
            heard += 10;
        }
        for (int i = 0; i < 30; ++i) { // 300 ms without progress
            c.clock.syncToAudio(heard, 1);
            c.advance(10);
        }
        QVERIFY2(c.at() - heard < 80, qPrintable(QStringLiteral("clock ran %1 ms ahead").arg(c.at() - heard)));
    }

    // The sound ends (or its output fails): time goes on from where it stood.
    void handsOverToWallTimeWithoutAJump()
    {
        ManualClock c;
        c.clock.reset(0, MediaClock::Master::Audio, 3);
        c.clock.setPaused(false);
        c.clock.syncToAudio(500, 3);
        c.advance(20);
        const double before = c.at();
        c.clock.useWall(2); // about an earlier play: ignored
        QCOMPARE(c.clock.master(), MediaClock::Master::Audio);
        c.clock.useWall(3);
        QCOMPARE(c.clock.master(), MediaClock::Master::Wall);
        QCOMPARE(c.at(), before);
        c.advance(100);
        QVERIFY(std::abs(c.at() - before - 100) < tolerance);
        c.clock.syncToAudio(5000, 3); // the wall leads now
        QVERIFY(std::abs(c.at() - before - 100) < tolerance);
    }

    void ignoresReportsOfAnEarlierPlayAndWhilePaused()
    {
        ManualClock c;
        c.clock.reset(2000, MediaClock::Master::Audio, 5);
        c.clock.setPaused(false);
        c.clock.syncToAudio(900, 4); // from before the seek
        QVERIFY(c.clock.isHeld());
        QCOMPARE(c.at(), 2000.0);
        c.clock.setPaused(true);
        c.clock.syncToAudio(2100, 5);
        QVERIFY(c.clock.isHeld());
    }

    void realClockAdvances()
    {
        MediaClock c;
        c.reset(0, MediaClock::Master::Wall);
        c.setPaused(false);
        c.release();
        QTest::qWait(50);
        QVERIFY(c.position() >= 45);
    }
};

QTEST_GUILESS_MAIN(TestMediaClock)
#include "tst_mediaclock.moc"
