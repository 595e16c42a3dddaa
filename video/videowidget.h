#pragma once

#include <QImage>
#include <QWidget>

class QMenu;
class QTimer;
class QToolButton;

// The picture area: the last frame scaled into the widget (letter-boxed in a window,
// covering the screen in full screen), or a placeholder with an open-file button.
class VideoWidget : public QWidget
{
    Q_OBJECT

public:
    explicit VideoWidget(QWidget *parent = nullptr);
    ~VideoWidget() override;

    void setFrame(const QImage &frame);
    // A picture is on screen (not the placeholder).
    bool hasFrame() const { return !frameImage.isNull(); }
    QSize sizeHint() const override;

    // The area pictures are shown in, in device pixels, and whether they cover it
    // (full screen) rather than fit inside it. Pictures made to that size are painted
    // as they are, without scaling.
    QSize displayArea() const;
    bool coversArea() const;
    // Tells the world again where pictures go (after the window entered or left full
    // screen, which changes how they are fitted).
    void announceDisplayArea();

signals:
    // A single click: sent once the double-click interval has passed without a
    // second click, so the first click of a double click never counts on its own.
    void clicked();
    void doubleClicked();
    // The wheel over the picture, in QWheelEvent::angleDelta units (120 a notch).
    void wheelTurned(int angleDelta);
    void openFileRequested();
    void openFolderRequested();
    void displayAreaChanged(QSize area, bool cover);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void onOpenFileClicked();
    void onOpenFolderClicked();

private:
    void placeOpenFileButton();

    QImage frameImage;
    QSize announcedArea;
    bool announcedCover = false;
    QToolButton *openFileButton = nullptr;
    QMenu *openMenu = nullptr;
    QTimer *pendingClick = nullptr; // runs from a press until it counts as a single click
};
