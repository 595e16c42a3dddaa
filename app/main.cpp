#include "app/loadstylesheet.h"
#include "desktop/desktopintegration.h"
#include "mainwindow/zeltorawindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // From Qt, not argv: on Windows argv holds the ANSI code page, which cannot
    // spell every file name. Made absolute here, in our own working folder, before
    // it may travel to a player started elsewhere.
    const QStringList arguments = QCoreApplication::arguments();
    const QString file = arguments.size() > 1 && !arguments.at(1).isEmpty()
        ? QFileInfo(arguments.at(1)).absoluteFilePath()
        : QString();

    // A player already running takes the file (or comes forward), and this start
    // ends before it has a window or touches the settings.
    std::unique_ptr<DesktopIntegration> desktop(DesktopIntegration::create());
    if (desktop->handOverToRunningInstance(file))
        return 0;

    if (!loadStyleSheet(app)) {
        QMessageBox::warning(nullptr, QObject::tr("警告"),
                             QObject::tr("无法加载样式表，将使用默认外观。\n"
                                         "这可能会影响应用程序的外观，但功能不受影响。"),
                             QMessageBox::Ok, QMessageBox::NoButton);
    }

    ZeltoraWindow window;
    window.attachDesktop(desktop.release());
    window.show();

    if (!file.isEmpty())
        window.playFromOutside(file);

    return app.exec();
}
