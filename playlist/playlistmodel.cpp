#include "playlist/playlistmodel.h"

#include "playlist/thumbnailworker.h"

#include <QColor>
#include <QFileInfo>
#include <QIcon>
#include <QSet>
#include <QTimer>

namespace {

// Often enough that a file put back shows up while the user still looks at the list;
// a thousand stat calls every few seconds cost the worker well under a millisecond.
constexpr int defaultRecheckMs = 5000;

// Dimmed like the style sheet's disabled text, and a muted red for failures.
const QColor unavailableColour(0x77, 0x77, 0x77);
const QColor failedColour(0xd0, 0x5a, 0x4e);

bool isAudioPath(const QString &path)
{
    return path.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".flac"), Qt::CaseInsensitive);
}

// Shown while the thumbnail is on its way: empty, but of thumbnail size, so names
// do not move when it arrives.
const QImage &pendingPicture()
{
    static const QImage picture = [] {
        QImage image(thumbnailprobe::thumbnailEdge, thumbnailprobe::thumbnailEdge,
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        return image;
    }();
    return picture;
}

} // namespace

PlaylistModel::PlaylistModel(QObject *parent)
    : PlaylistModel(defaultProbe(), ThumbnailCache::defaultFolder(), parent)
{
}

thumbnailprobe::Probe PlaylistModel::defaultProbe()
{
    return [](const QString &path, const thumbnailprobe::Interrupt &interrupted) {
        return thumbnailprobe::firstFrame(path, interrupted, thumbnailprobe::thumbnailEdge);
    };
}

PlaylistModel::PlaylistModel(thumbnailprobe::Probe thumbnailProbe, const QString &cacheFolder,
                             QObject *parent)
    : QAbstractListModel(parent),
      probe(thumbnailProbe),
      worker(std::make_unique<ThumbnailWorker>(std::move(thumbnailProbe), cacheFolder)),
      recheckTimer(new QTimer(this)),
      // One object each, so their pixmaps are drawn once, not at every paint; made
      // here because the first one loads the SVG icon plugin, a few milliseconds.
      audioIcon(QStringLiteral(":/icons/audio-icon.svg")),
      noPictureIcon(QStringLiteral(":/icons/no-picture.svg"))
{
    connect(worker.get(), &ThumbnailWorker::answersReady, this, &PlaylistModel::takeAnswers,
            Qt::QueuedConnection);
    recheckTimer->setInterval(defaultRecheckMs);
    connect(recheckTimer, &QTimer::timeout, this, &PlaylistModel::recheckFiles);
}

// The worker goes first: its destructor breaks off a probe and joins its thread, so
// no answer is sent to a model half torn down.
PlaylistModel::~PlaylistModel() = default;

int PlaylistModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

QVariant PlaylistModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const Row &row = rows.at(index.row());
    const QString &path = row.path;
    const auto state = files.constFind(path);
    const bool unavailable = state != files.constEnd() && !state->available;

    switch (role) {
    case Qt::DisplayRole:
        return QFileInfo(path).fileName();
    case Qt::ToolTipRole:
        if (unavailable && !state->exists)
            return tr("文件不存在: %1").arg(path);
        if (unavailable)
            return tr("不是普通文件，无法播放: %1").arg(path);
        if (row.failed)
            return tr("无法播放: %1").arg(path);
        return path;
    case Qt::ForegroundRole:
        if (unavailable)
            return unavailableColour;
        if (row.failed)
            return failedColour;
        return QVariant();
    case Qt::DecorationRole: {
        if (isAudioPath(path))
            return audioIcon;
        if (state == files.constEnd())
            return QVariant();
        if (unavailable || state->thumbnail == Thumbnail::NoPicture)
            return noPictureIcon;
        if (state->thumbnail == Thumbnail::Picture)
            return state->picture;
        // Painting a row is what asks for its thumbnail, so what is on screen comes first.
        worker->requestThumbnail(path);
        return pendingPicture();
    }
    default:
        return QVariant();
    }
}

void PlaylistModel::addFile(const QString &path)
{
    addFiles({path});
}

void PlaylistModel::addFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    const int first = int(rows.size());
    QStringList newPaths;
    beginInsertRows(QModelIndex(), first, first + int(paths.size()) - 1);
    for (const QString &path : paths) {
        rows.append({path, false});
        FileState &state = files[path];
        if (state.rows++ == 0)
            newPaths.append(path);
    }
    endInsertRows();
    worker->requestChecks(newPaths);
    if (!recheckTimer->isActive() && recheckTimer->interval() > 0)
        recheckTimer->start();
}

