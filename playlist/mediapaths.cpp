#include "playlist/mediapaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace mediapaths {

Kind kindOf(const QString &path)
{
    if (path.isEmpty())
        return Kind::Missing;
    // QFileInfo stats (following links) and never opens; it files pipes, sockets and
    // devices under neither isFile() nor isDir().
    const QFileInfo info(path);
    if (!info.exists())
        return Kind::Missing;
    if (info.isFile())
        return Kind::RegularFile;
    if (info.isDir())
        return Kind::Folder;
    return Kind::Other;
}

bool isPlayableFile(const QString &path)
{
    return kindOf(path) == Kind::RegularFile;
}

const QStringList &namePatterns()
{
    static const QStringList patterns = {
        QStringLiteral("*.mp4"), QStringLiteral("*.avi"), QStringLiteral("*.mkv"),
        QStringLiteral("*.mov"), QStringLiteral("*.mp3"), QStringLiteral("*.flac"),
        QStringLiteral("*.wav"),
    };
    return patterns;
}

QStringList scanFolder(const QString &folder)
{
    if (folder.isEmpty())
        return {};
    QDir dir(folder);
    dir.setNameFilters(namePatterns());
    // QDir::Files alone leaves out pipes and devices, but not a link to one: every
    // entry is checked again below on what its links lead to.
    dir.setFilter(QDir::Files);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    const QFileInfoList entries = dir.entryInfoList();
    QStringList files;
    files.reserve(entries.size());
    for (const QFileInfo &entry : entries) {
        if (entry.isFile())
            files.append(dir.filePath(entry.fileName()));
    }
    return files;
}

Intake sortOut(const QStringList &paths)
{
    Intake intake;
    for (const QString &path : paths) {
        switch (kindOf(path)) {
        case Kind::RegularFile:
            intake.accepted.append(path);
            break;
        case Kind::Folder:
            intake.accepted.append(scanFolder(path));
            break;
        case Kind::Missing:
        case Kind::Other:
            intake.rejected.append(path);
            break;
        }
    }
    return intake;
}

QString rejectionText(const QString &path)
{
    if (kindOf(path) == Kind::Missing)
        return QCoreApplication::translate("mediapaths", "文件不存在: %1").arg(path);
    return QCoreApplication::translate("mediapaths", "不是普通文件，无法播放: %1").arg(path);
}

} // namespace mediapaths
