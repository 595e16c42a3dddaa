// The position slider: the value under the pointer, a click on the groove, hover.

#include "mainwindow/positionslider.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QtTest>

namespace {

void sendMouse(QWidget *widget, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease || type == QEvent::MouseMove
        ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), type == QEvent::MouseMove ? Qt::NoButton : button,
                      held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestPositionSlider : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion"))); }

    void valueAt_data()
    {
        QTest::addColumn<QRect>("groove");
        QTest::addColumn<int>("handle");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("upsideDown");
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<int>("value");

        // Groove 10..309 (300 px), handle 20: the handle's centre travels 19..299.
        const QRect groove(10, 0, 300, 20);
        const int h = Qt::Horizontal, v = Qt::Vertical;
        QTest::newRow("left end") << groove << 20 << 1000 << h << false << QPoint(19, 5) << 0;
        QTest::newRow("right end") << groove << 20 << 1000 << h << false << QPoint(299, 5) << 1000;
        QTest::newRow("middle") << groove << 20 << 1000 << h << false << QPoint(159, 5) << 500;
        QTest::newRow("left of the groove") << groove << 20 << 1000 << h << false << QPoint(-40, 5) << 0;
        QTest::newRow("right of the groove") << groove << 20 << 1000 << h << false << QPoint(900, 5) << 1000;
        QTest::newRow("rounds to the nearest") << groove << 20 << 7 << h << false << QPoint(39, 5) << 1;
        QTest::newRow("upside down") << groove << 20 << 1000 << h << true << QPoint(19, 5) << 1000;
        QTest::newRow("vertical reads y") << QRect(0, 10, 20, 300) << 20 << 1000 << v << false << QPoint(900, 159) << 500;
        QTest::newRow("vertical, bottom is minimum") << QRect(0, 10, 20, 300) << 20 << 1000 << v << true << QPoint(5, 299) << 0;
        QTest::newRow("handle as long as the groove") << QRect(0, 0, 20, 20) << 20 << 1000 << h << false << QPoint(15, 5) << 0;
        QTest::newRow("empty range") << groove << 20 << 0 << h << false << QPoint(200, 5) << 0;
    }

    void valueAt()
    {
        QFETCH(QRect, groove);
        QFETCH(int, handle);
        QFETCH(int, maximum);
        QFETCH(int, orientation);
        QFETCH(bool, upsideDown);
        QFETCH(QPoint, point);
        QFETCH(int, value);
        PositionSlider::Geometry g;
        g.groove = groove;
        g.handleLength = handle;
        g.maximum = maximum;
        g.orientation = Qt::Orientation(orientation);
        g.upsideDown = upsideDown;
        QCOMPARE(PositionSlider::valueAt(g, point), value);
    }

    // Qt itself sets a slider to the value under the pointer on a middle click; the
    // live widget's geometry must give the same answer, whatever way it is turned.
    void agreesWithQtOnLiveSliders_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("inverted");
        QTest::addColumn<bool>("rightToLeft");
        QTest::newRow("horizontal") << int(Qt::Horizontal) << false << false;
        QTest::newRow("inverted") << int(Qt::Horizontal) << true << false;
        QTest::newRow("right to left") << int(Qt::Horizontal) << false << true;
        QTest::newRow("vertical") << int(Qt::Vertical) << false << false;
    }

    void agreesWithQtOnLiveSliders()
    {
        QFETCH(int, orientation);
        QFETCH(bool, inverted);
        QFETCH(bool, rightToLeft);
        PositionSlider slider;
        slider.setOrientation(Qt::Orientation(orientation));
        slider.setInvertedAppearance(inverted);
        slider.setLayoutDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        slider.setRange(0, 3600);
        slider.resize(orientation == Qt::Horizontal ? QSize(401, 24) : QSize(24, 401));
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        for (int along : {0, 3, 57, 200, 333, 400}) {
            const QPoint point = orientation == Qt::Horizontal ? QPoint(along, 12) : QPoint(12, along);
            const int ours = slider.valueAt(point);
            slider.setValue(1);
            QTest::mouseClick(&slider, Qt::MiddleButton, {}, point);
            QCOMPARE(ours, slider.value());
        }
    }

    void clickJumpsHandleDragsHoverReports()
    {
        PositionSlider slider;
        slider.setOrientation(Qt::Horizontal);
        slider.setRange(0, 1000);
        slider.resize(400, 24);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        QSignalSpy clicked(&slider, &PositionSlider::clickedTo);
        QSignalSpy moved(&slider, &QSlider::sliderMoved);
        QSignalSpy hovered(&slider, &PositionSlider::hovered);
        QSignalSpy left(&slider, &PositionSlider::hoverLeft);

        const QPoint far(300, 12);
        sendMouse(&slider, QEvent::MouseButtonPress, far);
        sendMouse(&slider, QEvent::MouseButtonRelease, far);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), slider.valueAt(far));
        QCOMPARE(slider.value(), slider.valueAt(far)); // a jump, not a page step

        // On the handle a press drags, as ever: no jump.
        slider.setValue(0);
        const PositionSlider::Geometry g = slider.currentGeometry();
        const QPoint onHandle(g.groove.x() + g.handleLength / 2, 12);
        sendMouse(&slider, QEvent::MouseButtonPress, onHandle);
        QVERIFY(slider.isSliderDown());
        QMouseEvent drag(QEvent::MouseMove, QPointF(200, 12), slider.mapToGlobal(QPointF(200, 12)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&slider, &drag);
        sendMouse(&slider, QEvent::MouseButtonRelease, QPoint(200, 12));
        QCOMPARE(clicked.count(), 1);
        QVERIFY(moved.count() >= 1);
        QVERIFY(hovered.count() >= 1); // the drag shows where it goes
        QCOMPARE(hovered.last().at(0).toInt(), moved.last().at(0).toInt());

        hovered.clear();
        sendMouse(&slider, QEvent::MouseMove, QPoint(100, 12));
        QCOMPARE(hovered.count(), 1);
        QCOMPARE(hovered.at(0).at(0).toInt(), slider.valueAt(QPoint(100, 12)));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&slider, &leave);
        QCOMPARE(left.count(), 1);
    }
};

QTEST_MAIN(TestPositionSlider)
#include "tst_positionslider.moc"
