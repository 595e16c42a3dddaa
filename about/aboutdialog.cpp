#include "about/aboutdialog.h"
#include "ui_aboutdialog.h"

#include <QDesktopServices>
#include <QLabel>
#include <QUrl>

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    setWindowTitle(tr("关于 Wandel Forge"));

    // The label does not open links itself, so the address goes through the
    // desktop services (and whatever handler is registered for its scheme).
    connect(ui->websiteLabel, &QLabel::linkActivated, this, [](const QString &link) {
        QDesktopServices::openUrl(QUrl(link, QUrl::TolerantMode));
    });
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

void AboutDialog::on_buttonBox_accepted()
{
    close();
}
