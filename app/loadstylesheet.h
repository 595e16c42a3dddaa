#pragma once

class QApplication;

// Installs the bundle's dark style sheet on the application; true only when a
// non-empty sheet was installed.
bool loadStyleSheet(QApplication &app);
