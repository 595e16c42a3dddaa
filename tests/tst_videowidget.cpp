#include "video/framegeometry.h"
#include "video/framereduction.h"
#include "video/videowidget.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

QImage solidImage(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool isNear(QRgb pixel, QColor expected, int tolerance = 8)
{
    return qAbs(qRed(pixel) - expected.red()) <= tolerance
        && qAbs(qGreen(pixel) - expected.green()) <= tolerance
        && qAbs(qBlue(pixel) - expected.blue()) <= tolerance;
}

void sendMouse(QWidget *widget, QEvent::Type type, Qt::MouseButton button)
{
    const QPointF pos(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

class TestVideoWidget : public QObject
{
    Q_OBJECT

private slots:
    void frameRects_data();
    void frameRects();
    void placeholderIconRect_data();
    void placeholderIconRect();
    void halvingsFor_data();
    void halvingsFor();
    void halvedAveragesBlocks();

    void stateFollowsFrame();
    void placeholderButtonIsCentredBelowTheMiddle();
    void mouseSignalsOnlyWithAFrame();
    void dropDownMenuOpensFolder();
    void buttonTextRequestsOpenFile();
    void letterboxedPixels();
    void fullScreenCoversWithoutBars();
    void fineDetailAveragesWhenShrunk();
};

void TestVideoWidget::frameRects_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QRect>("letterbox");
    QTest::addColumn<QRect>("cover");

    QTest::newRow("1080p in 780x440") << QSize(1920, 1080) << QSize(780, 440)
        << QRect(0, 1, 780, 438) << QRect(-1, 0, 782, 440);
    QTest::newRow("same aspect") << QSize(640, 480) << QSize(320, 240)
        << QRect(0, 0, 320, 240) << QRect(0, 0, 320, 240);
    QTest::newRow("1x1 frame") << QSize(1, 1) << QSize(400, 300)
        << QRect(50, 0, 300, 300) << QRect(0, -50, 400, 400);
    QTest::newRow("banner 1280x200") << QSize(1280, 200) << QSize(640, 480)
        << QRect(0, 190, 640, 100) << QRect(-1216, 0, 3072, 480);
    QTest::newRow("portrait") << QSize(240, 320) << QSize(400, 400)
        << QRect(50, 0, 300, 400) << QRect(0, -67, 400, 533);
    QTest::newRow("small frame scaled up") << QSize(64, 48) << QSize(400, 400)
        << QRect(0, 50, 400, 300) << QRect(-67, 0, 533, 400);
    // A side that would round to nothing keeps one pixel.
    QTest::newRow("needle") << QSize(1, 1000) << QSize(780, 440)
        << QRect(389, 0, 1, 440) << QRect(0, -389780, 780, 780000);
    QTest::newRow("empty area") << QSize(640, 480) << QSize(0, 0) << QRect() << QRect();
    QTest::newRow("empty frame") << QSize(0, 0) << QSize(640, 480) << QRect() << QRect();
}

void TestVideoWidget::frameRects()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, area);
    QFETCH(QRect, letterbox);
    QFETCH(QRect, cover);

    const QRect fitted = framegeometry::letterboxRect(frame, area);
    const QRect covering = framegeometry::coverRect(frame, area);
    QCOMPARE(fitted, letterbox);
    QCOMPARE(covering, cover);

    if (!area.isEmpty() && !frame.isEmpty()) {
        const QRect widget(QPoint(0, 0), area);
        QVERIFY(widget.contains(fitted));
        QVERIFY(covering.contains(widget));
        // The scaled sizes are those QImage::scaled produces.
        const QImage probe(frame, QImage::Format_RGB32);
        if (qint64(covering.width()) * covering.height() <= 4000000) {
            QCOMPARE(fitted.size(), probe.scaled(area, Qt::KeepAspectRatio).size());
            QCOMPARE(covering.size(), probe.scaled(area, Qt::KeepAspectRatioByExpanding).size());
        }
    }
}

void TestVideoWidget::placeholderIconRect_data()
{
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QRect>("icon");
    QTest::addColumn<QPoint>("buttonCentre");
    QTest::newRow("default") << QSize(640, 480) << QRect(261, 141, 120, 120) << QPoint(320, 320);
    QTest::newRow("smaller than the icon") << QSize(100, 60) << QRect(-9, -69, 120, 120) << QPoint(50, 110);
    QTest::newRow("one pixel") << QSize(1, 1) << QRect(-59, -99, 120, 120) << QPoint(0, 80);
}

void TestVideoWidget::placeholderIconRect()
{
    QFETCH(QSize, area);
    QFETCH(QRect, icon);
    QFETCH(QPoint, buttonCentre);
    const int edge = framegeometry::placeholderIconEdge;
    QCOMPARE(framegeometry::centredRect(QSize(edge, edge), framegeometry::placeholderIconCentre(area)), icon);
    QCOMPARE(framegeometry::placeholderButtonCentre(area), buttonCentre);
}

