// Construction, wiring and teardown of the main window.

#include "mainwindow/zeltorawindow.h"
#include "ui_zeltorawindow.h"

#include "decoder/ffmpegdecoder.h"
#include "mainwindow/shadoweffect.h"
#include "playlist/playlistmodel.h"
#include "video/videowidget.h"

#include <QAction>
#include <QAudioOutput>
#include <QCloseEvent>
#include <QListView>
#include <QSlider>
#include <QTimer>

ZeltoraWindow::ZeltoraWindow(QWidget *parent)
    : QMainWindow(parent)
{
    ui = new Ui::ZeltoraWindow;
    decoder = new FFmpegDecoder(this);
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

    connect(decoder, &FFmpegDecoder::playbackFinished, this, [this] { handleDecoderFinished(); });
    connect(decoder, &FFmpegDecoder::frameReady, this, [this](const QImage &frame) { handleFrame(frame); });

    audioOutput = new QAudioOutput(this);
    audioOutput->setVolume(0.5f);

    connect(videoWidget, &VideoWidget::doubleClicked, this, &ZeltoraWindow::toggleFullscreen);
    connect(decoder, &FFmpegDecoder::audioFormatChanged, this, [this] { recreateAudioOutput(); });

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
    saveSettings();
    delete ui;
}

void ZeltoraWindow::closeEvent(QCloseEvent *event)
{
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
    connect(ui->volumeButton, &QPushButton::clicked, this, &ZeltoraWindow::toggleVolumeSlider);
    connect(ui->playlistView, &QListView::clicked, this, &ZeltoraWindow::playlistClicked);
    connect(ui->togglePlaylistButton, &QPushButton::clicked, this, &ZeltoraWindow::togglePlaylist);
    connect(frameTimer, &QTimer::timeout, this, &ZeltoraWindow::updateVideoFrame);
    connect(decoder, &FFmpegDecoder::errorOccurred, this,
            [this](const QString &message) { handleDecoderError(message); });
}

void ZeltoraWindow::togglePlaylist()
{
    playlistVisible = !playlistVisible;
    ui->playlistFrame->setVisible(playlistVisible);
    ui->togglePlaylistButton->setIcon(QIcon(playlistVisible ? QStringLiteral(":/icons/list.svg")
                                                            : QStringLiteral(":/icons/list-hover.svg")));
}