void PlaylistModel::removeFile(int row)
{
    if (row < 0 || row >= rows.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    const QString path = rows.takeAt(row).path;
    if (auto state = files.find(path); state != files.end() && --state->rows <= 0) {
        files.erase(state);
        worker->cancel({path});
    }
    endRemoveRows();
    if (rows.isEmpty())
        recheckTimer->stop();
}

void PlaylistModel::clear()
{
    beginResetModel();
    rows.clear();
    files.clear();
    worker->cancelAll();
    recheckTimer->stop();
    endResetModel();
}

QString PlaylistModel::filePath(int row) const
{
    if (row < 0 || row >= rows.size())
        return QString();
    return rows.at(row).path;
}

int PlaylistModel::count() const
{
    return int(rows.size());
}

bool PlaylistModel::isAvailable(int row) const
{
    if (row < 0 || row >= rows.size())
        return false;
    const auto state = files.constFind(rows.at(row).path);
    return state == files.constEnd() || state->available;
}

void PlaylistModel::recheckFiles()
{
    worker->requestChecks(files.keys());
}

void PlaylistModel::setRecheckInterval(int ms)
{
    recheckTimer->setInterval(qMax(0, ms));
    if (ms <= 0)
        recheckTimer->stop();
    else if (!rows.isEmpty())
        recheckTimer->start();
}

int PlaylistModel::recheckInterval() const
{
    return recheckTimer->interval();
}

void PlaylistModel::setFailed(int row, bool failed)
{
    if (row < 0 || row >= rows.size() || rows.at(row).failed == failed)
        return;
    rows[row].failed = failed;
    const QModelIndex changed = index(row);
    emit dataChanged(changed, changed, {Qt::ToolTipRole, Qt::ForegroundRole});
}

bool PlaylistModel::hasFailed(int row) const
{
    return row >= 0 && row < rows.size() && rows.at(row).failed;
}

PlaylistModel::Thumbnail PlaylistModel::thumbnailState(int row) const
{
    if (row < 0 || row >= rows.size())
        return Thumbnail::Pending;
    const QString &path = rows.at(row).path;
    if (isAudioPath(path))
        return Thumbnail::Audio;
    const auto state = files.constFind(path);
    if (state == files.constEnd())
        return Thumbnail::Pending;
    return state->available ? state->thumbnail : Thumbnail::NoPicture;
}

QImage PlaylistModel::generateThumbnail(const QString &path) const
{
    return thumbnailprobe::cropThumbnail(probe ? probe(path, {}) : QImage());
}

// True when what is shown for the path changes.
bool PlaylistModel::applyStamp(FileState &state, bool exists, bool available, const FileStamp &stamp)
{
    bool changed = state.exists != exists || state.available != available;
    state.exists = exists;
    state.available = available;
    // A thumbnail or a "no picture" holds for the file as it was: once it changes,
    // the next paint asks again.
    if (state.stamp != stamp) {
        state.stamp = stamp;
        if (state.thumbnail != Thumbnail::Pending) {
            state.thumbnail = Thumbnail::Pending;
            state.picture = QImage();
            changed = true;
        }
    }
    return changed;
}

void PlaylistModel::takeAnswers()
{
    // Paths whose thumbnail arrived, and paths whose availability (and so their
    // tooltip, colour and decoration) changed.
    QSet<QString> newPictures, changed;
    const QList<WorkerAnswer> answers = worker->takeAnswers();
    for (const WorkerAnswer &answer : answers) {
        const FileCheck &check = answer.check;
        const auto state = files.find(check.path);
        if (state == files.end())
            continue; // removed since it was asked for
        if (applyStamp(*state, check.exists, check.available, check.stamp))
            changed.insert(check.path);
        if (answer.hasThumbnail) {
            state->thumbnail = answer.thumbnail.isNull() ? Thumbnail::NoPicture : Thumbnail::Picture;
            state->picture = answer.thumbnail;
            newPictures.insert(check.path);
        }
    }
    newPictures.subtract(changed);
    emitChanged(changed, {Qt::DecorationRole, Qt::ToolTipRole, Qt::ForegroundRole});
    emitChanged(newPictures, {Qt::DecorationRole});
}

// One signal over the span of rows that hold any of the paths.
void PlaylistModel::emitChanged(const QSet<QString> &paths, const QList<int> &roles)
{
    if (paths.isEmpty())
        return;
    int first = -1, last = -1;
    for (int row = 0; row < rows.size(); ++row) {
        if (paths.contains(rows.at(row).path)) {
            if (first < 0)
                first = row;
            last = row;
        }
    }
    if (first >= 0)
        emit dataChanged(index(first), index(last), roles);
}
