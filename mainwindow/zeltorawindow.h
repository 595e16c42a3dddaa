#pragma once

#include <QImage>
#include <QMainWindow>
#include <QModelIndex>
#include <QPoint>
#include <QRect>

class DesktopIntegration;
class FramePreviewer;
struct MediaInfo;
class PlaybackController;
class PlaylistModel;
class PreviewPopup;
class QAction;
class QMenu;
class QSlider;
class QTimer;
class VideoWidget;

namespace Ui {
class ZeltoraWindow;
}

// The main window. One class, split by concern into zeltorawindow_<concern>.cpp:
// construction (zeltorawindow.cpp), playback, intake, chrome, settings, screenshot.
class ZeltoraWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit ZeltoraWindow(QWidget *parent = nullptr);
    ~ZeltoraWindow() override;

    // --- playback (zeltorawindow_playback.cpp) ---
    // Loads a file the person chose: a failure is reported in boxes and nothing
    // plays in its place. False when the path was refused without opening it (not
    // a regular file); it has been reported then.
    bool loadMedia(const QString &path);
    void play();

    // --- desktop (zeltorawindow_desktop.cpp) ---
    // Takes the integration (the window becomes its parent), answers its requests
    // and keeps it told of the playback state.
    void attachDesktop(DesktopIntegration *integration);
    // A file chosen outside the window (command line, a second start, the desktop):
    // joins the playlist unless an entry names it already, and plays now.
    void playFromOutside(const QString &path);

    // --- navigation (zeltorawindow_navigation.cpp) ---
    // Moves playback to `ms`, clamped to the media; playing or paused as before.
    void seekTo(qint64 ms);

protected:
    // --- chrome (zeltorawindow_chrome.cpp) ---
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // --- construction (zeltorawindow.cpp) ---
    void closeEvent(QCloseEvent *event) override;
    // --- intake (zeltorawindow_intake.cpp) ---
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void resetApplication();
    void openFile();
    void pause();
    void stop();
    void seek(int position);
    void updatePosition();
    void updateDuration(qint64 duration);
    void setVolume(int volume);
    void toggleFullscreen();
    void takeScreenshot();
    void about();
    void playlistClicked(QModelIndex index);
    void removeFromPlaylist(int row);
    void clearPlaylist();
    void updateVideoFrame();
    void toggleVolumeSlider();
    void togglePlaylist();
    void on_closeButton_clicked();
    void on_pushButton_3_clicked();
    void playPrevious();
    void playNext();
    void togglePlayPause();

