#pragma once

// Owning thread: the thumbnail worker's thread, the only one that may call it.
// Touches only files inside its own folder.

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QSet>
#include <QString>

// The size and modification time a file had when it was looked at. A thumbnail or a
// "no picture" answer holds for exactly that pair: any change asks again.
struct FileStamp {
    qint64 size = -1;
    qint64 modifiedMs = 0;

    bool isValid() const { return size >= 0; }
    friend bool operator==(const FileStamp &a, const FileStamp &b)
    {
        return a.size == b.size && a.modifiedMs == b.modifiedMs;
    }
    friend bool operator!=(const FileStamp &a, const FileStamp &b) { return !(a == b); }
};

// Thumbnails kept on disk between runs, one small file each, named after a hash of
// the media file's path, size and modification time. Every file carries its full key
// and a checksum: a damaged, foreign or mismatched file is deleted and treated as a
// miss, never shown. The folder is held under a byte budget by deleting the files
// used longest ago. "No picture" answers are kept too, so a file without one is not
// probed again at the next start.
class ThumbnailCache
{
public:
    static constexpr qint64 defaultBudget = 32 * 1024 * 1024;

    // An empty folder keeps answers in memory only.
    explicit ThumbnailCache(const QString &folder, qint64 budgetBytes = defaultBudget);

    enum class Result { Miss, Picture, NoPicture };
    struct Entry {
        Result result = Result::Miss;
        QImage picture;
    };
    Entry load(const QString &path, const FileStamp &stamp);

    // A picture that is not a thumbnail (thumbnailprobe::thumbnailEdge square) is not kept.
    void storePicture(const QString &path, const FileStamp &stamp, const QImage &picture);
    void storeNoPicture(const QString &path, const FileStamp &stamp);

    // The file that holds, or would hold, the answer for this key.
    QString fileFor(const QString &path, const FileStamp &stamp) const;
    qint64 bytesOnDisk();

    // <user's cache folder>/thumbnails
    static QString defaultFolder();

private:
    struct Stored {
        qint64 bytes = 0;
        qint64 usedMs = 0;
    };

    void scanFolder();
    void write(const QString &path, const FileStamp &stamp, const QImage &picture);
    void forget(const QString &fileName);
    void keepWithinBudget();
    void remember(const QByteArray &key, const QImage &picture);
    qint64 useClock();

    QString folder;
    qint64 budget;
    bool scanned = false;
    qint64 total = 0;
    qint64 lastUse = 0;
    QHash<QString, Stored> stored;     // by file name
    QSet<QByteArray> noPictureKeys;    // also when the disk refuses to keep them
    // The last pictures made or read, so that a request arriving again while its
    // answer is on the way is served without the disk or the probe.
    QHash<QByteArray, QImage> recent;
    QList<QByteArray> recentOrder;
};
