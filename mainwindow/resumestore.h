#pragma once

// GUI thread only (it reads and writes the settings store).

#include <QString>
#include <QtGlobal>

// Where long files were left, so that opening one again starts there. Kept in the
// settings store under a group of its own, most recently left first, at most
// `capacity` files. A file is known by its canonical path together with its size
// and modification time: a file changed since is not taken for the one left.
class ResumeStore
{
public:
    static constexpr qint64 minimumDurationMs = 5 * 60 * 1000;
    // Less than this into a file is hardly a place to come back to.
    static constexpr qint64 minimumProgressMs = 10 * 1000;
    static constexpr int capacity = 200;

    static QString group();

    // The rule: a file longer than five minutes, left after the first few seconds
    // and before its last twentieth.
    static bool worthKeeping(qint64 positionMs, qint64 durationMs);

    // Notes where a file was left: remembered when worth keeping, otherwise (played
    // to the end, left near the start, too short) any earlier place is forgotten.
    void leave(const QString &path, qint64 positionMs, qint64 durationMs);
    // Where to start the file, or -1: nothing kept, the file has changed since, or
    // the place no longer qualifies (such an entry is dropped).
    qint64 resumePosition(const QString &path, qint64 durationMs);
    // Forgets every file (the application's reset).
    static void clear();
};
