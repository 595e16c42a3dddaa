// How media reach the playlist (dialogs, drops) and how the user moves through it.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "playback/playbackcontroller.h"
#include "playlist/mediapaths.h"
#include "playlist/playlistmodel.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QStandardPaths>
#include <QUrl>

namespace {

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
    const QString filter = QStringLiteral("Media Files (%1)").arg(mediapaths::namePatterns().join(QLatin1Char(' ')));
    return QFileDialog::getOpenFileNames(this, QStringLiteral("Open Media File"), moviesFolder(), filter);
}

QString ZeltoraWindow::askExistingDirectory()
{
    return QFileDialog::getExistingDirectory(this, tr("选择媒体文件夹"), moviesFolder(),
                                             QFileDialog::ShowDirsOnly);
}

bool ZeltoraWindow::isIdle() const
{
    // A paused file is still the person's: new entries only join the list.
    return !isPlaying && !isPaused && !player->isLoading();
}

void ZeltoraWindow::startIfIdle(const QStringList &chosen)
{
    if (!isIdle())
        return;
    const int row = nextPlayableRow(-1, 1);
    if (row < 0)
        return;
    playDirection = 1;
    const bool named = chosen.contains(playlistModel->filePath(row));
    loadEntry(row, named ? LoadOrigin::Chosen : LoadOrigin::PlayThrough);
}

QStringList ZeltoraWindow::takeIn(const QStringList &paths, bool chosen)
{
    // Only looks at the paths (a stat each), never opens them: a named pipe among
    // them is turned away here instead of blocking an open.
    const mediapaths::Intake intake = mediapaths::sortOut(paths);
    playlistModel->addFiles(intake.accepted);
    if (!intake.rejected.isEmpty())
        reportRejected(intake.rejected, chosen);
    return intake.accepted;
}

void ZeltoraWindow::reportRejected(const QStringList &paths, bool chosen)
{
    if (chosen) {
        QStringList texts;
        for (const QString &path : paths)
            texts.append(mediapaths::rejectionText(path));
        QMessageBox::warning(this, tr("错误"), texts.join(QLatin1Char('\n')), QMessageBox::Ok,
                             QMessageBox::NoButton);
        return;
    }
    QString text = mediapaths::rejectionText(paths.first());
    if (paths.size() > 1)
        text += tr("（另有 %1 项未加入）").arg(paths.size() - 1);
    ui->statusBar->setText(text);
}

void ZeltoraWindow::openFile()
{
    const QStringList files = askOpenFileNames();
    if (files.isEmpty())
        return;
    const QStringList added = takeIn(files, true);
    // Everything chosen was turned away: nothing else starts in its place.
    if (added.isEmpty())
        return;
    startIfIdle(added);
}

void ZeltoraWindow::openFolder()
{
    const QString folder = askExistingDirectory();
    if (folder.isEmpty())
        return;
    // Regular files only, sorted by name ignoring case, by case-blind patterns.
    const QStringList files = mediapaths::scanFolder(folder);
    if (files.isEmpty())
        return;
    playlistModel->addFiles(files);
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
    QStringList paths;
    bool subtitles = false;
    for (const QUrl &url : urls) {
        const QString path = url.toLocalFile();
        if (path.isEmpty())
            continue;
        if (isSubtitleFileName(path)) {
            takeDroppedSubtitle(path);
            subtitles = true;
        } else {
            paths.append(path);
        }
    }
    event->acceptProposedAction();
    // A subtitle file alone is for the video on screen, not a reason to start one.
    if (subtitles && paths.isEmpty())
        return;
    takeIn(paths, false);
    startIfIdle();
}

int ZeltoraWindow::currentRow() const
{
    if (currentEntry.isValid())
        return currentEntry.row();
    const LoadedFile loaded(player);
    const int rows = playlistModel->count();
    for (int row = 0; row < rows; ++row) {
        if (loaded.matches(playlistModel->filePath(row)))
            return row;
    }
    return -1;
}

int ZeltoraWindow::nextPlayableRow(int from, int direction)
{
    const int rows = playlistModel->count();
    if (rows < 1)
        return -1;
    const bool fromEntry = from >= 0 && from < rows;
    const int first = fromEntry ? from + direction : (direction > 0 ? 0 : rows - 1);
    const int candidates = fromEntry ? rows - 1 : rows;
    bool modelBehind = false;
    int found = -1;
    for (int i = 0; i < candidates && found < 0; ++i) {
        const int row = ((first + i * direction) % rows + rows) % rows;
        if (!playlistModel->isAvailable(row) || playlistModel->hasFailed(row))
            continue;
        // The model looks at its files now and then; the one about to be opened is
        // looked at now, so a file gone since is passed over, not reported.
        if (!mediapaths::isPlayableFile(playlistModel->filePath(row))) {
            modelBehind = true;
            continue;
        }
        found = row;
    }
    if (modelBehind)
        playlistModel->recheckFiles();
    return found;
}

void ZeltoraWindow::playOnFrom(int row, int direction, bool afterFailure)
{
    playDirection = direction;
    const int target = nextPlayableRow(row, direction);
    if (target < 0) {
        stop();
        if (afterFailure)
            ui->statusBar->setText(tr("播放列表中没有可以播放的文件"));
        return;
    }
    loadEntry(target, LoadOrigin::PlayThrough);
}

void ZeltoraWindow::playlistClicked(QModelIndex index)
{
    if (!index.isValid())
        return;
    loadEntry(index.row(), LoadOrigin::Chosen);
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
        loadEntry(index.row(), LoadOrigin::Chosen);
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
    // The loaded entry when it is known; otherwise any copy of the loaded file.
    const bool loaded = currentEntry.isValid() ? currentEntry.row() == row
                                               : LoadedFile(player).matches(playlistModel->filePath(row));
    if (loaded)
        stop();
    playlistModel->removeFile(row);
}

void ZeltoraWindow::clearPlaylist()
{
    stop();
    playlistModel->clear();
    updateControls();
}

void ZeltoraWindow::step(int direction)
{
    // One entry has no next; a step passes over entries that cannot play.
    if (playlistModel->count() < 2)
        return;
    const int target = nextPlayableRow(currentRow(), direction);
    if (target < 0)
        return;
    playDirection = direction;
    loadEntry(target, LoadOrigin::PlayThrough);
}

void ZeltoraWindow::playNext()
{
    step(1);
}

void ZeltoraWindow::playPrevious()
{
    step(-1);
}

void ZeltoraWindow::handlePlaybackFinished()
{
    const int row = currentRow();
    stop();
    // The list plays round; an entry alone (or the only one that can play) ends stopped.
    playOnFrom(row, 1, false);
}
