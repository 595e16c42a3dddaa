#include "mainwindow/playbackclock.h"

#include <QtTest>

namespace {

// Wall time moved by hand.
class ManualClock : public PlaybackClock
{
public:
    qint64 wall = 1000;

protected:
    qint64 now() const override { return wall; }
};

} // namespace

class TestPlaybackClock : public QObject
{
    Q_OBJECT

private slots:
    void startsPausedAtZero()
    {
        ManualClock c;
        QVERIFY(!c.isRunning());
        QCOMPARE(c.position(), 0);
        c.wall += 500;
        QCOMPARE(c.position(), 0);
    }

    void followsWallTimeWhileRunning()
    {
        ManualClock c;
        c.start();
        c.wall += 40;
        QCOMPARE(c.position(), 40);
        c.wall += 1000;
        QCOMPARE(c.position(), 1040);
    }

    void pauseHoldsAndResumeContinues()
    {
        ManualClock c;
        c.start();
        c.wall += 300;
        c.pause();
        c.wall += 5000; // a long pause counts for nothing
        QCOMPARE(c.position(), 300);
        c.start();
        c.wall += 200;
        QCOMPARE(c.position(), 500);
    }

    void repeatedStartAndPauseAreHarmless()
    {
        ManualClock c;
        c.start();
        c.wall += 100;
        c.start(); // must not re-anchor and lose the 100 ms
        c.wall += 100;
        QCOMPARE(c.position(), 200);
        c.pause();
        c.pause();
        QCOMPARE(c.position(), 200);
    }

    void seekJumpsAndKeepsState()
    {
        ManualClock c;
        c.setPosition(7000);
        QCOMPARE(c.position(), 7000);
        QVERIFY(!c.isRunning());
        c.start();
        c.wall += 50;
        c.setPosition(2000);
        QCOMPARE(c.position(), 2000);
        c.wall += 25;
        QCOMPARE(c.position(), 2025);
        QVERIFY(c.isRunning());
    }

    void realClockAdvances()
    {
        PlaybackClock c;
        c.start();
        QTest::qWait(50);
        QVERIFY(c.position() >= 45);
        QVERIFY(c.wallMs() >= c.position());
    }
};

QTEST_GUILESS_MAIN(TestPlaybackClock)
#include "tst_playbackclock.moc"
