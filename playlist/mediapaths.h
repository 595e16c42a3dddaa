#pragma once

#include <QString>
#include <QStringList>

// What the player takes in as media, decided from a path without ever opening it.
// Opening a named pipe blocks until a writer appears and a device may never end, so
// anything but a regular file is turned away before FFmpeg sees it. Safe on any thread.
namespace mediapaths {

enum class Kind {
    Missing,     // nothing there, or a link that leads nowhere
    RegularFile,
    Folder,
    Other,       // named pipe, socket, device
};

// What the path names once symbolic links are followed.
Kind kindOf(const QString &path);

// A regular file (possibly behind links): the only kind given to FFmpeg.
bool isPlayableFile(const QString &path);

// The file name patterns the dialogs and the folder scan offer, video first.
const QStringList &namePatterns();

// The regular files directly in a folder whose names match namePatterns() (letter
// case ignored), sorted by name ignoring case, as folder/name. No recursion.
QStringList scanFolder(const QString &folder);

// Paths dropped or chosen by the user, sorted out: regular files are accepted in
// their order, a folder is replaced by its scan, anything else is rejected.
struct Intake {
    QStringList accepted;
    QStringList rejected;
};
Intake sortOut(const QStringList &paths);

// The message that tells the user why a path was turned away.
QString rejectionText(const QString &path);

} // namespace mediapaths
