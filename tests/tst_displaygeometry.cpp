#include "video/framegeometry.h"

#include <QTest>

Q_DECLARE_METATYPE(AVRational)
Q_DECLARE_METATYPE(Orientation)

class TestDisplayGeometry : public QObject
{
    Q_OBJECT

private slots:
    void sampleAspectRatio_data();
    void sampleAspectRatio();
    void displaySize_data();
    void displaySize();
    void orientationFromMatrix_data();
    void orientationFromMatrix();
};

void TestDisplayGeometry::sampleAspectRatio_data()
{
    QTest::addColumn<AVRational>("container");
    QTest::addColumn<AVRational>("coded");
    QTest::addColumn<AVRational>("expected");
    QTest::newRow("coded only") << AVRational{0, 1} << AVRational{16, 15} << AVRational{16, 15};
    QTest::newRow("container overrides") << AVRational{64, 45} << AVRational{16, 15} << AVRational{64, 45};
    QTest::newRow("reduced") << AVRational{128, 90} << AVRational{0, 0} << AVRational{64, 45};
    QTest::newRow("absurd container") << AVRational{1000, 1} << AVRational{8, 9} << AVRational{8, 9};
    QTest::newRow("negative, zero den") << AVRational{-4, 3} << AVRational{4, 0} << AVRational{1, 1};
    QTest::newRow("absurdly narrow") << AVRational{0, 1} << AVRational{1, 11} << AVRational{1, 1};
}

void TestDisplayGeometry::sampleAspectRatio()
{
    QFETCH(AVRational, container);
    QFETCH(AVRational, coded);
    QFETCH(AVRational, expected);
    const AVRational got = framegeometry::displaySampleAspectRatio(container, coded);
    QCOMPARE(got.num, expected.num);
    QCOMPARE(got.den, expected.den);
}

void TestDisplayGeometry::displaySize_data()
{
    QTest::addColumn<QSize>("coded");
    QTest::addColumn<AVRational>("sar");
    QTest::addColumn<Orientation>("orientation");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("PAL 16:9") << QSize(720, 576) << AVRational{64, 45} << Orientation() << QSize(1024, 576);
    QTest::newRow("NTSC 4:3 grows tall") << QSize(720, 480) << AVRational{8, 9} << Orientation() << QSize(720, 540);
    QTest::newRow("PAL 16:9 turned") << QSize(720, 576) << AVRational{64, 45} << Orientation(90, false) << QSize(576, 1024);
    QTest::newRow("broken SAR") << QSize(640, 480) << AVRational{1, 0} << Orientation() << QSize(640, 480);
    QTest::newRow("rounds") << QSize(7, 3) << AVRational{3, 2} << Orientation() << QSize(11, 3);
    QTest::newRow("huge") << QSize(2000000000, 2) << AVRational{10, 1} << Orientation() << QSize(2147483647, 2);
    QTest::newRow("empty") << QSize(0, 576) << AVRational{1, 1} << Orientation() << QSize();
}

void TestDisplayGeometry::displaySize()
{
    QFETCH(QSize, coded);
    QFETCH(AVRational, sar);
    QFETCH(Orientation, orientation);
    QFETCH(QSize, expected);
    QCOMPARE(framegeometry::displaySize(coded, sar, orientation), expected);
}

void TestDisplayGeometry::orientationFromMatrix_data()
{
    // The 2x2 part of the matrix, as the track header has it: x' = a x + c y, y' = b x + d y.
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    QTest::addColumn<double>("c");
    QTest::addColumn<double>("d");
    QTest::addColumn<int>("rotation");
    QTest::addColumn<bool>("mirrored");
    QTest::newRow("identity") << 1.0 << 0.0 << 0.0 << 1.0 << 0 << false;
    QTest::newRow("clockwise") << 0.0 << 1.0 << -1.0 << 0.0 << 90 << false;
    QTest::newRow("upside down") << -1.0 << 0.0 << 0.0 << -1.0 << 180 << false;
    QTest::newRow("counter-clockwise") << 0.0 << -1.0 << 1.0 << 0.0 << 270 << false;
    QTest::newRow("mirrored") << -1.0 << 0.0 << 0.0 << 1.0 << 0 << true;
    QTest::newRow("flipped over") << 1.0 << 0.0 << 0.0 << -1.0 << 180 << true;
    QTest::newRow("transposed") << 0.0 << 1.0 << 1.0 << 0.0 << 270 << true;
    QTest::newRow("anti-transposed") << 0.0 << -1.0 << -1.0 << 0.0 << 90 << true;
    QTest::newRow("scaled, nearly clockwise") << 0.2 << 2.0 << -2.0 << 0.2 << 90 << false;
    QTest::newRow("singular") << 1.0 << 1.0 << 1.0 << 1.0 << 0 << false;
}

void TestDisplayGeometry::orientationFromMatrix()
{
    QFETCH(double, a);
    QFETCH(double, b);
    QFETCH(double, c);
    QFETCH(double, d);
    QFETCH(int, rotation);
    QFETCH(bool, mirrored);
    const auto fixed = [](double v) { return int32_t(v * 65536); };
    const int32_t matrix[9] = {fixed(a), fixed(b), 0, fixed(c), fixed(d), 0, 0, 0, 1 << 30};
    const Orientation got = Orientation::fromDisplayMatrix(matrix);
    QCOMPARE(got.rotation(), rotation);
    QCOMPARE(got.isMirrored(), mirrored);
}

QTEST_GUILESS_MAIN(TestDisplayGeometry)
#include "tst_displaygeometry.moc"
