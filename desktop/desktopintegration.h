#pragma once

#include <QObject>
#include <QString>

#include <functional>

// The player as the desktop sees it: the media keys, the panel's media widget, a
// phone's remote, a second start of the program and the screen saver. The window
// reports its state through the setters and acts on the request signals; it knows
// nothing of how (or whether) the platform carries them.
//
// Thread: the GUI thread owns it; every call comes from there, and every request
// signal is emitted there, after the desktop's own call has been answered, so a
// caller never waits on what the window does with it.
class DesktopIntegration : public QObject
{
    Q_OBJECT

public:
    enum class Playback { Stopped, Playing, Paused };

    struct Track {
        QString path;            // empty: nothing is loaded
        QString title;           // from the file's tags; empty: its name stands in
        QString artist;
        QString album;
        qint64 lengthMs = 0;     // 0: unknown
        bool hasPicture = false; // a moving picture, which keeps the screen awake while it plays
    };

    struct Abilities {
        bool canPlay = false;
        bool canSeek = false;
        bool canGoPrevious = false;
        bool canGoNext = false;
    };

    // Where the build has a desktop bus and the session offers one, the real thing;
    // otherwise an integration that does nothing, so the program runs on its own.
    static DesktopIntegration *create(QObject *parent = nullptr);

    // Called once, before the window exists. Either this process becomes the
    // session's one player and false comes back, or the player already running has
    // been handed `file` (an absolute path; empty asks it to come to the front) and
    // true comes back: this process has nothing left to do.
    virtual bool handOverToRunningInstance(const QString &file) = 0;

    virtual void setPlayback(Playback playback) = 0;
    // Each call with a path is a new load, even of the same file.
    virtual void setTrack(const Track &track) = 0;
    virtual void setAbilities(const Abilities &abilities) = 0;
    virtual void setVolume(int percent) = 0;
    // Asked for the playback position (ms) whenever the desktop wants it; it moves
    // too often to be announced.
    virtual void setPositionSource(std::function<qint64()> source) = 0;
    // The position jumped to `positionMs` other than by playing on.
    virtual void notifySeeked(qint64 positionMs) = 0;

signals:
    void playRequested();
    void pauseRequested();
    void playPauseRequested();
    void stopRequested();
    void nextRequested();
    void previousRequested();
    void seekByRequested(qint64 offsetMs);
    void setPositionRequested(qint64 positionMs);
    // A local file to play now (absolute path).
    void openRequested(const QString &path);
    void raiseRequested();
    void volumeRequested(int percent);

protected:
    using QObject::QObject;
};