private:
    friend class ZeltoraWindowTestAccess;

    // --- construction (zeltorawindow.cpp) ---
    void setupWidgets();
    void setupConnections();

    // --- playback (zeltorawindow_playback.cpp) ---
    void updateControls();
    void showFrame(const QImage &frame);
    void handleLoaded(const MediaInfo &info);
    void showCover();
    void handleLoadFailed(const QString &path, const QString &message);
    void handleSliderReleased();
    void handleVideoClicked();
    void handlePlayerFinished();
    qint64 sliderTarget(int position) const;

    // --- intake (zeltorawindow_intake.cpp) ---
    void openFolder();
    void showPlaylistContextMenu(const QPoint &pos);
    void handlePlaybackFinished();
    int currentRow() const;
    // Idle: neither playing, paused nor loading. Only then does new media start,
    // at the first playable entry; the start counts as chosen when its file is
    // among `chosen`.
    bool isIdle() const;
    void startIfIdle(const QStringList &chosen = {});
    // Paths from an intake: regular files join the playlist in one insertion,
    // folders by their scan; the rest is turned away with a message (a box when
    // the person chose the paths one by one, the status label otherwise).
    // Returns what joined.
    QStringList takeIn(const QStringList &paths, bool chosen);
    void reportRejected(const QStringList &paths, bool chosen);
    void step(int direction);
    // The file dialogs go through these, so tests can answer in their place.
    virtual QStringList askOpenFileNames();
    virtual QString askExistingDirectory();

    // --- tracks (zeltorawindow_tracks.cpp) ---
    void setupTrackMenus();
    void rebuildTrackMenus();
    // A dropped file that is a subtitle goes to the playing video, not the playlist.
    static bool isSubtitleFileName(const QString &path);
    void takeDroppedSubtitle(const QString &path);
    QMenu *audioMenu = nullptr;
    QMenu *subtitleMenu = nullptr;

    // --- desktop (zeltorawindow_desktop.cpp) ---
    // The notification points: after a load succeeded, on every refresh of the
    // controls, after a seek. Each does nothing until a desktop is attached.
    void publishTrack();
    void publishState();
    void publishSeek(qint64 positionMs);
    void raiseFromDesktop();
    void seekFromDesktop(qint64 positionMs);
    qint64 desktopPosition() const;
    DesktopIntegration *desktop = nullptr;

    // --- chrome (zeltorawindow_chrome.cpp) ---
    void setupShortcuts();
    void setupMenu();
    void setupTimers();
    void setControlsVisible(bool visible);
    void updateControlsVisibility();
    void enterRestoredFullscreen();
    void refreshFullscreenMenuText();
    void enterFullscreen();
    void leaveFullscreen();
    void dressForFullscreen(bool fullscreen);
    void autoHideControls();
    bool isOverControls(const QPoint &windowPos) const;
    void trackPointerInFullscreen(const QPoint &windowPos);
    // The form's fixed size, set aside while in full screen (invalid until then).
    QSize fixedMinimumSize;
    QSize fixedMaximumSize;

    // --- navigation (zeltorawindow_navigation.cpp) ---
    void setupNavigation();
    // What navigation reads of the playback state; one place to re-point.
    QString currentMediaPath() const;
    qint64 currentPositionMs() const;
    void seekBy(qint64 deltaMs);
    void changeVolumeBy(int delta);
    void toggleMute();
    void turnWheel(int angleDelta);
    void showPositionPreview(int value, const QPoint &pos);
    void showPreviewPicture(const QString &path, const QImage &image);
    void hidePositionPreview();
    // Resume: notes where the loaded file is being left; after a load, starts it
    // where it was left (and says so). True when it did.
    void rememberPlace();
    bool resumePlace();

    // --- settings (zeltorawindow_settings.cpp) ---
    void saveSettings();
    void restoreSettings();
    void scheduleSettingsSave();

    // --- members, in the order the window's design gives them ---
    bool controlsHovered = false;
    QTimer *hideTimer = nullptr;
    Ui::ZeltoraWindow *ui = nullptr;
    // The playback engine; the window shows the frames it hands over.
    PlaybackController *player = nullptr;
    VideoWidget *videoWidget = nullptr;
    // Runs while playing: keeps the position slider and the time labels current.
    QTimer *frameTimer = nullptr;
    PlaylistModel *playlistModel = nullptr;
    QSlider *volumeSlider = nullptr;
    bool playlistVisible = false;
    bool isPlaying = false;
    qint64 mediaDuration = 0;
    bool isPaused = false;
    bool dragging = false;
    QPoint dragStartPos;
    QPoint windowStartPos;
    QImage currentFrame;
    QMenu *titleMenu = nullptr;
    QRect normalGeometry;
    bool restoreFullscreen = false;
    QAction *openAction = nullptr;
    QAction *playAction = nullptr;
    QAction *pauseAction = nullptr;
    QAction *stopAction = nullptr;
    QAction *fullscreenAction = nullptr;
    QAction *screenshotAction = nullptr;
    QAction *aboutAction = nullptr;

    // --- playback (zeltorawindow_playback.cpp) ---
    bool mediaEnded = false;    // the loaded media has played to its end
    // How the file being loaded was reached. A chosen file that fails is reported
    // in boxes and nothing plays in its place; one reached by playing through the
    // list is marked, noted in the status label and skipped.
    enum class LoadOrigin { Chosen, PlayThrough };
    LoadOrigin loadOrigin = LoadOrigin::Chosen;
    // The entry loaded or being loaded; kept right by the model through insertions
    // and removals, so the same file listed twice is still told apart. Invalid when
    // the file was loaded by path alone (currentRow() then matches paths).
    QPersistentModelIndex currentEntry;
    int playDirection = 1;      // which way play-through moves past a failure
    bool startLoad(const QString &path);
    bool loadEntry(int row, LoadOrigin origin);
    // Moves on from `row` (-1: from nowhere) to the next playable entry and plays
    // it, or stops when there is none; `afterFailure` says so in the status label.
    void playOnFrom(int row, int direction, bool afterFailure);
    // The next entry play-through may open, never `from` itself; -1 when none. An
    // entry is passed over when the model found its file unavailable, when it has
    // failed before, or when its file is not a regular file right now.
    int nextPlayableRow(int from, int direction);
    qint64 sliderUnitMs = 1;    // milliseconds per slider step; > 1 only for very long media

    // --- settings (zeltorawindow_settings.cpp) ---
    QTimer *settingsSaveTimer = nullptr;

    // --- navigation (zeltorawindow_navigation.cpp) ---
    FramePreviewer *previewer = nullptr;
    PreviewPopup *previewPopup = nullptr;
    QAction *muteAction = nullptr;
    int volumeBeforeMute = 0; // the last level above 0, which unmute restores
    int wheelRemainder = 0;   // angle delta not yet worth a volume step
};