void TestVideoWidget::halvingsFor_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<int>("halvings");
    QTest::newRow("1080p into 780x438") << QSize(1920, 1080) << QSize(780, 438) << 1;
    QTest::newRow("2160p into 780x438") << QSize(3840, 2160) << QSize(780, 438) << 2;
    QTest::newRow("exactly half") << QSize(1920, 1080) << QSize(960, 540) << 1;
    QTest::newRow("odd sizes round down") << QSize(1921, 1081) << QSize(480, 270) << 2;
    QTest::newRow("odd half just short") << QSize(1919, 1080) << QSize(480, 270) << 1;
    QTest::newRow("just over half") << QSize(1920, 1080) << QSize(961, 541) << 0;
    QTest::newRow("one side only") << QSize(1920, 1080) << QSize(900, 600) << 0;
    QTest::newRow("enlarging") << QSize(64, 48) << QSize(400, 300) << 0;
    QTest::newRow("1x1 frame") << QSize(1, 1) << QSize(1, 1) << 0;
    QTest::newRow("empty target") << QSize(1920, 1080) << QSize() << 0;
    QTest::newRow("cover larger than the screen") << QSize(1280, 200) << QSize(3072, 480) << 0;
}

void TestVideoWidget::halvingsFor()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, target);
    QFETCH(int, halvings);
    QCOMPARE(framereduction::halvingsFor(frame, target), halvings);
    QImage image(frame, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QSize expected = frame;
    for (int i = 0; i < halvings; ++i)
        expected = QSize(expected.width() / 2, expected.height() / 2);
    QCOMPARE(framereduction::reducedFor(image, target).size(), expected);
}

void TestVideoWidget::halvedAveragesBlocks()
{
    // An odd-sized picture of noise against the plain 2x2 means, pixel by pixel;
    // the painter rounds in fixed point, a few levels of 255 at most.
    QImage noise(39, 23, QImage::Format_RGB32);
    quint32 seed = 12345;
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            noise.setPixel(x, y, seed | 0xff000000u);
        }
    }
    const QImage half = framereduction::halved(noise);
    QCOMPARE(half.size(), QSize(19, 11)); // odd column and row dropped
    QCOMPARE(half.format(), QImage::Format_RGB32);
    int worst = 0;
    for (int y = 0; y < 11; ++y) {
        for (int x = 0; x < 19; ++x) {
            const QRgb block[4] = {noise.pixel(2 * x, 2 * y), noise.pixel(2 * x + 1, 2 * y),
                                   noise.pixel(2 * x, 2 * y + 1), noise.pixel(2 * x + 1, 2 * y + 1)};
            int r = 0, g = 0, b = 0;
            for (QRgb p : block) {
                r += qRed(p);
                g += qGreen(p);
                b += qBlue(p);
            }
            const QRgb got = half.pixel(x, y);
            worst = qMax(worst, qAbs(qRed(got) * 4 - r));
            worst = qMax(worst, qAbs(qGreen(got) * 4 - g));
            worst = qMax(worst, qAbs(qBlue(got) * 4 - b));
        }
    }
    QVERIFY2(worst <= 4 * 3, qPrintable(QString::number(worst / 4.0)));

    // Other formats are accepted; too small an image has no half.
    QImage argb(4, 4, QImage::Format_ARGB32);
    argb.fill(qRgb(10, 20, 30));
    QCOMPARE(framereduction::halved(argb).pixel(1, 1), qRgb(10, 20, 30));
    QVERIFY(framereduction::halved(QImage(1, 9, QImage::Format_RGB32)).isNull());
    QVERIFY(framereduction::halved(QImage()).isNull());
}

void TestVideoWidget::stateFollowsFrame()
{
    VideoWidget widget;
    auto *button = widget.findChild<QToolButton *>();
    QVERIFY(button);
    QCOMPARE(widget.sizeHint(), QSize(640, 480));
    QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("fusion"));

    widget.resize(400, 300);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QTRY_VERIFY(button->isVisible());

    // The button goes and comes with the frame at once, not only at the next paint.
    widget.setFrame(solidImage(QSize(320, 200), Qt::red));
    QVERIFY(!button->isVisible());
    QCOMPARE(widget.sizeHint(), QSize(320, 200));

    widget.setFrame(QImage());
    QVERIFY(button->isVisible());
    QCOMPARE(widget.sizeHint(), QSize(640, 480));

    // A repaint of the picture does not bring the button back.
    widget.setFrame(solidImage(QSize(16, 9), Qt::green));
    widget.repaint();
    QVERIFY(!button->isVisible());
}

