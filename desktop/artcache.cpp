#include "desktop/artcache.h"

#include "playlist/thumbnailprobe.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcArt, "zeltora.desktop.art", QtWarningMsg)

namespace {

// Large enough for a panel's or a lock screen's cover, small enough to write fast.
constexpr int kMaxEdge = 512;
constexpr int kKeptPictures = 64;

QString pictureName(const QFileInfo &media)
{
    const QByteArray key = media.canonicalFilePath().toUtf8() + '\n'
        + QByteArray::number(media.size()) + '\n'
        + QByteArray::number(media.lastModified().toMSecsSinceEpoch());
    return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex())
        + QStringLiteral(".png");
}

void pruneFolder(const QDir &dir)
{
    const QFileInfoList pictures = dir.entryInfoList({QStringLiteral("*.png")}, QDir::Files, QDir::Time);
    for (int i = kKeptPictures; i < pictures.size(); ++i)
        QFile::remove(pictures.at(i).filePath());
}

// Runs on the worker thread.
QUrl makePicture(const QString &mediaPath, const QString &folder)
{
    const QFileInfo media(mediaPath);
    if (!media.isFile())
        return QUrl();
    const QDir dir(folder);
    const QString target = dir.filePath(pictureName(media));
    if (QFileInfo::exists(target))
        return QUrl::fromLocalFile(target);

    QImage picture = thumbnailprobe::firstFrame(mediaPath);
    if (picture.isNull())
        return QUrl();
    if (picture.width() > kMaxEdge || picture.height() > kMaxEdge)
        picture = picture.scaled(kMaxEdge, kMaxEdge, Qt::KeepAspectRatio, Qt::SmoothTransformation);

    if (!dir.mkpath(QStringLiteral("."))) {
        qCWarning(lcArt) << "Cannot create the picture folder" << folder;
        return QUrl();
    }
    // Written aside and renamed, so a reader never sees half a picture.
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        qCWarning(lcArt) << "Cannot write the picture" << target << file.errorString();
        return QUrl();
    }
    pruneFolder(dir);
    return QUrl::fromLocalFile(target);
}

} // namespace

ArtCache::ArtCache(QObject *parent)
    : QObject(parent)
{
    worker.setMaxThreadCount(1);
}

ArtCache::~ArtCache()
{
    worker.clear();
    worker.waitForDone();
}

QString ArtCache::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/art");
}

void ArtCache::request(const QString &path)
{
    // Only the latest file matters. A picture already being made still answers;
    // the receiver tells it apart by its path.
    worker.clear();
    const QString dir = folder();
    worker.start([this, path, dir] {
        const QUrl url = makePicture(path, dir);
        // Posted to the GUI thread; the destructor waits for this job before the
        // object goes, so the receiver is alive when the post is made.
        QMetaObject::invokeMethod(this, [this, path, url] { emit artReady(path, url); },
                                  Qt::QueuedConnection);
    });
}
