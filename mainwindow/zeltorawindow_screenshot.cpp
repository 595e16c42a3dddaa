// Saving the picture as the video area shows it.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "mainwindow/screenshotname.h"
#include "playback/playbackcontroller.h"
#include "video/videowidget.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPixmap>
#include <QStandardPaths>

namespace {

// More shots within one second than anyone takes by hand.
constexpr int kMaxShotsPerSecond = 1000;

// Writes the shot under the first free name of its second. A file is only ever
// created, never opened for writing when it exists, so no earlier shot or other
// file is replaced. Returns the path written, or an empty string.
QString saveUnderFreeName(const QPixmap &shot, const QString &folder, const QString &stamp)
{
    for (int attempt = 1; attempt <= kMaxShotsPerSecond; ++attempt) {
        const QString path = folder + QLatin1Char('/') + screenshotFileName(stamp, attempt);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
                continue; // taken: the next name
            qWarning() << "Screenshot could not be created at" << path << ":" << file.errorString();
            return QString();
        }
        bool saved = shot.save(&file, "PNG");
        file.close();
        saved = saved && file.error() == QFileDevice::NoError;
        if (saved)
            return path;
        qWarning() << "Screenshot could not be written to" << path << ":" << file.errorString();
        file.remove(); // ours, and incomplete
        return QString();
    }
    qWarning() << "No free screenshot name left for" << stamp << "in" << folder;
    return QString();
}

} // namespace

void ZeltoraWindow::takeScreenshot()
{
    // Without a picture on screen (nothing open, sound only, stopped, reset) there
    // is nothing to save but the placeholder.
    if (!player->isOpen() || !player->hasVideo() || !videoWidget->hasFrame())
        return;

    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss"));

    // A fresh account may not have its pictures folder yet. An empty location
    // would put the file at the root of the file system, so that counts as failure.
    const bool folderReady = !folder.isEmpty() && QDir().mkpath(folder);

    const QPixmap shot = videoWidget->grab();
    const QString path = folderReady ? saveUnderFreeName(shot, folder, stamp) : QString();
    if (!path.isEmpty()) {
        ui->statusBar->setText(tr("截图已保存到 ") + path);
        return;
    }

    if (!folderReady)
        qWarning() << "No pictures folder for the screenshot:" << folder;
    QMessageBox::warning(this, QStringLiteral("警告"), QStringLiteral("无法保存截图"));
}