void TestVideoWidget::placeholderButtonIsCentredBelowTheMiddle()
{
    VideoWidget widget;
    auto *button = widget.findChild<QToolButton *>();
    QVERIFY(button);
    widget.resize(500, 360);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QTRY_VERIFY(button->isVisible());
    QCOMPARE(button->geometry(), framegeometry::centredRect(button->sizeHint(), QPoint(250, 260)));

    widget.resize(300, 200);
    QTRY_COMPARE(button->geometry(), framegeometry::centredRect(button->sizeHint(), QPoint(150, 180)));
    QVERIFY(button->sizeHint().width() >= 100);
}

void TestVideoWidget::mouseSignalsOnlyWithAFrame()
{
    VideoWidget widget;
    widget.resize(200, 150);
    QSignalSpy clicked(&widget, &VideoWidget::clicked);
    QSignalSpy doubleClicked(&widget, &VideoWidget::doubleClicked);
    const auto click = [&widget](Qt::MouseButton button) {
        sendMouse(&widget, QEvent::MouseButtonPress, button);
        sendMouse(&widget, QEvent::MouseButtonRelease, button);
    };
    // A double click as the system delivers it: press, release, double click, release.
    const auto doubleClick = [&] {
        click(Qt::LeftButton);
        sendMouse(&widget, QEvent::MouseButtonDblClick, Qt::LeftButton);
        sendMouse(&widget, QEvent::MouseButtonRelease, Qt::LeftButton);
    };
    const int interval = QApplication::doubleClickInterval();

    click(Qt::LeftButton);
    doubleClick();
    QTest::qWait(interval + 100);
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(doubleClicked.count(), 0);

    widget.setFrame(solidImage(QSize(32, 32), Qt::blue));
    // A single click counts once no second click can follow, whatever the button.
    click(Qt::RightButton);
    QCOMPARE(clicked.count(), 0);
    QTRY_COMPARE(clicked.count(), 1);
    // A click with another button ends the wait of the one before.
    click(Qt::LeftButton);
    click(Qt::MiddleButton);
    QCOMPARE(clicked.count(), 2);
    QTRY_COMPARE(clicked.count(), 3);
    // The first click of a double click is not a click of its own.
    doubleClick();
    QCOMPARE(doubleClicked.count(), 1);
    QTest::qWait(interval + 100);
    QCOMPARE(clicked.count(), 3);
    // Nor is a click on a picture that has gone since.
    click(Qt::LeftButton);
    widget.setFrame(QImage());
    QTest::qWait(interval + 100);
    QCOMPARE(clicked.count(), 3);

    doubleClick();
    QTest::qWait(interval + 100);
    QCOMPARE(clicked.count(), 3);
    QCOMPARE(doubleClicked.count(), 1);
}

void TestVideoWidget::dropDownMenuOpensFolder()
{
    VideoWidget widget;
    auto *button = widget.findChild<QToolButton *>();
    QVERIFY(button);
    QCOMPARE(button->text(), QStringLiteral("打开文件"));
    QCOMPARE(button->popupMode(), QToolButton::MenuButtonPopup);
    QVERIFY(button->menu());
    QVERIFY(button->menu()->windowFlags().testFlag(Qt::NoDropShadowWindowHint));
    widget.resize(400, 300);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QTRY_VERIFY(button->isVisible());

    QSignalSpy folder(&widget, &VideoWidget::openFolderRequested);
    QSignalSpy file(&widget, &VideoWidget::openFileRequested);
    QStringList shownItems;
    bool sawMenu = false;
    // The menu runs its own event loop; choose its item from inside it.
    QTimer::singleShot(50, this, [&] {
        auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!popup)
            return;
        sawMenu = popup == button->menu();
        for (QAction *action : popup->actions())
            shownItems << action->text();
        QTest::mouseClick(popup, Qt::LeftButton, {},
                          popup->actionGeometry(popup->actions().first()).center());
    });
    // Whatever happens, never leave a popup running.
    QTimer::singleShot(3000, this, [] {
        if (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    });
    // The invisible drop-down zone at the right end of the button.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->width() - 6, button->height() / 2));

    QVERIFY(sawMenu);
    QCOMPARE(shownItems, QStringList{QStringLiteral("打开文件夹")});
    QCOMPARE(folder.count(), 1);
    QCOMPARE(file.count(), 0);
}

