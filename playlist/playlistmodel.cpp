#include "playlist/playlistmodel.h"

#include "playlist/thumbnailprobe.h"

#include <QFileInfo>
#include <QIcon>

namespace {

bool isAudioPath(const QString &path)
{
    return path.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".flac"), Qt::CaseInsensitive);
}

} // namespace

PlaylistModel::PlaylistModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

PlaylistModel::~PlaylistModel() = default;

int PlaylistModel::rowCount(const QModelIndex &parent) const
{
    Q_UNUSED(parent)
    return int(files.size());
}

QVariant PlaylistModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= files.size())
        return QVariant();
    const QString &path = files.at(index.row());

    switch (role) {
    case Qt::DisplayRole:
        return QFileInfo(path).fileName();
    case Qt::ToolTipRole:
        return path;
    case Qt::DecorationRole: {
        if (isAudioPath(path))
            return QIcon(QStringLiteral(":/icons/audio-icon.svg"));
        auto cached = thumbnailCache.constFind(path);
        if (cached == thumbnailCache.constEnd()) {
            // Failures are not remembered: the file may be complete by the next repaint.
            const QImage thumbnail = generateThumbnail(path);
            if (thumbnail.isNull())
                return QImage();
            cached = thumbnailCache.insert(path, thumbnail);
        }
        return cached.value();
    }
    default:
        return QVariant();
    }
}

void PlaylistModel::addFile(const QString &path)
{
    const int row = int(files.size());
    beginInsertRows(QModelIndex(), row, row);
    files.append(path);
    endInsertRows();
}

void PlaylistModel::removeFile(int row)
{
    if (row < 0 || row >= files.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    const QString path = files.takeAt(row);
    thumbnailCache.remove(path);
    endRemoveRows();
}

void PlaylistModel::clear()
{
    beginResetModel();
    files.clear();
    thumbnailCache.clear();
    endResetModel();
}

QString PlaylistModel::filePath(int row) const
{
    if (row < 0 || row >= files.size())
        return QString();
    return files.at(row);
}

int PlaylistModel::count() const
{
    return int(files.size());
}

QImage PlaylistModel::generateThumbnail(const QString &path) const
{
    return thumbnailprobe::cropThumbnail(thumbnailprobe::firstFrame(path));
}
