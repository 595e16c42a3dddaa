// The About entry of the title menu.

#include "mainwindow/zeltorawindow.h"

#include "about/aboutdialog.h"

void ZeltoraWindow::about()
{
    AboutDialog dialog(this);
    dialog.exec();
}
