// Construction, wiring and teardown of the main window.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "mainwindow/shadoweffect.h"
#include "playback/playbackcontroller.h"
#include "playlist/playlistmodel.h"
#include "video/videowidget.h"

#include <QAction>
#include <QCloseEvent>
#include <QListView>
#include <QSlider>
#include <QTimer>

ZeltoraWindow::ZeltoraWindow(QWidget *parent)
    : QMainWindow(parent)
{
    ui = new Ui::ZeltoraWindow;
    player = new PlaybackController(this);
    videoWidget = new VideoWidget(this);
    frameTimer = new QTimer(this);
    playlistModel = new PlaylistModel(this);
    normalGeometry = geometry();

    ui->setupUi(this);

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);

    auto *shadow = new ShadowEffect(this);
    shadow->setBlurRadius(20.0);
    shadow->setColor(QColor(0, 0, 0, 80));
    shadow->setOffset(0, 0);
    shadow->setEnabled(true);
    ui->centralwidget->setGraphicsEffect(shadow);

    setupShortcuts();

    frameTimer->setTimerType(Qt::PreciseTimer);

    connect(player, &PlaybackController::finished, this, [this] { handlePlayerFinished(); });
    connect(player, &PlaybackController::frameReady, this, [this](const QImage &frame) { showFrame(frame); });

    connect(videoWidget, &VideoWidget::doubleClicked, this, &ZeltoraWindow::toggleFullscreen);
    connect(videoWidget, &VideoWidget::displayAreaChanged, player, &PlaybackController::setVideoArea);

    volumeSlider = new QSlider(Qt::Vertical, this);
    volumeSlider->setRange(0, 100);
    volumeSlider->setValue(50);
    volumeSlider->setFixedSize(30, 100);
    volumeSlider->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    volumeSlider->setAttribute(Qt::WA_TranslucentBackground);
    volumeSlider->setStyleSheet(QStringLiteral(
        "QSlider { background: transparent; }"
        "QSlider::groove:vertical { background: transparent; width: 4px; }"
        "QSlider::handle:vertical { height: 12px; background: white; }"));
    volumeSlider->hide();
    volumeSlider->installEventFilter(this);

    setupWidgets();
    setupConnections();
    setupNavigation();
    restoreSettings();
    setupMenu();

    connect(videoWidget, &VideoWidget::openFileRequested, this, &ZeltoraWindow::openFile);
    connect(videoWidget, &VideoWidget::openFolderRequested, this, [this] { openFolder(); });

    setupTimers();

    setMouseTracking(true);
    ui->videoFrame->setMouseTracking(true);
    videoWidget->setMouseTracking(true);
    setAcceptDrops(true);
}

ZeltoraWindow::~ZeltoraWindow()
{
    // Quitting from the close button's question skips closeEvent.
    rememberPlace();
    saveSettings();
    delete ui;
}

void ZeltoraWindow::closeEvent(QCloseEvent *event)
{
    rememberPlace();
    saveSettings();
    QMainWindow::closeEvent(event);
}

void ZeltoraWindow::setupWidgets()
{
    ui->statusBar->setVisible(true);
    ui->statusBar->setStyleSheet(QStringLiteral("color: white; background: transparent;"));

    videoWidget->setMinimumSize(320, 240);
    ui->videoLayout->addWidget(videoWidget);

    ui->playlistView->setModel(playlistModel);
    ui->playlistView->setUniformItemSizes(true);
    // Thumbnails are 40x40; the audio icon is drawn at the same size so names line up.
    ui->playlistView->setIconSize(QSize(40, 40));
    ui->playlistView->setContextMenuPolicy(Qt::CustomContextMenu);

    frameTimer->setInterval(33);
    ui->stopButton->setEnabled(false);

    connect(ui->playlistView, &QListView::customContextMenuRequested,
            this, [this](const QPoint &pos) { showPlaylistContextMenu(pos); });

    videoWidget->setMouseTracking(true);
    connect(videoWidget, &VideoWidget::clicked, this, [this] { handleVideoClicked(); });
}

void ZeltoraWindow::setupConnections()
{
    connect(openAction, &QAction::triggered, this, &ZeltoraWindow::openFile);
    connect(playAction, &QAction::triggered, this, &ZeltoraWindow::play);
    connect(pauseAction, &QAction::triggered, this, &ZeltoraWindow::pause);
    connect(stopAction, &QAction::triggered, this, &ZeltoraWindow::stop);
    connect(fullscreenAction, &QAction::triggered, this, &ZeltoraWindow::toggleFullscreen);
    connect(screenshotAction, &QAction::triggered, this, &ZeltoraWindow::takeScreenshot);
    connect(aboutAction, &QAction::triggered, this, &ZeltoraWindow::about);
    connect(ui->prevButton, &QPushButton::clicked, this, &ZeltoraWindow::playPrevious);
    connect(ui->nextButton, &QPushButton::clicked, this, &ZeltoraWindow::playNext);
    connect(ui->playPauseButton, &QPushButton::clicked, this, &ZeltoraWindow::togglePlayPause);
    connect(ui->stopButton, &QPushButton::clicked, this, &ZeltoraWindow::stop);
    connect(ui->positionSlider, &QSlider::sliderMoved, this, &ZeltoraWindow::seek);
    connect(ui->positionSlider, &QSlider::sliderReleased, this, [this] { handleSliderReleased(); });
    connect(volumeSlider, &QSlider::valueChanged, this, &ZeltoraWindow::setVolume);
    // The volume lives in the engine, which applies it to what is heard; no media
    // backend object is made for it (one would pull in a plug-in that can hang). It
    // starts at what the slider shows, through the same loudness curve as every later
    // change; restoring a saved value moves the slider and so the sound.
    setVolume(volumeSlider->value());
    connect(ui->volumeButton, &QPushButton::clicked, this, &ZeltoraWindow::toggleVolumeSlider);
    connect(ui->playlistView, &QListView::clicked, this, &ZeltoraWindow::playlistClicked);
    connect(ui->togglePlaylistButton, &QPushButton::clicked, this, &ZeltoraWindow::togglePlaylist);
    connect(frameTimer, &QTimer::timeout, this, &ZeltoraWindow::updateVideoFrame);
    connect(player, &PlaybackController::loaded, this, &ZeltoraWindow::handleLoaded);
    connect(player, &PlaybackController::loadFailed, this, &ZeltoraWindow::handleLoadFailed);
}

void ZeltoraWindow::togglePlaylist()
{
    playlistVisible = !playlistVisible;
    ui->playlistFrame->setVisible(playlistVisible);
    ui->togglePlaylistButton->setIcon(QIcon(playlistVisible ? QStringLiteral(":/icons/list.svg")
                                                            : QStringLiteral(":/icons/list-hover.svg")));
}
