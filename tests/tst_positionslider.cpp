// The position slider: the value under the pointer, and a drag that says where it goes.

#include "mainwindow/positionslider.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QtTest>

class TestPositionSlider : public QObject
{
    Q_OBJECT

private slots:
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
        QTest::newRow("right end") << groove << 20 << 1000 << h << false << QPoint(299, 5) << 1000;
        QTest::newRow("middle") << groove << 20 << 1000 << h << false << QPoint(159, 5) << 500;
        QTest::newRow("beyond the groove") << groove << 20 << 1000 << h << false << QPoint(900, 5) << 1000;
        QTest::newRow("rounds to the nearest") << groove << 20 << 7 << h << false << QPoint(39, 5) << 1;
        QTest::newRow("upside down") << groove << 20 << 1000 << h << true << QPoint(19, 5) << 1000;
        QTest::newRow("vertical, bottom is minimum") << QRect(0, 10, 20, 300) << 20 << 1000 << v << true << QPoint(900, 299) << 0;
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

    // The handle drags as before (no jump), and the drag reports where a release will go.
    void handleDragsAndReportsItsValue()
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
        const PositionSlider::Geometry g = slider.currentGeometry();
        QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(g.groove.x() + g.handleLength / 2, 12));
        QMouseEvent drag(QEvent::MouseMove, QPointF(200, 12), slider.mapToGlobal(QPointF(200, 12)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&slider, &drag);
        QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(200, 12));
        QCOMPARE(clicked.count(), 0);
        QVERIFY(!moved.isEmpty() && !hovered.isEmpty());
        QCOMPARE(hovered.last().at(0).toInt(), moved.last().at(0).toInt());
    }
};

QTEST_MAIN(TestPositionSlider)
#include "tst_positionslider.moc"
