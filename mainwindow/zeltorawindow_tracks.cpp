// Choosing the sound and the subtitles of the open file: the "音轨" and "字幕"
// submenus of the title menu, subtitle files dropped on the window, and the engine's
// word when a subtitle track cannot be shown.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "playback/playbackcontroller.h"

#include <QActionGroup>
#include <QFileInfo>
#include <QMenu>

#include <functional>

namespace {

// "中文字幕 · chi" or "轨道 2", with the format in brackets: titles alone are often
// just "Track 1", and the format tells SDH text from Blu-ray pictures.
QString trackLabel(const MediaTrack &track, int number)
{
    QStringList parts;
    if (!track.title.isEmpty())
        parts << track.title;
    if (!track.language.isEmpty())
        parts << track.language;
    QString label = parts.isEmpty() ? ZeltoraWindow::tr("轨道 %1").arg(number) : parts.join(QStringLiteral(" · "));
    if (!track.codec.isEmpty())
        label += QStringLiteral(" [%1]").arg(track.codec);
    if (track.isForced)
        label += ZeltoraWindow::tr("（强制）");
    return label;
}

} // namespace

void ZeltoraWindow::setupTrackMenus()
{
    audioMenu = new QMenu(tr("音轨"), this);
    subtitleMenu = new QMenu(tr("字幕"), this);
    // Queued: a choice comes from an action of these very menus, which a rebuild deletes.
    connect(player, &PlaybackController::tracksChanged, this, &ZeltoraWindow::rebuildTrackMenus,
            Qt::QueuedConnection);
    connect(player, &PlaybackController::subtitleError, this,
            [this](const QString &message) { ui->statusBar->setText(message); });
    rebuildTrackMenus();
}

void ZeltoraWindow::rebuildTrackMenus()
{
    if (!audioMenu || !subtitleMenu)
        return;
    audioMenu->clear();
    subtitleMenu->clear();
    const bool open = player->isOpen();
    const MediaInfo &info = player->mediaInfo();

    // One checkable entry of a menu whose entries exclude each other.
    const auto addChoice = [this](QMenu *menu, QActionGroup *group, const QString &text, bool checked,
                                  std::function<void()> choose) {
        QAction *action = menu->addAction(text);
        action->setCheckable(true);
        action->setChecked(checked);
        group->addAction(action);
        connect(action, &QAction::triggered, this, std::move(choose));
    };

    auto *audioGroup = new QActionGroup(audioMenu);
    int number = 0;
    if (open) {
        for (const MediaTrack &track : info.audioTracks) {
            const int index = track.index;
            addChoice(audioMenu, audioGroup, trackLabel(track, ++number), index == info.audioTrack,
                      [this, index] { player->setAudioTrack(index); });
        }
    }
    audioMenu->setEnabled(!audioMenu->isEmpty());

    auto *subtitleGroup = new QActionGroup(subtitleMenu);
    addChoice(subtitleMenu, subtitleGroup, tr("关闭"), info.subtitleTrack < 0 && info.subtitleFile.isEmpty(),
              [this] { player->setSubtitleTrack(-1); });
    number = 0;
    if (open && info.hasVideo) {
        for (const MediaTrack &track : info.subtitleTracks) {
            const int index = track.index;
            addChoice(subtitleMenu, subtitleGroup, trackLabel(track, ++number),
                      index == info.subtitleTrack && info.subtitleFile.isEmpty(),
                      [this, index] { player->setSubtitleTrack(index); });
        }
        for (const SubtitleFileTrack &file : info.subtitleFiles) {
            const QString path = file.path;
            addChoice(subtitleMenu, subtitleGroup, tr("文件：%1").arg(QFileInfo(path).fileName()),
                      path == info.subtitleFile, [this, path] { player->setSubtitleFile(path); });
        }
    }
    subtitleMenu->setEnabled(open && info.hasVideo);
}

bool ZeltoraWindow::isSubtitleFileName(const QString &path)
{
    static const QStringList suffixes = {
        QStringLiteral("srt"), QStringLiteral("ass"), QStringLiteral("ssa"),
        QStringLiteral("vtt"), QStringLiteral("sub"),
    };
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

void ZeltoraWindow::takeDroppedSubtitle(const QString &path)
{
    if (!player->addSubtitleFile(path))
        ui->statusBar->setText(tr("字幕文件需要在视频播放时拖入：%1").arg(QFileInfo(path).fileName()));
}
