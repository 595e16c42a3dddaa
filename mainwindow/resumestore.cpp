#include "mainwindow/resumestore.h"

#include <QDateTime>
#include <QFileInfo>
#include <QList>
#include <QSettings>

namespace {

const QString kOrganisation = QStringLiteral("Zeltora");
const QString kApplication = QStringLiteral("Zeltora");
const QString kFiles = QStringLiteral("files");

struct Entry {
    QString path;
    qint64 position = 0;
    qint64 size = -1;
    qint64 modified = -1; // ms since the epoch
};

// The file's identity on disk; an empty path when it does not exist.
Entry describe(const QString &path)
{
    Entry entry;
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return entry;
    entry.path = info.canonicalFilePath();
    entry.size = info.size();
    entry.modified = info.lastModified().toMSecsSinceEpoch();
    return entry;
}

QList<Entry> readEntries(QSettings &settings)
{
    QList<Entry> entries;
    settings.beginGroup(ResumeStore::group());
    const int count = settings.beginReadArray(kFiles);
    for (int i = 0; i < count && entries.size() < ResumeStore::capacity; ++i) {
        settings.setArrayIndex(i);
        Entry entry;
        bool positionOk = false, sizeOk = false, modifiedOk = false;
        entry.path = settings.value(QStringLiteral("path")).toString();
        entry.position = settings.value(QStringLiteral("position")).toLongLong(&positionOk);
        entry.size = settings.value(QStringLiteral("size")).toLongLong(&sizeOk);
        entry.modified = settings.value(QStringLiteral("modified")).toLongLong(&modifiedOk);
        // A damaged store loses the damaged entries, not the others.
        if (!entry.path.isEmpty() && positionOk && sizeOk && modifiedOk && entry.position > 0)
            entries.append(entry);
    }
    settings.endArray();
    settings.endGroup();
    return entries;
}

void writeEntries(QSettings &settings, const QList<Entry> &entries)
{
    settings.remove(ResumeStore::group());
    settings.beginGroup(ResumeStore::group());
    settings.beginWriteArray(kFiles, int(entries.size()));
    for (int i = 0; i < entries.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("path"), entries[i].path);
        settings.setValue(QStringLiteral("position"), entries[i].position);
        settings.setValue(QStringLiteral("size"), entries[i].size);
        settings.setValue(QStringLiteral("modified"), entries[i].modified);
    }
    settings.endArray();
    settings.endGroup();
    settings.sync();
}

qsizetype indexOf(const QList<Entry> &entries, const QString &path)
{
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries[i].path == path)
            return i;
    }
    return -1;
}

} // namespace

QString ResumeStore::group()
{
    return QStringLiteral("Resume");
}

bool ResumeStore::worthKeeping(qint64 positionMs, qint64 durationMs)
{
    if (durationMs <= minimumDurationMs || positionMs <= minimumProgressMs)
        return false;
    // position < 95 % of the duration, without overflow for any qint64 duration.
    return positionMs < durationMs - durationMs / 20;
}

void ResumeStore::leave(const QString &path, qint64 positionMs, qint64 durationMs)
{
    Entry here = describe(path);
    if (here.path.isEmpty())
        return;
    QSettings settings(kOrganisation, kApplication);
    QList<Entry> entries = readEntries(settings);
    const qsizetype known = indexOf(entries, here.path);
    if (known >= 0)
        entries.removeAt(known);
    else if (!worthKeeping(positionMs, durationMs))
        return; // nothing to forget, nothing to write
    if (worthKeeping(positionMs, durationMs)) {
        here.position = positionMs;
        entries.prepend(here);
        while (entries.size() > capacity)
            entries.removeLast();
    }
    writeEntries(settings, entries);
}

qint64 ResumeStore::resumePosition(const QString &path, qint64 durationMs)
{
    const Entry here = describe(path);
    if (here.path.isEmpty())
        return -1;
    QSettings settings(kOrganisation, kApplication);
    QList<Entry> entries = readEntries(settings);
    const qsizetype known = indexOf(entries, here.path);
    if (known < 0)
        return -1;
    const Entry kept = entries[known];
    if (kept.size == here.size && kept.modified == here.modified && worthKeeping(kept.position, durationMs))
        return kept.position;
    entries.removeAt(known);
    writeEntries(settings, entries);
    return -1;
}

void ResumeStore::clear()
{
    QSettings settings(kOrganisation, kApplication);
    settings.remove(group());
    settings.sync();
}
