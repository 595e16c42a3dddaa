#pragma once

#include <QImage>
#include <QWidget>

class QMenu;
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
    QSize sizeHint() const override;

signals:
    void clicked();
    void doubleClicked();
    void openFileRequested();
    void openFolderRequested();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void onOpenFileClicked();
    void onOpenFolderClicked();

private:
    void placeOpenFileButton();

    QImage frameImage;
    QToolButton *openFileButton = nullptr;
    QMenu *openMenu = nullptr;
};
