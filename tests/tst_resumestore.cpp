// Where long files were left: the rules, the store's bounds, and the window's part.

#include "mainwindow/resumestore.h"
#include "mainwindow/zeltorawindow.h"
#include "playback/playbackcontroller.h"
#include "testsupport.h"

#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QSlider>
#include <QtTest>

class ZeltoraWindowTestAccess
{
public:
    static void remember(ZeltoraWindow &w) { w.rememberPlace(); }
    static bool resume(ZeltoraWindow &w) { return w.resumePlace(); }
    static void reset(ZeltoraWindow &w) { w.resetApplication(); }
    static qint64 position(ZeltoraWindow &w) { return w.currentPositionMs(); }
    // The engine opens files off the GUI thread; this waits until it has.
    static bool load(ZeltoraWindow &w, const QString &path)
    {
        w.loadMedia(path);
        return QTest::qWaitFor([&] { return w.player->isOpen(); }, 5000);
    }
};
using Access = ZeltoraWindowTestAccess;

namespace {

constexpr qint64 kMinute = 60 * 1000;

QSettings store() { return QSettings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora")); }

QString scratchFile(const QString &name, const QByteArray &content = "media")
{
    const QString path = testsupport::scratchPath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return QString();
    return path;
}

int storedEntries()
{
    QSettings settings = store();
    settings.beginGroup(ResumeStore::group());
    const int count = settings.beginReadArray(QStringLiteral("files"));
    settings.endArray();
    return count;
}

} // namespace

class TestResumeStore : public QObject
{
    Q_OBJECT

private slots:
    void init() { store().clear(); }

    void rules_data()
    {
        QTest::addColumn<qint64>("duration");
        QTest::addColumn<qint64>("earlier"); // a place kept from an earlier visit; 0: none
        QTest::addColumn<qint64>("leftAt");
        QTest::addColumn<bool>("changedSince");
        QTest::addColumn<qint64>("resumeAt");
        const qint64 film = 120 * kMinute, none = -1;
        QTest::newRow("left in the middle") << film << 0LL << 41 * kMinute + 7000 << false << 41 * kMinute + 7000;
        QTest::newRow("left later on") << film << 30 * kMinute << 40 * kMinute << false << 40 * kMinute;
        QTest::newRow("short file") << 5 * kMinute - 1000 << 0LL << 2 * kMinute << false << none;
        QTest::newRow("exactly five minutes") << 5 * kMinute << 0LL << 2 * kMinute << false << none;
        QTest::newRow("just over five minutes") << 5 * kMinute + 1 << 0LL << 2 * kMinute << false << 2 * kMinute;
        QTest::newRow("barely started") << film << 0LL << 10000LL << false << none;
        QTest::newRow("back to the start, then left") << film << 30 * kMinute << 5000LL << false << none;
        QTest::newRow("left at the last twentieth") << film << 0LL << film / 20 * 19 << false << none;
        QTest::newRow("left just before it") << film << 0LL << film / 20 * 19 - 1 << false << film / 20 * 19 - 1;
        QTest::newRow("played to the end") << film << 30 * kMinute << film << false << none;
        QTest::newRow("file changed since") << film << 0LL << 41 * kMinute << true << none;
    }

    void rules()
    {
        QFETCH(qint64, duration);
        QFETCH(qint64, earlier);
        QFETCH(qint64, leftAt);
        QFETCH(bool, changedSince);
        QFETCH(qint64, resumeAt);
        const QString path = scratchFile(QStringLiteral("film.mkv"));
        QVERIFY(!path.isEmpty());
        ResumeStore resume;
        if (earlier > 0)
            resume.leave(path, earlier, duration);
        resume.leave(path, leftAt, duration);
        if (changedSince)
            QVERIFY(!scratchFile(QStringLiteral("film.mkv"), "another film").isEmpty());
        QCOMPARE(resume.resumePosition(path, duration), resumeAt);
        QCOMPARE(storedEntries(), resumeAt < 0 ? 0 : 1); // a stale place does not linger
    }

    void keepsTheMostRecentFiles()
    {
        ResumeStore resume;
        QStringList paths;
        for (int i = 0; i <= ResumeStore::capacity; ++i) {
            paths << scratchFile(QStringLiteral("many-%1.mp4").arg(i));
            resume.leave(paths.last(), 20 * kMinute + i, 60 * kMinute);
        }
        QCOMPARE(storedEntries(), ResumeStore::capacity);
        QCOMPARE(resume.resumePosition(paths.first(), 60 * kMinute), -1);
        QCOMPARE(resume.resumePosition(paths.at(1), 60 * kMinute), 20 * kMinute + 1);
    }

    // The window: leaving and coming back, its own save beside the group, its reset.
    void windowResumesAndResetForgets()
    {
        const QString path = testsupport::mediaPath(QStringLiteral("long.mp4"));
        {
            ZeltoraWindow w;
            QVERIFY(Access::load(w, path));
            w.seekTo(41 * 1000 + 7);
            QCOMPARE(Access::position(w), 41 * 1000 + 7);
            Access::remember(w);
        } // closing saves the window's own groups and keeps this one
        QCOMPARE(store().childGroups(), QStringList({"MainWindow", "Playlist", "Resume"}));
        QCOMPARE(store().allKeys().filter(QStringLiteral("MainWindow/")).size(), 4);

        ZeltoraWindow w;
        QVERIFY(Access::load(w, path));
        QVERIFY(Access::resume(w));
        QCOMPARE(w.findChild<QLabel *>(QStringLiteral("statusBar"))->text(), QStringLiteral("从 00:00:41 继续播放"));
        QCOMPARE(w.findChild<QSlider *>(QStringLiteral("positionSlider"))->value(), 41 * 1000 + 7);

        testsupport::MessageBoxCloser closer;
        closer.setAnswer(QMessageBox::Yes);
        Access::reset(w);
        QVERIFY(!store().childGroups().contains(ResumeStore::group()));
        QVERIFY(Access::load(w, path));
        QVERIFY(!Access::resume(w));
    }
};

QTEST_MAIN(TestResumeStore)
#include "tst_resumestore.moc"
