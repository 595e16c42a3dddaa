// Saving the picture as the video area shows it.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "playback/playbackcontroller.h"
#include "video/videowidget.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QStandardPaths>

void ZeltoraWindow::takeScreenshot()
{
    if (!player->isOpen() || !player->hasVideo())
        return;

    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss"));
    const QString path = folder + QStringLiteral("/Zeltora_") + stamp + QStringLiteral(".png");

    // A fresh account may not have its pictures folder yet. An empty location
    // would put the file at the root of the file system, so that counts as failure.
    const bool folderReady = !folder.isEmpty() && QDir().mkpath(folder);

    const QPixmap shot = videoWidget->grab();
    if (folderReady && shot.save(path)) {
        ui->statusBar->setText(tr("截图已保存到 ") + path);
        return;
    }

    qWarning() << "Screenshot could not be written to" << path;
    QMessageBox::warning(this, QStringLiteral("警告"), QStringLiteral("无法保存截图"));
}
