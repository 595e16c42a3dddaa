#include "mainwindow/screenshotname.h"

QString screenshotFileName(const QString &stamp, int attempt)
{
    const QString suffix = attempt > 1 ? QStringLiteral("_%1").arg(attempt) : QString();
    return QStringLiteral("Zeltora_") + stamp + suffix + QStringLiteral(".png");
}
