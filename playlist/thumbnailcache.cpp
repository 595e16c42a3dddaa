#include "playlist/thumbnailcache.h"

#include "playlist/thumbnailprobe.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <vector>

Q_LOGGING_CATEGORY(lcThumbnailCache, "zeltora.thumbnailcache", QtWarningMsg)

namespace {

// Layout of a cache file, all numbers little-endian:
//   8 bytes   magic and format version
//   4 bytes   key length, then the key (UTF-8 path, size, modification time)
//   1 byte    0: the file has no picture; 1: a picture follows
//   2+2 bytes width and height, then the pixels row by row as RGBX8888
//  20 bytes   SHA-1 of everything before
constexpr char magic[8] = {'Z', 'L', 'T', 'H', 'M', 'B', '0', '1'};
constexpr int digestBytes = 20;
constexpr quint8 kindNoPicture = 0;
constexpr quint8 kindPicture = 1;
constexpr int edge = thumbnailprobe::thumbnailEdge;
// Anything longer than a thumbnail with a generous key is not one of ours.
constexpr qint64 maxFileBytes = 64 * 1024;
constexpr int recentPictures = 64;

const QString fileSuffix = QStringLiteral(".thumb");

QByteArray keyOf(const QString &path, const FileStamp &stamp)
{
    return path.toUtf8() + '\n' + QByteArray::number(stamp.size) + '\n'
        + QByteArray::number(stamp.modifiedMs);
}

QString fileNameOf(const QByteArray &key)
{
    return QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex())
        + fileSuffix;
}

template <typename T>
void appendNumber(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T>
bool readNumber(const QByteArray &in, qsizetype &pos, T *value)
{
    if (pos < 0 || in.size() - pos < qsizetype(sizeof(T)))
        return false;
    *value = qFromLittleEndian<T>(in.constData() + pos);
    pos += sizeof(T);
    return true;
}

QByteArray encode(const QByteArray &key, const QImage &picture)
{
    QByteArray data;
    data.append(magic, sizeof magic);
    appendNumber<quint32>(data, quint32(key.size()));
    data.append(key);
    if (picture.isNull()) {
        data.append(char(kindNoPicture));
    } else {
        // RGBX8888 has the same byte order on every machine.
        const QImage pixels = picture.convertToFormat(QImage::Format_RGBX8888);
        data.append(char(kindPicture));
        appendNumber<quint16>(data, quint16(pixels.width()));
        appendNumber<quint16>(data, quint16(pixels.height()));
        for (int y = 0; y < pixels.height(); ++y)
            data.append(reinterpret_cast<const char *>(pixels.constScanLine(y)), pixels.width() * 4);
    }
    data.append(QCryptographicHash::hash(data, QCryptographicHash::Sha1));
    return data;
}

// False for anything but a whole, intact file written for exactly this key.
bool decode(const QByteArray &data, const QByteArray &key, ThumbnailCache::Entry *entry)
{
    if (data.size() < qsizetype(sizeof magic) + 4 + 1 + digestBytes)
        return false;
    const QByteArray body = data.first(data.size() - digestBytes);
    if (QCryptographicHash::hash(body, QCryptographicHash::Sha1) != data.last(digestBytes))
        return false;
    if (!body.startsWith(QByteArray::fromRawData(magic, sizeof magic)))
        return false;

    qsizetype pos = sizeof magic;
    quint32 keyLength = 0;
    if (!readNumber(body, pos, &keyLength) || keyLength != quint32(key.size())
        || body.mid(pos, key.size()) != key)
        return false;
    pos += key.size();
    quint8 kind = 0;
    if (!readNumber(body, pos, &kind))
        return false;
    if (kind == kindNoPicture && pos == body.size()) {
        entry->result = ThumbnailCache::Result::NoPicture;
        return true;
    }
    quint16 width = 0, height = 0;
    if (kind != kindPicture || !readNumber(body, pos, &width) || !readNumber(body, pos, &height)
        || width != edge || height != edge || body.size() - pos != qsizetype(edge) * edge * 4)
        return false;
    QImage pixels(edge, edge, QImage::Format_RGBX8888);
    if (pixels.isNull())
        return false;
    for (int y = 0; y < edge; ++y)
        memcpy(pixels.scanLine(y), body.constData() + pos + qsizetype(y) * edge * 4, edge * 4);
    entry->result = ThumbnailCache::Result::Picture;
    entry->picture = pixels.convertToFormat(QImage::Format_RGB32);
    return true;
}

} // namespace

ThumbnailCache::ThumbnailCache(const QString &folder, qint64 budgetBytes)
    : folder(folder), budget(budgetBytes)
{
}

QString ThumbnailCache::defaultFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return base.isEmpty() ? QString() : base + QStringLiteral("/thumbnails");
}

