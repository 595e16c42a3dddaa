// Pictures for the preview over the position slider: size, which frame, the cache,
// and the worker that makes them.

#include "preview/framepreviewer.h"
#include "preview/previewdecoder.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

using testsupport::mediaPath;

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void previewSize_data()
    {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<int>("num");
        QTest::addColumn<int>("den");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("1080p") << QSize(1920, 1080) << 1 << 1 << QSize(160, 90);
        QTest::newRow("4:3") << QSize(640, 480) << 1 << 1 << QSize(160, 120);
        QTest::newRow("anamorphic PAL 16:9") << QSize(720, 576) << 64 << 45 << QSize(160, 90);
        QTest::newRow("unknown aspect is square") << QSize(1280, 720) << 0 << 1 << QSize(160, 90);
        QTest::newRow("portrait keeps to the height") << QSize(1080, 1920) << 1 << 1 << QSize(68, 120);
        QTest::newRow("needle keeps a pixel") << QSize(1, 1000) << 1 << 1 << QSize(1, 120);
    }

    void previewSize()
    {
        QFETCH(QSize, frame);
        QFETCH(int, num);
        QFETCH(int, den);
        QFETCH(QSize, expected);
        QCOMPARE(PreviewDecoder::previewSize(frame, num, den), expected);
    }

    void keyFrameAtOrBefore_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("mp4, indexed") << QStringLiteral("preview.mp4");
        QTest::newRow("transport stream, no index") << QStringLiteral("preview.ts");
    }

    void keyFrameAtOrBefore()
    {
        QFETCH(QString, file);
        const QString path = mediaPath(file);
        PreviewDecoder decoder;
        const auto at = [&](qint64 ms) { return decoder.frameAt(path, ms); };

        const PreviewDecoder::Preview middle = at(2500);
        QCOMPARE(middle.frameMs, 2000);
        QVERIFY(!middle.cached);
        QCOMPARE(middle.image.size(), QSize(160, 90)); // the stream's 4:3 pixels
        QCOMPARE(middle.image.format(), QImage::Format_RGB32);
        // The same key-frame interval again is not decoded again.
        const PreviewDecoder::Preview again = at(2900);
        QCOMPARE(again.frameMs, 2000);
        QVERIFY(again.cached);
        QCOMPARE(again.image, middle.image);
        // Exactly on a key frame, the start, past the end.
        QCOMPARE(at(1000).frameMs, 1000);
        QCOMPARE(at(0).frameMs, 0);
        QCOMPARE(at(999).frameMs, 0);
        QCOMPARE(at(60000).frameMs, 3000);
        QVERIFY(!at(1500).image.isNull());
    }

    void noPictureToGive()
    {
        PreviewDecoder decoder;
        for (const char *name : {"audio.mp3", "not-media.mp4", "empty.mp4", "does-not-exist.mp4"})
            QVERIFY2(decoder.frameAt(mediaPath(QString::fromLatin1(name)), 500).image.isNull(), name);
        // A good file after bad ones.
        QVERIFY(!decoder.frameAt(mediaPath(QStringLiteral("preview.mp4")), 500).image.isNull());
    }

    void newestRequestWinsAndShutdownIsPrompt()
    {
        const QString path = mediaPath(QStringLiteral("preview.mp4"));
        QList<qint64> answered;
        QElapsedTimer shutdown;
        {
            FramePreviewer previewer;
            connect(&previewer, &FramePreviewer::previewReady, this,
                    [&](const QString &from, qint64 requested, qint64 frameMs, const QImage &image) {
                        QCOMPARE(from, path);
                        QCOMPARE(frameMs, requested / 1000 * 1000);
                        QVERIFY(!image.isNull());
                        answered << requested;
                    });
            // A sweep: many requests with no wait between them.
            for (qint64 ms = 100; ms <= 3900; ms += 100)
                previewer.request(path, ms);
            QTRY_VERIFY(!answered.isEmpty() && answered.last() == 3900);
            QTest::qWait(200);
            QVERIFY(answered.size() < 39); // the ones overtaken were never made
            QVERIFY(std::is_sorted(answered.cbegin(), answered.cend()));
            QCOMPARE(answered.last(), 3900);

            previewer.request(path, 1200);
            previewer.cancel();
            previewer.request(path, 200);
            previewer.request(QStringLiteral("/nonexistent"), 0);
            shutdown.start();
        }
        QVERIFY(shutdown.elapsed() < 5000);
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
