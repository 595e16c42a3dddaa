#pragma once

#include <QString>

// The file name of the n-th screenshot taken within the second `stamp` names
// (yyyyMMdd_hhmmss): "Zeltora_<stamp>.png" for the first, then "Zeltora_<stamp>_2.png",
// "_3" and on.
QString screenshotFileName(const QString &stamp, int attempt);
