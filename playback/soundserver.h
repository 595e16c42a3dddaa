#pragma once

// Whether a sound server can be reached, asked without Qt's audio backend: that
// backend logs CRITICAL warnings and keeps retrying when it finds no server, so it
// is only touched once one is known to be there. A cheap local check (a connect on
// the server's socket), safe to repeat at every load.
namespace soundserver {

bool reachable();

} // namespace soundserver
