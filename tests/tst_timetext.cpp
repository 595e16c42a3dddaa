#include "mainwindow/timetext.h"

#include <QtTest>

class TestTimeText : public QObject
{
    Q_OBJECT

private slots:
    void format_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "00:00:00";
        QTest::newRow("below a second") << qint64(999) << "00:00:00";
        QTest::newRow("one second") << qint64(1000) << "00:00:01";
        QTest::newRow("minutes") << qint64(3 * 60000 + 7 * 1000 + 500) << "00:03:07";
        QTest::newRow("last second of a day") << qint64(24LL * 3600000 - 1) << "23:59:59";
        QTest::newRow("a day") << qint64(24LL * 3600000) << "24:00:00";
        QTest::newRow("past a day") << qint64(25LL * 3600000 + 3 * 60000 + 7000) << "25:03:07";
        QTest::newRow("sixty hours does not wrap") << qint64(60LL * 3600000) << "60:00:00";
        QTest::newRow("hundred hours") << qint64(100LL * 3600000) << "100:00:00";
        QTest::newRow("negative") << qint64(-5000) << "00:00:00";
        QTest::newRow("no-value marker") << std::numeric_limits<qint64>::min() << "00:00:00";
    }
    void format()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(formatTime(ms), text);
    }
};

QTEST_APPLESS_MAIN(TestTimeText)
#include "tst_timetext.moc"
