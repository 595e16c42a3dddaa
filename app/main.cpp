#include "app/loadstylesheet.h"
#include "mainwindow/zeltorawindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    if (!loadStyleSheet(app)) {
        QMessageBox::warning(nullptr, QObject::tr("警告"),
                             QObject::tr("无法加载样式表，将使用默认外观。\n"
                                         "这可能会影响应用程序的外观，但功能不受影响。"),
                             QMessageBox::Ok, QMessageBox::NoButton);
    }

    ZeltoraWindow window;
    window.show();

    if (argc > 1) {
        window.loadMedia(QString::fromUtf8(argv[1]));
        window.play();
    }

    return app.exec();
}
