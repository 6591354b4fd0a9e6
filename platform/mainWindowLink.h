// What the send, receive and settings windows may do to the main window, and nothing more.
// frmMainKR implements it; window tests pass a recording fake.
#pragma once

#include <QString>

namespace korimo {

class MainWindowLink {
public:
    virtual ~MainWindowLink() = default;
    // Puts the main window back into its normal (not minimised) state.
    virtual void restoreNormal() = 0;
    // Sets the main window's status line (Label2).
    virtual void setStatusLine(const QString& text) = 0;
    // Gives the focus to the main window's start button when the main window is shown (not in the tray).
    virtual void focusStartButtonIfShown() = 0;
};

} // namespace korimo
