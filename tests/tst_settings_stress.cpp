// The settings store under abuse: a store file full of garbage must neither stop the
// window nor survive the next save, and a playlist of ten thousand entries, odd names
// among them, must come back whole and in order.

#include "mainwindow/zeltorawindow.h"
#include "playlist/playlistmodel.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>
#include <QSlider>
#include <QtTest>

#include <algorithm>
#include <memory>

class ZeltoraWindowTestAccess
{
public:
    static PlaylistModel *playlist(ZeltoraWindow &w) { return w.playlistModel; }
    static QSlider *volume(ZeltoraWindow &w) { return w.volumeSlider; }

    static QStringList files(ZeltoraWindow &w) { return testsupport::playlistEntries(*w.playlistModel); }
};
using Access = ZeltoraWindowTestAccess;

namespace {

QString storeFile()
{
    return QSettings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora")).fileName();
}

void clearStore()
{
    QSettings settings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora"));
    settings.clear();
    settings.sync();
}

QByteArray noise(int size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(rng.bounded(256));
    return bytes;
}

const QStringList &ourKeys()
{
    static const QStringList keys = {
        QStringLiteral("MainWindow/fullscreen"), QStringLiteral("MainWindow/geometry"),
        QStringLiteral("MainWindow/state"), QStringLiteral("MainWindow/volume"),
        QStringLiteral("Playlist/files"),
    };
    return keys;
}

} // namespace

class TestSettingsStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void corruptStoreStartsWithDefaults_data();
    void corruptStoreStartsWithDefaults();
    void tenThousandEntriesComeBackInOrder();
};

void TestSettingsStress::initTestCase()
{
    // CTest gives every test a private XDG_CONFIG_HOME; never write to a real store.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    QVERIFY2(!config.isEmpty(), "XDG_CONFIG_HOME must point at a private folder");
    QCOMPARE(storeFile(), QDir(config).filePath(QStringLiteral("Zeltora/Zeltora.conf")));
}

void TestSettingsStress::init()
{
    clearStore();
}

void TestSettingsStress::corruptStoreStartsWithDefaults_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("random bytes") << noise(4096, 7);
    QTest::newRow("random bytes with line breaks")
        << noise(4096, 11).replace('\x01', '\n').replace('\x02', '=').replace('\x03', '[');
    QTest::newRow("zeros") << QByteArray(1024, '\0');
    QTest::newRow("cut off inside a value")
        << QByteArrayLiteral("[MainWindow]\ngeometry=@ByteArray(\\x1\\xd9\\xd0\\xcb\\0\\x3\\0\\0\\0\\0\\0\\0");
    QTest::newRow("invalid UTF-8 and broken sections")
        << QByteArrayLiteral("[Main\xff\xfeWindow\nvol\xc3\x28me=\xe2\x82\n[Playlist\nfiles=\"/a, \"\"\n[]\n=\n");
    QTest::newRow("wrong types")
        << QByteArrayLiteral("[MainWindow]\ngeometry=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x1)\nstate=@Rect(1 2 3)\n"
                             "volume=@Variant(\\xff\\xff)\n[Playlist]\nfiles=@Variant(\\0\\0\\0\\xff\\0)\n");
    QTest::newRow("one line of 4 MiB") << QByteArray(4 << 20, 'x');
}

