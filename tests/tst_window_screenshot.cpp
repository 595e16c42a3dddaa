#include "mainwindow/screenshotname.h"
#include "mainwindow/zeltorawindow.h"
#include "playback/playbackcontroller.h"
#include "playlist/playlistmodel.h"
#include "testsupport.h"
#include "video/videowidget.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

class ZeltoraWindowTestAccess
{
public:
    static VideoWidget *video(ZeltoraWindow &w) { return w.videoWidget; }
    static void screenshot(ZeltoraWindow &w) { w.takeScreenshot(); }
    // The engine opens files off the GUI thread.
    static bool load(ZeltoraWindow &w, const QString &path)
    {
        w.loadMedia(path);
        return QTest::qWaitFor([&] { return w.player->isOpen(); }, 5000);
    }
    static void stop(ZeltoraWindow &w) { w.stop(); }
    static void reset(ZeltoraWindow &w) { w.resetApplication(); }
    static bool addAndRemove(ZeltoraWindow &w, const QString &path)
    {
        w.playlistModel->addFile(path);
        if (!load(w, path))
            return false;
        w.videoWidget->setFrame(QImage(8, 8, QImage::Format_RGB32));
        w.removeFromPlaylist(0);
        return true;
    }
};
using Access = ZeltoraWindowTestAccess;

namespace {

// Points the pictures folder of this process at the given path. Qt reads the user's
// folder list afresh on every lookup.
bool usePicturesFolder(const QString &path)
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir().mkpath(config))
        return false;
    QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
    if (!dirs.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    dirs.write("XDG_PICTURES_DIR=\"" + QFile::encodeName(path) + "\"\n");
    dirs.close();
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) == path;
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot);
}

QLabel *status(ZeltoraWindow &w) { return w.findChild<QLabel *>(QStringLiteral("statusBar")); }

} // namespace

class TestWindowScreenshot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void silentWithoutPicture_data();
    void silentWithoutPicture();
    void fileName();
    void neverOverwrites();
    void savesThePictureAsShown();
    void unusableFolderWarns();

private:
    QString root;
    std::unique_ptr<ZeltoraWindow> window;
};

void TestWindowScreenshot::initTestCase()
{
    // Our own folders only: the user's pictures and settings stay untouched.
    QVERIFY2(qEnvironmentVariable("XDG_CONFIG_HOME").startsWith(QStringLiteral(ZELTORA_BINARY_DIR)),
             "run through ctest, which gives the test a home of its own");
    root = testsupport::scratchPath(QStringLiteral("pictures"));
    QSettings(QStringLiteral("Zeltora"), QStringLiteral("Zeltora")).clear();
}

void TestWindowScreenshot::init()
{
    QDir(root).removeRecursively();
    QVERIFY(QDir().mkpath(root));
    window = std::make_unique<ZeltoraWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestWindowScreenshot::cleanup()
{
    window.reset();
}

void TestWindowScreenshot::silentWithoutPicture_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("nothing open") << "";
    QTest::newRow("sound only") << "audio";
    QTest::newRow("stopped") << "stop";
    QTest::newRow("playing entry removed") << "remove";
    QTest::newRow("after a reset") << "reset";
}

void TestWindowScreenshot::silentWithoutPicture()
{
    QFETCH(QString, before);
    const QString folder = root + QStringLiteral("/Pictures");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(usePicturesFolder(folder));
    const QString video = testsupport::mediaPath(QStringLiteral("red.mp4"));
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::red);

    testsupport::MessageBoxCloser closer;
    closer.setAnswer(QMessageBox::Yes);
    if (before == QLatin1String("audio")) {
        QVERIFY(Access::load(*window, testsupport::mediaPath(QStringLiteral("audio.mp3"))));
    } else if (before == QLatin1String("remove")) {
        QVERIFY(Access::addAndRemove(*window, video));
    } else if (!before.isEmpty()) {
        // The media stays open, its picture is gone: the placeholder is not a shot.
        QVERIFY(Access::load(*window, video));
        Access::video(*window)->setFrame(picture);
        if (before == QLatin1String("stop"))
            Access::stop(*window);
        else
            Access::reset(*window);
    }
    closer.clear();
    status(*window)->setText(QStringLiteral("before"));
    Access::screenshot(*window);
    QTest::qWait(100);

    QVERIFY(filesIn(folder).isEmpty());
    QVERIFY(closer.boxes().isEmpty());
    QCOMPARE(status(*window)->text(), QStringLiteral("before"));
}

void TestWindowScreenshot::fileName()
{
    QCOMPARE(screenshotFileName("20250303_140509", 1), QStringLiteral("Zeltora_20250303_140509.png"));
    QCOMPARE(screenshotFileName("20250303_140509", 2), QStringLiteral("Zeltora_20250303_140509_2.png"));
    QCOMPARE(screenshotFileName("20250303_140509", 10), QStringLiteral("Zeltora_20250303_140509_10.png"));
}

