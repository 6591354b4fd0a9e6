// How the desktop ends Korimo. SIGTERM, SIGINT, SIGHUP and the session manager's commit request
// (logout, shutdown) close it the ordinary way, through frmMainKR::endOrdinarily(), so every open
// window's unload writes and the main window's keys are saved. Hiding or closing windows never ends
// it by itself: the main window decides (closed once no window is left, or the tray's right button).
#pragma once

class QApplication;

namespace korimo {

class frmMainKR;

void endOrdinarilyOnSessionEnd(QApplication& app, frmMainKR& window);

} // namespace korimo