void TestSettingsStress::corruptStoreStartsWithDefaults()
{
    QFETCH(QByteArray, content);
    const QString path = storeFile();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(content), content.size());
    }

    const QString media = testsupport::mediaPath(QStringLiteral("tiny.mkv"));
    testsupport::MessageBoxCloser boxes;
    {
        QElapsedTimer clock;
        clock.start();
        ZeltoraWindow window;
        QVERIFY2(clock.elapsed() < 10000, "start-up on a damaged store took too long");
        window.show();
        QCoreApplication::processEvents();

        QCOMPARE(Access::playlist(window)->count(), 0);
        const int volume = Access::volume(window)->value();
        QVERIFY(volume >= 0 && volume <= 100);
        QVERIFY(boxes.boxes().isEmpty());

        Access::volume(window)->setValue(64);
        Access::playlist(window)->addFile(media);
    } // the window saves as it goes

    // The next save leaves a store that reads back cleanly and holds only what the
    // window wrote: no garbage carried over.
    QSettings settings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora"));
    QCOMPARE(settings.status(), QSettings::NoError);
    QStringList keys = settings.allKeys();
    keys.sort();
    QCOMPARE(keys, ourKeys());
    QCOMPARE(settings.value(QStringLiteral("MainWindow/volume")).toInt(), 64);
    QCOMPARE(settings.value(QStringLiteral("Playlist/files")).toStringList(), QStringList{media});

    // And the window after that starts from it as from any healthy store.
    ZeltoraWindow again;
    QCOMPARE(Access::volume(again)->value(), 64);
    QCOMPARE(Access::files(again), QStringList{media});
}

void TestSettingsStress::tenThousandEntriesComeBackInOrder()
{
    // One small file under ten thousand names. Names that mean something to the
    // store's text format are mixed in.
    const QString target = testsupport::mediaPath(QStringLiteral("tiny.mkv"));
    QDir dir(testsupport::scratchPath(QStringLiteral("many")));
    QVERIFY(dir.removeRecursively());
    QVERIFY(dir.mkpath(QStringLiteral(".")));

    const QStringList awkward = {
        QStringLiteral("comma, and space.mkv"), QStringLiteral("semi;colon.mkv"),
        QStringLiteral("quote\"d.mkv"), QStringLiteral("back\\slash.mkv"), QStringLiteral("hash#.mkv"),
        QStringLiteral("eq=uals.mkv"), QStringLiteral("[bracket].mkv"), QStringLiteral(" leading space.mkv"),
        QStringLiteral("trailing space .mkv"), QStringLiteral("line\nbreak.mkv"), QStringLiteral("tab\t.mkv"),
        QStringLiteral("@ByteArray(x).mkv"), QStringLiteral("@Variant(x).mkv"), QStringLiteral("中文.mkv"),
        QStringLiteral("percent%20.mkv"), QStringLiteral("émoji 🎬.mkv"),
    };
    QStringList names;
    for (int i = 0; i < 10000 - awkward.size() - 2; ++i)
        names.append(QStringLiteral("entry-%1.mkv").arg(i, 5, 10, QLatin1Char('0')));
    names += awkward;
    // A fixed shuffle: the order is the user's, not the file system's or the alphabet's.
    std::shuffle(names.begin(), names.end(), QRandomGenerator(42));
    for (const QString &name : std::as_const(names))
        QVERIFY2(QFile::link(target, dir.filePath(name)), qPrintable(name));

    QStringList entries;
    for (const QString &name : std::as_const(names))
        entries.append(dir.filePath(name));
    // Duplicates are the user's business too.
    entries.append(entries.at(17));
    entries.append(entries.at(9000));
    QCOMPARE(entries.size(), 10000);

    {
        ZeltoraWindow window;
        QElapsedTimer clock;
        clock.start();
        for (const QString &entry : std::as_const(entries))
            Access::playlist(window)->addFile(entry);
        qInfo("added 10000 entries in %lld ms", clock.elapsed());
    }

    QElapsedTimer clock;
    clock.start();
    ZeltoraWindow restored;
    const qint64 restoreMs = clock.elapsed();
    qInfo("restored 10000 entries in %lld ms", restoreMs);
    QVERIFY2(restoreMs < 20000, "restoring a long playlist took too long");
    const QStringList back = Access::files(restored);
    QCOMPARE(back.size(), entries.size());
    for (int i = 0; i < entries.size(); ++i)
        QVERIFY2(back.at(i) == entries.at(i), qPrintable(QStringLiteral("entry %1: %2").arg(i).arg(back.at(i))));
}

QTEST_MAIN(TestSettingsStress)
#include "tst_settings_stress.moc"
