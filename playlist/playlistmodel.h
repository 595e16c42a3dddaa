#pragma once

// Threads: lives on the GUI thread and answers from memory only; a ThumbnailWorker
// of its own looks at files, keeps the disk cache and makes thumbnails, and hands
// its answers back in batches, announced by a queued signal.

#include "playlist/thumbnailcache.h"
#include "playlist/thumbnailprobe.h"

#include <QAbstractListModel>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QStringList>

#include <memory>

class QTimer;
class ThumbnailWorker;

// The playlist: media paths in order, shown with their file names, full paths as
// tooltips, and a small picture: an audio icon, a thumbnail of the first frame, or
// an icon that says there is no picture. Entries whose file is missing or is not a
// regular file stay in the list, dimmed, until the file is back; entries the window
// could not play are marked as such.
class PlaylistModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum class Thumbnail {
        Pending,   // not known yet; asked for when the row is painted
        Picture,
        NoPicture, // the probe found none, or the file is unavailable
        Audio,     // by its name; never probed
    };

    // Thumbnails come from defaultProbe(), kept in the user's cache folder.
    explicit PlaylistModel(QObject *parent = nullptr);
    // The probe and the cache folder given; an empty folder keeps nothing on disk.
    PlaylistModel(thumbnailprobe::Probe probe, const QString &cacheFolder,
                  QObject *parent = nullptr);
    // Returns promptly even while a probe reads a large file: it is broken off.
    ~PlaylistModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void addFile(const QString &path);
    // One insertion for all of them.
    void addFiles(const QStringList &paths);
    void removeFile(int row);
    void clear();
    QString filePath(int row) const;
    int count() const;

    // False once a look at the file found it missing or not a regular file; true
    // before the first look. Play-through skips unavailable entries.
    bool isAvailable(int row) const;
    // Has every entry's file looked at again now; the model also does so every
    // recheckInterval() ms. An entry whose file is back becomes available, and one
    // whose file changed gets a new thumbnail.
    void recheckFiles();
    void setRecheckInterval(int ms);
    int recheckInterval() const;

    // Marks an entry the window failed to play, or clears the mark.
    void setFailed(int row, bool failed);
    bool hasFailed(int row) const;

    Thumbnail thumbnailState(int row) const;

    // The thumbnail made on the calling thread, bypassing the worker and the cache.
    QImage generateThumbnail(const QString &path) const;

    // thumbnailprobe::firstFrame, asked for no more than a thumbnail needs.
    static thumbnailprobe::Probe defaultProbe();

private:
    struct Row {
        QString path;
        bool failed = false;
    };
    // What is known about one path, shared by all rows that hold it.
    struct FileState {
        int rows = 0;
        bool exists = true;
        bool available = true;
        FileStamp stamp;
        Thumbnail thumbnail = Thumbnail::Pending;
        QImage picture;
    };

    void takeAnswers();
    bool applyStamp(FileState &state, bool exists, bool available, const FileStamp &stamp);
    void emitChanged(const QSet<QString> &paths, const QList<int> &roles);

    QList<Row> rows;
    QHash<QString, FileState> files;
    thumbnailprobe::Probe probe;
    std::unique_ptr<ThumbnailWorker> worker;
    QTimer *recheckTimer;
    const QIcon audioIcon;
    const QIcon noPictureIcon;
};