QString ThumbnailCache::fileFor(const QString &path, const FileStamp &stamp) const
{
    if (folder.isEmpty())
        return QString();
    return folder + QLatin1Char('/') + fileNameOf(keyOf(path, stamp));
}

ThumbnailCache::Entry ThumbnailCache::load(const QString &path, const FileStamp &stamp)
{
    const QByteArray key = keyOf(path, stamp);
    if (noPictureKeys.contains(key))
        return {Result::NoPicture, QImage()};
    if (const auto it = recent.constFind(key); it != recent.constEnd()) {
        // Written or read moments ago, so its time on disk is recent enough.
        if (auto use = stored.find(fileNameOf(key)); use != stored.end())
            use->usedMs = useClock();
        return {Result::Picture, it.value()};
    }
    if (folder.isEmpty())
        return {};

    const QString name = fileNameOf(key);
    QFile file(folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Entry entry;
    if (file.size() > maxFileBytes || !decode(file.read(maxFileBytes), key, &entry)) {
        qCDebug(lcThumbnailCache) << "Ignoring a damaged cache file" << file.fileName() << "for" << path;
        file.close();
        forget(name);
        return {};
    }
    // The modification time doubles as the time of last use, which decides what
    // goes first when the folder is over its budget.
    const qint64 now = useClock();
    file.setFileTime(QDateTime::fromMSecsSinceEpoch(now, Qt::UTC), QFileDevice::FileModificationTime);
    if (auto it = stored.find(name); it != stored.end())
        it->usedMs = now;
    if (entry.result == Result::NoPicture)
        noPictureKeys.insert(key);
    else
        remember(key, entry.picture);
    return entry;
}

void ThumbnailCache::storePicture(const QString &path, const FileStamp &stamp, const QImage &picture)
{
    if (picture.isNull() || picture.size() != QSize(edge, edge))
        return;
    remember(keyOf(path, stamp), picture);
    write(path, stamp, picture);
}

void ThumbnailCache::remember(const QByteArray &key, const QImage &picture)
{
    if (recent.contains(key))
        return;
    recent.insert(key, picture);
    recentOrder.append(key);
    if (recentOrder.size() > recentPictures)
        recent.remove(recentOrder.takeFirst());
}

void ThumbnailCache::storeNoPicture(const QString &path, const FileStamp &stamp)
{
    noPictureKeys.insert(keyOf(path, stamp));
    write(path, stamp, QImage());
}

qint64 ThumbnailCache::bytesOnDisk()
{
    scanFolder();
    return total;
}

void ThumbnailCache::scanFolder()
{
    if (scanned || folder.isEmpty())
        return;
    scanned = true;
    if (!QDir().mkpath(folder)) {
        qCWarning(lcThumbnailCache) << "Cannot create the thumbnail cache folder" << folder;
        return;
    }
    const QFileInfoList files = QDir(folder).entryInfoList({QLatin1Char('*') + fileSuffix}, QDir::Files);
    for (const QFileInfo &info : files) {
        const qint64 usedMs = info.lastModified().toMSecsSinceEpoch();
        stored.insert(info.fileName(), {info.size(), usedMs});
        total += info.size();
        lastUse = qMax(lastUse, usedMs);
    }
}

void ThumbnailCache::write(const QString &path, const FileStamp &stamp, const QImage &picture)
{
    if (folder.isEmpty())
        return;
    scanFolder();
    const QByteArray key = keyOf(path, stamp);
    const QString name = fileNameOf(key);
    const QByteArray data = encode(key, picture);

    // Written aside and renamed into place: a crash or a full disk never leaves a
    // half-written file under the real name.
    QSaveFile file(folder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        qCDebug(lcThumbnailCache) << "Cannot write" << file.fileName() << file.errorString();
        return;
    }
    const Stored previous = stored.value(name);
    total += data.size() - previous.bytes;
    stored.insert(name, {data.size(), useClock()});
    keepWithinBudget();
}

// The time of a use, later than every use before it in this run even within one
// millisecond, so that the order of eviction is the order of use.
qint64 ThumbnailCache::useClock()
{
    lastUse = qMax(QDateTime::currentMSecsSinceEpoch(), lastUse + 1);
    return lastUse;
}

void ThumbnailCache::forget(const QString &fileName)
{
    QFile::remove(folder + QLatin1Char('/') + fileName);
    if (auto it = stored.find(fileName); it != stored.end()) {
        total -= it->bytes;
        stored.erase(it);
    }
}

void ThumbnailCache::keepWithinBudget()
{
    if (total <= budget)
        return;
    // Down to nine tenths, so that the next few writes do not each delete a file.
    std::vector<std::pair<qint64, QString>> byAge;
    byAge.reserve(stored.size());
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        byAge.emplace_back(it->usedMs, it.key());
    std::sort(byAge.begin(), byAge.end());
    const qint64 target = budget / 10 * 9;
    for (const auto &[usedMs, name] : byAge) {
        if (total <= target)
            break;
        forget(name);
    }
}
