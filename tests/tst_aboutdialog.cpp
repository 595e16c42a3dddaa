#include "about/aboutdialog.h"
#include "mainwindow/zeltorawindow.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QtTest>

// Reaches the window's private about() slot.
class ZeltoraWindowTestAccess
{
public:
    static void about(ZeltoraWindow &window) { window.about(); }
};

// Stands in for the browser: records what QDesktopServices was asked to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

class TestAboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void contents();
    void contentsKeepTheirPlaceWhenEnlarged();
    void linkReachesDesktopServices();
    void windowOpensAFreshDialogEachTime();
};

void TestAboutDialog::contents()
{
    AboutDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("关于 Wandel Forge"));
    QCOMPARE(dialog.size(), QSize(243, 315));
    QVERIFY(!dialog.windowIcon().isNull());
    auto *logo = dialog.findChild<QLabel *>(QStringLiteral("logoLabel"));
    QVERIFY(logo && !logo->pixmap().isNull());

    // Every label, top to bottom, as the layout holds them.
    QStringList texts;
    QLayout *layout = dialog.findChild<QWidget *>(QStringLiteral("centralWidget"))->layout();
    for (int i = 0; i < layout->count(); ++i)
        texts.append(qobject_cast<QLabel *>(layout->itemAt(i)->widget())->text());
    QCOMPARE(texts.size(), 6);
    QCOMPARE(texts.mid(1, 3), QStringList({
        "<h2>Zeltora</h2>", "版本: 1.0.0.22",
        "Zeltora 音视频播放软件，支持多格式解码，界面简约不复杂，功能实用易操作，是日常播放好选择。"}));
    QVERIFY(texts.at(4).contains(QStringLiteral(">访问官方网站</a>")));
    QVERIFY(texts.at(5).contains(QStringLiteral("Wandel Forge")));

    auto *website = dialog.findChild<QLabel *>(QStringLiteral("websiteLabel"));
    QVERIFY(!website->openExternalLinks());
    QCOMPARE(website->textInteractionFlags(), Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
}

void TestAboutDialog::contentsKeepTheirPlaceWhenEnlarged()
{
    AboutDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *central = dialog.findChild<QWidget *>(QStringLiteral("centralWidget"));
    QVERIFY(central);
    QCOMPARE(central->geometry(), QRect(0, 0, 242, 315));
    const QRect titleBefore = dialog.findChild<QLabel *>(QStringLiteral("titleLabel"))->geometry();

    dialog.resize(600, 700);
    QTRY_COMPARE(dialog.size(), QSize(600, 700));
    QCoreApplication::processEvents();
    QCOMPARE(central->geometry(), QRect(0, 0, 242, 315));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("titleLabel"))->geometry(), titleBefore);
}

void TestAboutDialog::linkReachesDesktopServices()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");

    AboutDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto *website = dialog.findChild<QLabel *>(QStringLiteral("websiteLabel"));
    QVERIFY(website);

    // A real click on the anchor: the label's text starts at its left edge.
    const QPoint onLink(website->contentsRect().left() + 6, website->height() / 2);
    QTest::mouseMove(website, onLink);
    QTest::mousePress(website, Qt::LeftButton, Qt::NoModifier, onLink);
    QTest::mouseRelease(website, Qt::LeftButton, Qt::NoModifier, onLink);

    QTRY_COMPARE(recorder.urls.size(), 1);
    const QUrl url = recorder.urls.constFirst();
    QVERIFY(url.isValid());
    QVERIFY(url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
    QVERIFY(!url.host().isEmpty());
    QVERIFY(dialog.isVisible());

    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void TestAboutDialog::windowOpensAFreshDialogEachTime()
{
    ZeltoraWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QList<QPointer<AboutDialog>> seen;
    QList<bool> otherStillOpen;
    // Dismisses each dialog as Escape would, once it is up and modal.
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<AboutDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        if (!seen.isEmpty() && seen.constLast() == dialog)
            return;
        otherStillOpen.append(!seen.isEmpty() && !seen.constLast().isNull());
        seen.append(dialog);
        QCOMPARE(dialog->parentWidget(), &window);
        QVERIFY(dialog->isModal());
        dialog->reject();
    });
    closer.start();

    ZeltoraWindowTestAccess::about(window);
    QCOMPARE(seen.size(), 1);
    QVERIFY(seen.at(0).isNull()); // destroyed when about() returned

    ZeltoraWindowTestAccess::about(window);
    QCOMPARE(seen.size(), 2);
    QVERIFY(seen.at(1).isNull());
    QCOMPARE(otherStillOpen, QList<bool>({false, false}));
}

QTEST_MAIN(TestAboutDialog)
#include "tst_aboutdialog.moc"
