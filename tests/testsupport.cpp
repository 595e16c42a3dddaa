#include "testsupport.h"

#include "playlist/playlistmodel.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QAbstractButton>
#include <QTimer>

namespace testsupport {

QString mediaPath(const QString &name)
{
    return QDir(QStringLiteral(ZELTORA_TEST_MEDIA_DIR)).filePath(name);
}

QString scratchPath(const QString &name)
{
    QDir dir(QStringLiteral(ZELTORA_BINARY_DIR "/test-scratch/") + QCoreApplication::applicationName());
    dir.mkpath(QStringLiteral("."));
    return dir.filePath(name);
}

QStringList playlistEntries(const PlaylistModel &model)
{
    QStringList entries;
    for (int row = 0; row < model.count(); ++row)
        entries.append(model.filePath(row));
    return entries;
}

MessageBoxCloser::MessageBoxCloser(QObject *parent)
    : QObject(parent), timer(new QTimer(this)), answer(QMessageBox::Ok)
{
    timer->setInterval(20);
    connect(timer, &QTimer::timeout, this, &MessageBoxCloser::poll);
    timer->start();
}

void MessageBoxCloser::poll()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *w : widgets) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box || !box->isVisible())
            continue;
        seen.append({box->windowTitle(), box->text()});
        QAbstractButton *button = box->button(static_cast<QMessageBox::StandardButton>(answer));
        if (!button)
            button = box->button(QMessageBox::Ok);
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().constFirst();
        if (button)
            button->click();
        else
            box->close();
    }
}

} // namespace testsupport