void TestWindowScreenshot::neverOverwrites()
{
    const QString folder = root + QStringLiteral("/Pictures");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(usePicturesFolder(folder));
    QVERIFY(Access::load(*window, testsupport::mediaPath(QStringLiteral("red.mp4"))));
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(Qt::red);
    Access::video(*window)->setFrame(red);

    // Files of the plain names already there for the seconds the shots can fall in.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList existing;
    for (int second = 0; second < 4; ++second) {
        const QString stamp = now.addSecs(second).toString(QStringLiteral("yyyyMMdd_hhmmss"));
        QFile file(folder + QLatin1Char('/') + screenshotFileName(stamp, 1));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep");
        existing << QFileInfo(file).fileName();
    }

    testsupport::MessageBoxCloser closer;
    Access::screenshot(*window);
    Access::screenshot(*window);
    QVERIFY(closer.boxes().isEmpty());

    for (const QString &name : std::as_const(existing)) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep"));
    }
    QStringList made = filesIn(folder);
    for (const QString &name : std::as_const(existing))
        made.removeOne(name);
    QCOMPARE(made.size(), 2);
    // Within one second the suffixes count on; across a second each starts at _2.
    const QString first = made.at(0).section(QLatin1Char('_'), 1, 2);
    const QString second = made.at(1).section(QLatin1Char('_'), 1, 2);
    if (first == second)
        QCOMPARE(made, QStringList({screenshotFileName(first, 2), screenshotFileName(first, 3)}));
    else
        QCOMPARE(made, QStringList({screenshotFileName(first, 2), screenshotFileName(second, 2)}));
    QImage shot;
    QVERIFY(shot.load(folder + QLatin1Char('/') + made.last(), "PNG"));
    QCOMPARE(status(*window)->text(), QStringLiteral("截图已保存到 ") + folder + QLatin1Char('/') + made.last());
}

void TestWindowScreenshot::savesThePictureAsShown()
{
    // The folder does not exist yet, nor its parent: the shot creates it.
    const QString folder = root + QStringLiteral("/fresh/Pictures");
    QVERIFY(usePicturesFolder(folder));
    QVERIFY(!QFileInfo::exists(folder));

    QVERIFY(Access::load(*window, testsupport::mediaPath(QStringLiteral("red.mp4"))));
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(Qt::red);
    VideoWidget *video = Access::video(*window);
    video->setFrame(red);

    testsupport::MessageBoxCloser closer;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    Access::screenshot(*window);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    QVERIFY(closer.boxes().isEmpty());

    const QStringList files = filesIn(folder);
    QCOMPARE(files.size(), 1);
    const QString name = files.constFirst();
    const QRegularExpression shape(QStringLiteral("^Zeltora_(\\d{8}_\\d{6})\\.png$"));
    const QRegularExpressionMatch match = shape.match(name);
    QVERIFY2(match.hasMatch(), qPrintable(name));
    const QDateTime taken = QDateTime::fromString(match.captured(1), QStringLiteral("yyyyMMdd_hhmmss"));
    QVERIFY(taken.isValid());
    QVERIFY(taken >= before.addMSecs(-before.time().msec()) && taken <= after);

    const QString path = folder + QLatin1Char('/') + name;
    QCOMPARE(status(*window)->text(), QStringLiteral("截图已保存到 ") + path);

    // The picture as the widget shows it: its size, scaled, not the 64x48 frame.
    QImage shot;
    QVERIFY(shot.load(path, "PNG"));
    QCOMPARE(shot.size(), video->size());
    const QColor centre = shot.pixelColor(shot.width() / 2, shot.height() / 2);
    QVERIFY2(centre.red() > 200 && centre.green() < 60 && centre.blue() < 60, qPrintable(centre.name()));
}

void TestWindowScreenshot::unusableFolderWarns()
{
    // Permissions do not stop root, so block the folder with a plain file in its place.
    const QString folder = root + QStringLiteral("/blocked");
    QFile blocker(folder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(usePicturesFolder(folder));

    QVERIFY(Access::load(*window, testsupport::mediaPath(QStringLiteral("red.mp4"))));
    Access::video(*window)->setFrame(QImage(8, 8, QImage::Format_RGB32)); // a picture to save
    status(*window)->setText(QStringLiteral("before"));

    testsupport::MessageBoxCloser closer;
    Access::screenshot(*window);

    QCOMPARE(closer.boxes().size(), 1);
    QCOMPARE(closer.boxes().at(0).title, QStringLiteral("警告"));
    QCOMPARE(closer.boxes().at(0).text, QStringLiteral("无法保存截图"));
    QCOMPARE(status(*window)->text(), QStringLiteral("before"));
    QVERIFY(QFileInfo(folder).isFile());
    QCOMPARE(QFileInfo(folder).size(), 0);
}

QTEST_MAIN(TestWindowScreenshot)
#include "tst_window_screenshot.moc"
