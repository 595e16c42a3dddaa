// Persistence of the window's settings between runs, and the one-click reset.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "mainwindow/resumestore.h"
#include "playback/playbackcontroller.h"
#include "playlist/mediapaths.h"
#include "playlist/playlistmodel.h"
#include "video/videowidget.h"

#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QSlider>
#include <QStringList>
#include <QTimer>

#include <algorithm>

namespace {

const QString kOrganisation = QStringLiteral("Zeltora");
const QString kApplication = QStringLiteral("Zeltora");
const QString kWindowGroup = QStringLiteral("MainWindow");
const QString kPlaylistGroup = QStringLiteral("Playlist");

// Long enough to fold a burst of changes (a folder of files, a volume drag) into
// one write, short enough that a crash loses at most a second of changes.
constexpr int kSaveDelayMs = 1000;

// Gives the window time to be on screen before it goes full screen.
constexpr int kFullscreenRestoreDelayMs = 150;

// Intake stores absolute paths; a file name with control characters in it is
// possible, but one that is not even there is far likelier debris of a damaged store.
bool isPlausibleEntry(const QString &path)
{
    if (!QDir::isAbsolutePath(path))
        return false;
    return std::none_of(path.cbegin(), path.cend(), [](QChar c) { return c.unicode() < 0x20; });
}

} // namespace

void ZeltoraWindow::saveSettings()
{
    // Everything is written now, so a pending save has nothing left to do.
    if (settingsSaveTimer)
        settingsSaveTimer->stop();

    QSettings settings(kOrganisation, kApplication);
    // Starting from empty drops whatever a damaged file was read as, instead of
    // writing it back at every save; only the groups other stores keep in the same
    // file (where files were left) are theirs to look after.
    const QStringList kept{ResumeStore::group()};
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys)
        settings.remove(key);
    const QStringList groups = settings.childGroups();
    for (const QString &group : groups) {
        if (!kept.contains(group))
            settings.remove(group);
    }

    settings.beginGroup(kWindowGroup);
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("state"), saveState(0));
    settings.setValue(QStringLiteral("volume"), volumeSlider ? volumeSlider->value() : 50);
    settings.setValue(QStringLiteral("fullscreen"), isFullScreen());
    settings.endGroup();

    settings.beginGroup(kPlaylistGroup);
    QStringList files;
    const int rows = playlistModel->count();
    files.reserve(rows);
    for (int row = 0; row < rows; ++row)
        files.append(playlistModel->filePath(row));
    settings.setValue(QStringLiteral("files"), files);
    settings.endGroup();
}

void ZeltoraWindow::restoreSettings()
{
    QSettings settings(kOrganisation, kApplication);

    settings.beginGroup(kWindowGroup);
    restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    restoreState(settings.value(QStringLiteral("state")).toByteArray(), 0);
    // The slider's range clamps an out-of-range value; text converts to 0.
    volumeSlider->setValue(settings.value(QStringLiteral("volume"), 50).toInt());
    restoreFullscreen = settings.value(QStringLiteral("fullscreen"), false).toBool();
    settings.endGroup();

    settings.beginGroup(kPlaylistGroup);
    // A file missing now (an unplugged disk) stays listed, shown unavailable, and
    // plays again once it is back. Anything that is there but no regular file is
    // never to be opened; a folder listed by an older version gives its files.
    const QStringList stored = settings.value(QStringLiteral("files")).toStringList();
    QStringList files;
    files.reserve(stored.size());
    for (const QString &path : stored) {
        switch (mediapaths::kindOf(path)) {
        case mediapaths::Kind::Missing:
            // Only what the window itself could have written: a damaged store reads
            // back as text with line breaks in it, which must not come back as entries.
            if (!isPlausibleEntry(path))
                break;
            files.append(path);
            break;
        case mediapaths::Kind::RegularFile:
            files.append(path);
            break;
        case mediapaths::Kind::Folder:
            files.append(mediapaths::scanFolder(path));
            break;
        case mediapaths::Kind::Other:
            break;
        }
    }
    playlistModel->addFiles(files);
    settings.endGroup();

    QTimer::singleShot(kFullscreenRestoreDelayMs, this, [this] { enterRestoredFullscreen(); });

    // Save soon after the playlist or the volume changes, not only at exit, so a
    // crash or a killed process keeps them. Wired only now: the restore above
    // must not write back what it has just read.
    settingsSaveTimer = new QTimer(this);
    settingsSaveTimer->setSingleShot(true);
    settingsSaveTimer->setInterval(kSaveDelayMs);
    connect(settingsSaveTimer, &QTimer::timeout, this, &ZeltoraWindow::saveSettings);
    connect(playlistModel, &QAbstractItemModel::rowsInserted, this, &ZeltoraWindow::scheduleSettingsSave);
    connect(playlistModel, &QAbstractItemModel::rowsRemoved, this, &ZeltoraWindow::scheduleSettingsSave);
    connect(playlistModel, &QAbstractItemModel::modelReset, this, &ZeltoraWindow::scheduleSettingsSave);
    connect(volumeSlider, &QSlider::valueChanged, this, &ZeltoraWindow::scheduleSettingsSave);
}

void ZeltoraWindow::scheduleSettingsSave()
{
    // Restarting the timer on every change folds a burst into one write.
    if (settingsSaveTimer)
        settingsSaveTimer->start();
}

void ZeltoraWindow::resetApplication()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("确认重置"),
        tr("确定要重置应用程序吗？这将清除所有设置和播放列表。"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    stop();
    // Nothing stays loaded: play after a reset must not bring back a file from before
    // it under an empty title, nor keep its place.
    player->close();
    playlistModel->clear();
    rebuildTrackMenus();
    updateControls();

    QSettings settings(kOrganisation, kApplication);
    settings.remove(kWindowGroup);
    settings.remove(kPlaylistGroup);
    settings.sync();
    ResumeStore::clear();

    if (volumeSlider)
        volumeSlider->setValue(50);

    if (isFullScreen())
        toggleFullscreen();

    ui->positionSlider->setValue(0);
    ui->currentTimeLabel->setText(QStringLiteral("00:00:00"));
    ui->totalTimeLabel->setText(QStringLiteral("00:00:00"));
    ui->statusBar->setText(QString());
    setWindowTitle(QStringLiteral("Zeltora"));
    videoWidget->setFrame(QImage());

    // Clearing the playlist and resetting the volume above scheduled a save, which
    // would put both groups straight back. The store stays empty until the user
    // changes something again or the window closes; either writes the reset values.
    if (settingsSaveTimer)
        settingsSaveTimer->stop();

    QMessageBox::information(this, tr("重置完成"), tr("应用程序已重置为初始状态。"));
}