void TestVideoWidget::buttonTextRequestsOpenFile()
{
    VideoWidget widget;
    auto *button = widget.findChild<QToolButton *>();
    QVERIFY(button);
    widget.resize(400, 300);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QTRY_VERIFY(button->isVisible());

    QSignalSpy folder(&widget, &VideoWidget::openFolderRequested);
    QSignalSpy file(&widget, &VideoWidget::openFileRequested);
    QSignalSpy clicked(&widget, &VideoWidget::clicked);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->width() / 3, button->height() / 2));
    QCOMPARE(file.count(), 1);
    QCOMPARE(folder.count(), 0);
    QCOMPARE(clicked.count(), 0);
    QVERIFY(!QApplication::activePopupWidget());
}

void TestVideoWidget::letterboxedPixels()
{
    VideoWidget widget;
    widget.resize(400, 400);
    widget.setFrame(solidImage(QSize(64, 48), Qt::red));
    const QImage shot = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shot.size(), QSize(400, 400));

    // 64x48 fits as 400x300, centred: bars of 50 rows above and below.
    const QColor red(255, 0, 0);
    const QColor black(0, 0, 0);
    QVERIFY(isNear(shot.pixel(200, 200), red));
    for (int x : {0, 1, 200, 398, 399}) {
        QVERIFY2(isNear(shot.pixel(x, 50), red), qPrintable(QString::number(x)));
        QVERIFY2(isNear(shot.pixel(x, 349), red), qPrintable(QString::number(x)));
        QVERIFY2(isNear(shot.pixel(x, 49), black, 0), qPrintable(QString::number(x)));
        QVERIFY2(isNear(shot.pixel(x, 350), black, 0), qPrintable(QString::number(x)));
        QVERIFY(isNear(shot.pixel(x, 0), black, 0));
        QVERIFY(isNear(shot.pixel(x, 399), black, 0));
    }

    // A tall frame gets bars left and right instead; its own colours survive scaling.
    QImage tall(20, 80, QImage::Format_RGB32);
    tall.fill(Qt::blue);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 20; ++x)
            tall.setPixel(x, y, qRgb(0, 255, 0));
    widget.setFrame(tall);
    const QImage second = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // 20x80 fits as 100x400 at x = 150..249.
    QVERIFY(isNear(second.pixel(149, 200), black, 0));
    QVERIFY(isNear(second.pixel(250, 200), black, 0));
    QVERIFY(isNear(second.pixel(150, 10), QColor(0, 255, 0)));
    QVERIFY(isNear(second.pixel(249, 390), QColor(0, 0, 255)));
}

void TestVideoWidget::fullScreenCoversWithoutBars()
{
    VideoWidget widget;
    // Green and blue quarters at the sides, red middle: covering cuts the sides off.
    QImage frame(200, 50, QImage::Format_RGB32);
    frame.fill(Qt::red);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 50; ++x) {
            frame.setPixel(x, y, qRgb(0, 255, 0));
            frame.setPixel(199 - x, y, qRgb(0, 0, 255));
        }
    }
    widget.setFrame(frame);
    widget.showFullScreen();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QTRY_VERIFY(widget.isFullScreen());
    const QImage shot = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QVERIFY(shot.width() < 4 * shot.height()); // a screen narrower than the frame's 4:1
    for (int y : {0, shot.height() / 2, shot.height() - 1}) {
        for (int x : {0, shot.width() / 2, shot.width() - 1})
            QVERIFY2(isNear(shot.pixel(x, y), Qt::red), qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
    }

    widget.showNormal();
    QTRY_VERIFY(!widget.isFullScreen());
    widget.resize(400, 300);
    const QImage windowed = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // In a window the whole frame shows: 400x100 centred, sides green and blue.
    QVERIFY(isNear(windowed.pixel(200, 10), Qt::black, 0));
    QVERIFY(isNear(windowed.pixel(5, 150), QColor(0, 255, 0)));
    QVERIFY(isNear(windowed.pixel(395, 150), QColor(0, 0, 255)));
}

void TestVideoWidget::fineDetailAveragesWhenShrunk()
{
    // One-pixel stripes shrunk to 3/8: every shown pixel must come out a even grey,
    // not a beat pattern of whole stripes that happened to be sampled.
    QImage stripes(800, 400, QImage::Format_RGB32);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 800; ++x)
            stripes.setPixel(x, y, (x % 2) ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    VideoWidget widget;
    widget.resize(300, 150);
    widget.setFrame(stripes);
    const QImage shot = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int lightest = 0, darkest = 255;
    for (int y = 0; y < 150; ++y) {
        for (int x = 0; x < 300; ++x) {
            lightest = qMax(lightest, qGray(shot.pixel(x, y)));
            darkest = qMin(darkest, qGray(shot.pixel(x, y)));
        }
    }
    QVERIFY2(lightest <= 140 && darkest >= 116, qPrintable(QStringLiteral("%1..%2").arg(darkest).arg(lightest)));
}

QTEST_MAIN(TestVideoWidget)
#include "tst_videowidget.moc"
