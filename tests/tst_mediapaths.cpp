// What the intake accepts: regular files and folders to scan; a named pipe or a
// device is turned away without being opened (opening a pipe blocks for good).

#include "playlist/mediapaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(mediapaths::Kind)

namespace {

bool makeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

bool makeFifo(const QString &path)
{
    return mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

} // namespace

class TestMediaPaths : public QObject
{
    Q_OBJECT

private slots:
    void kinds_data();
    void kinds();
    void folderScanListsOnlyRegularMediaFiles();
    void intakeSortsOutWhatItCannotPlay();
};

void TestMediaPaths::kinds_data()
{
    using mediapaths::Kind;
    QTest::addColumn<QString>("setup");
    QTest::addColumn<Kind>("kind");
    QTest::newRow("regular file") << "file" << Kind::RegularFile;
    QTest::newRow("link to a regular file") << "link-file" << Kind::RegularFile;
    QTest::newRow("named pipe") << "fifo" << Kind::Other;
    QTest::newRow("link to a named pipe") << "link-fifo" << Kind::Other;
    QTest::newRow("device") << "device" << Kind::Other;
    QTest::newRow("folder") << "folder" << Kind::Folder;
    QTest::newRow("missing") << "missing" << Kind::Missing;
    QTest::newRow("link to nothing") << "dangling" << Kind::Missing;
    QTest::newRow("empty path") << "empty" << Kind::Missing;
}

void TestMediaPaths::kinds()
{
    QFETCH(QString, setup);
    QFETCH(mediapaths::Kind, kind);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("target"));
    QString path = dir.filePath(QStringLiteral("entry.mp4"));
    if (setup == QLatin1String("file"))
        QVERIFY(makeFile(path));
    else if (setup == QLatin1String("link-file"))
        QVERIFY(makeFile(target) && QFile::link(target, path));
    else if (setup == QLatin1String("fifo"))
        QVERIFY(makeFifo(path));
    else if (setup == QLatin1String("link-fifo"))
        QVERIFY(makeFifo(target) && QFile::link(target, path));
    else if (setup == QLatin1String("device"))
        path = QStringLiteral("/dev/null");
    else if (setup == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    else if (setup == QLatin1String("dangling"))
        QVERIFY(QFile::link(target, path));
    else if (setup == QLatin1String("empty"))
        path.clear();

    QCOMPARE(mediapaths::kindOf(path), kind);
    QCOMPARE(mediapaths::isPlayableFile(path), kind == mediapaths::Kind::RegularFile);
}

void TestMediaPaths::folderScanListsOnlyRegularMediaFiles()
{
    QTemporaryDir dir;
    const auto at = [&](const char *name) { return dir.filePath(QString::fromUtf8(name)); };
    QVERIFY(makeFile(at("b.mp4")) && makeFile(at("A.MKV")) && makeFile(at("c.Flac")));
    QVERIFY(makeFile(at("notes.txt")) && makeFile(at("clip.mp4.part")) && makeFile(at(".hidden.mp4")));
    QVERIFY(makeFifo(at("pipe.mp4")) && makeFifo(at("pipe-target")));
    QVERIFY(QFile::link(at("pipe-target"), at("link-to-pipe.avi")));
    QVERIFY(QFile::link(at("b.mp4"), at("link.mov")));
    QVERIFY(QDir().mkdir(at("sub.mov")) && makeFile(at("sub.mov/inner.mp4")));

    QCOMPARE(mediapaths::scanFolder(dir.path()),
             QStringList({at("A.MKV"), at("b.mp4"), at("c.Flac"), at("link.mov")}));
    QCOMPARE(mediapaths::scanFolder(at("missing")), QStringList());
}

void TestMediaPaths::intakeSortsOutWhatItCannotPlay()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("one.mkv"));
    const QString folder = dir.filePath(QStringLiteral("album"));
    const QString fifo = dir.filePath(QStringLiteral("pipe.mp4"));
    const QString missing = dir.filePath(QStringLiteral("gone.mp4"));
    QVERIFY(makeFile(file) && QDir().mkdir(folder) && makeFile(folder + QStringLiteral("/t.flac")));
    QVERIFY(makeFifo(fifo));

    const mediapaths::Intake intake = mediapaths::sortOut({fifo, file, folder, missing});
    QCOMPARE(intake.accepted, QStringList({file, folder + QStringLiteral("/t.flac")}));
    QCOMPARE(intake.rejected, QStringList({fifo, missing}));
    QCOMPARE(mediapaths::rejectionText(fifo), QStringLiteral("不是普通文件，无法播放: ") + fifo);
    QCOMPARE(mediapaths::rejectionText(missing), QStringLiteral("文件不存在: ") + missing);
}

QTEST_MAIN(TestMediaPaths)
#include "tst_mediapaths.moc"
