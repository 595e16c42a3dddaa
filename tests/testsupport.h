#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class PlaylistModel;
class QTimer;

namespace testsupport {

// Absolute path of a file made by the media fixture (tests/media/make-media.sh).
QString mediaPath(const QString &name);

// Absolute path inside the test's own scratch folder under the build tree.
QString scratchPath(const QString &name);

// Every entry of a playlist, in order.
QStringList playlistEntries(const PlaylistModel &model);

// Closes every modal message box as soon as it appears and remembers what it said,
// so that a test neither hangs on a box nor misses one.
class MessageBoxCloser : public QObject
{
    Q_OBJECT
public:
    struct Box {
        QString title;
        QString text;
    };

    explicit MessageBoxCloser(QObject *parent = nullptr);

    // Which button to press for question boxes (QMessageBox::StandardButton).
    void setAnswer(int button) { answer = button; }

    const QList<Box> &boxes() const { return seen; }
    void clear() { seen.clear(); }

private:
    void poll();

    QTimer *timer;
    QList<Box> seen;
    int answer;
};

} // namespace testsupport
