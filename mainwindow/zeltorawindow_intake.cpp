// How media reach the playlist (dialogs, drops) and how the user moves through it.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "playback/playbackcontroller.h"
#include "playlist/playlistmodel.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>

namespace {

// The kinds of media the dialogs and the folder scan offer, video first.
const QStringList &mediaNamePatterns()
{
    static const QStringList patterns = {
        QStringLiteral("*.mp4"), QStringLiteral("*.avi"), QStringLiteral("*.mkv"),
        QStringLiteral("*.mov"), QStringLiteral("*.mp3"), QStringLiteral("*.flac"),
        QStringLiteral("*.wav"),
    };
    return patterns;
}

QString moviesFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
}

// Empty when the path is empty or names nothing on disk.
QString canonicalPath(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
}

// The loaded file, as playlist entries are compared with it: by canonical path, or,
// when the file has vanished since it was opened, by absolute path (the entry it
// was loaded from still names it). Nothing loaded matches nothing, and neither does
// an empty path, so a vanished entry is never taken for "nothing open".
struct LoadedFile {
    QString canonical;
    QString absolute;

    explicit LoadedFile(const PlaybackController *player)
    {
        const QString file = player->currentFile();
        if (file.isEmpty())
            return;
        canonical = canonicalPath(file);
        if (canonical.isEmpty())
            absolute = QFileInfo(file).absoluteFilePath();
    }

    bool matches(const QString &entry) const
    {
        if (!canonical.isEmpty())
            return canonicalPath(entry) == canonical;
        return !absolute.isEmpty() && !entry.isEmpty() && QFileInfo(entry).absoluteFilePath() == absolute;
    }
};

} // namespace

QStringList ZeltoraWindow::askOpenFileNames()
{
    const QString filter = QStringLiteral("Media Files (%1)").arg(mediaNamePatterns().join(QLatin1Char(' ')));
    return QFileDialog::getOpenFileNames(this, QStringLiteral("Open Media File"), moviesFolder(), filter);
}

QString ZeltoraWindow::askExistingDirectory()
{
    return QFileDialog::getExistingDirectory(this, tr("选择媒体文件夹"), moviesFolder(),
                                             QFileDialog::ShowDirsOnly);
}

void ZeltoraWindow::startIfIdle()
{
    if (isPlaying || playlistModel->count() < 1)
        return;
    loadMedia(playlistModel->filePath(0));
    play();
}

void ZeltoraWindow::openFile()
{
    const QStringList files = askOpenFileNames();
    if (files.isEmpty())
        return;
    for (const QString &file : files)
        playlistModel->addFile(file);
    startIfIdle();
}

void ZeltoraWindow::openFolder()
{
    const QString folder = askExistingDirectory();
    if (folder.isEmpty())
        return;

    // QDir's own sort (by name, ignoring case) and case-blind name filters apply.
    QDir dir(folder);
    dir.setNameFilters(mediaNamePatterns());
    dir.setFilter(QDir::Files);
    const QStringList names = dir.entryList();
    if (names.isEmpty())
        return;
    for (const QString &name : names)
        playlistModel->addFile(dir.filePath(name));
    startIfIdle();
}

void ZeltoraWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ZeltoraWindow::dropEvent(QDropEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if (!mime->hasUrls())
        return;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            continue;
        if (isSubtitleFileName(path))
            takeDroppedSubtitle(path);
        else
            playlistModel->addFile(path);
    }
    event->acceptProposedAction();
    startIfIdle();
}

int ZeltoraWindow::currentRow() const
{
    const LoadedFile loaded(player);
    const int rows = playlistModel->count();
    for (int row = 0; row < rows; ++row) {
        if (loaded.matches(playlistModel->filePath(row)))
            return row;
    }
    return -1;
}

void ZeltoraWindow::playlistClicked(QModelIndex index)
{
    if (!index.isValid())
        return;
    loadMedia(playlistModel->filePath(index.row()));
    play();
}

void ZeltoraWindow::showPlaylistContextMenu(const QPoint &pos)
{
    const QModelIndex index = ui->playlistView->indexAt(pos);
    QMenu menu(this);
    QAction *playEntry = nullptr;
    QAction *removeEntry = nullptr;
    QAction *clearAll = nullptr;
    if (index.isValid()) {
        playEntry = menu.addAction(tr("播放"));
        removeEntry = menu.addAction(tr("删除"));
        menu.addSeparator();
    }
    if (playlistModel->count() > 0)
        clearAll = menu.addAction(tr("清空播放列表"));
    if (menu.actions().isEmpty())
        return;

    // Acted on after the menu has closed, so no command runs inside its event loop.
    QAction *chosen = menu.exec(ui->playlistView->viewport()->mapToGlobal(pos));
    if (!chosen)
        return;
    if (chosen == playEntry) {
        loadMedia(playlistModel->filePath(index.row()));
        play();
    } else if (chosen == removeEntry) {
        removeFromPlaylist(index.row());
    } else if (chosen == clearAll) {
        clearPlaylist();
    }
}

void ZeltoraWindow::removeFromPlaylist(int row)
{
    if (row < 0 || row >= playlistModel->count())
        return;
    // Any copy of the loaded file counts, not only the first one.
    if (LoadedFile(player).matches(playlistModel->filePath(row)))
        stop();
    playlistModel->removeFile(row);
}

void ZeltoraWindow::clearPlaylist()
{
    stop();
    playlistModel->clear();
    updateControls();
}

void ZeltoraWindow::playNext()
{
    const int rows = playlistModel->count();
    if (rows < 2)
        return;
    const int row = currentRow();
    const int target = (row >= 0 && row < rows - 1) ? row + 1 : 0;
    stop();
    loadMedia(playlistModel->filePath(target));
    play();
}

void ZeltoraWindow::playPrevious()
{
    const int rows = playlistModel->count();
    if (rows < 2)
        return;
    const int row = currentRow();
    const int target = row > 0 ? row - 1 : rows - 1;
    stop();
    loadMedia(playlistModel->filePath(target));
    play();
}

void ZeltoraWindow::handlePlaybackFinished()
{
    stop();
    if (playlistModel->count() >= 1)
        playNext();
}
