#pragma once

#include <QImage>
#include <QMainWindow>
#include <QModelIndex>
#include <QPoint>
#include <QRect>

#include "mainwindow/playbackclock.h"

class FFmpegDecoder;
class FramePreviewer;
class PlaylistModel;
class PreviewPopup;
class QAction;
class QAudioOutput;
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
    void loadMedia(const QString &path);
    void play();

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
    void handleFrame(const QImage &frame);
    void showFrame(const QImage &frame);
    void requestFrame();
    void handleDecoderError(const QString &message);
    void handleSliderReleased();
    void handleVideoClicked();
    void recreateAudioOutput();
    void pumpFrames();
    // Queues a decoder seek and forgets every frame decoded or asked for before it.
    void postSeek(qint64 target);
    void scheduleNextTick(qint64 waitMs);
    void handleDecoderFinished();
    qint64 frameDurationEstimate(qint64 pts) const;

    // --- intake (zeltorawindow_intake.cpp) ---
    void openFolder();
    void showPlaylistContextMenu(const QPoint &pos);
    void handlePlaybackFinished();
    int currentRow() const;
    void startIfIdle();
    // The file dialogs go through these, so tests can answer in their place.
    virtual QStringList askOpenFileNames();
    virtual QString askExistingDirectory();

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
    FFmpegDecoder *decoder = nullptr;
    VideoWidget *videoWidget = nullptr;
    QTimer *frameTimer = nullptr;
    PlaylistModel *playlistModel = nullptr;
    QAudioOutput *audioOutput = nullptr;
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

    // --- frame pacing (zeltorawindow_playback.cpp) ---
    PlaybackClock clock;
    QImage pendingFrame;        // decoded, waiting for its presentation time
    qint64 pendingPts = 0;
    qint64 pendingDuration = 40;
    qint64 lastShownPts = -1;
    qint64 lastDecodedPts = -1;
    qint64 lastShownWallMs = 0; // clock.wallMs() when the last frame went on screen
    int framesInFlight = 0;     // decodeVideoFrame requests posted and not yet answered
    bool resyncClock = true;    // the next frame sets the clock (after play from stop, seek)
    bool showNextFrame = false; // the next frame is shown whatever its time (seek while paused)
    qint64 seekTarget = 0;      // where the latest seek asked to go
    bool mediaEnded = false;    // the decoder has delivered its last frame
    int staleAnswers = 0;       // answers to requests posted before the latest seek
    int nullAnswersInRow = 0;
    quint64 playbackGeneration = 0; // bumped by load, seek and stop; guards deferred work
    qint64 sliderUnitMs = 1;    // milliseconds per slider step; > 1 only for very long media
    quint64 framesShown = 0;
    quint64 framesDropped = 0;

    // --- settings (zeltorawindow_settings.cpp) ---
    QTimer *settingsSaveTimer = nullptr;

    // --- navigation (zeltorawindow_navigation.cpp) ---
    FramePreviewer *previewer = nullptr;
    PreviewPopup *previewPopup = nullptr;
    QAction *muteAction = nullptr;
    int volumeBeforeMute = 0; // the last level above 0, which unmute restores
    int wheelRemainder = 0;   // angle delta not yet worth a volume step
};
