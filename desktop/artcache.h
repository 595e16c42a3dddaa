#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QUrl>

// Pictures for the desktop's media widget: the file's own cover, or the first frame
// of its video, written once as a PNG into the cache folder so that a URL can name
// it. A file keeps its picture while its size and time stamp stay the same; the
// folder keeps the most recent pictures only.
//
// Thread: the GUI thread owns it and receives artReady. The pictures are made on a
// worker thread of its own, which touches only the media file it reads and the
// cache folder; the destructor waits for the one picture in progress.
class ArtCache : public QObject
{
    Q_OBJECT

public:
    explicit ArtCache(QObject *parent = nullptr);
    ~ArtCache() override;

    // Answers with artReady(path, url) soon; the URL is empty when the file has no
    // picture. A request still waiting when the next one comes is dropped unanswered.
    void request(const QString &path);

    // Where the pictures go.
    static QString folder();

signals:
    void artReady(const QString &path, const QUrl &url);

private:
    QThreadPool worker;
};
