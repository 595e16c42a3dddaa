#pragma once

#include <QString>
#include <QtGlobal>

// "hh:mm:ss" for a time in milliseconds. Hours keep counting past 23 instead of
// wrapping ("25:03:07", "100:00:00"); a negative time reads as "00:00:00".
QString formatTime(qint64 ms);
