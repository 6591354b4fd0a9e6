// The main window's mode as one value: where the program waits (shown, in the tray, announcing),
// whether a check runs, what arrived during a check and waits for its end, and how far the program
// is ending. next() is the one way it changes.
#pragma once

#include <QtGlobal>

namespace korimo {

enum class Place {
    Shown,     // the window is on screen
    Tray,      // waiting in the tray (or, without a notification area, minimised in its place)
    Announcing // the window shows the announcement of a changed count
};

// Input that arrives while a check runs and is handled when it ends.
enum class Deferred : quint8 { Tick = 1, AnnouncementTick = 2, LeftButton = 4, RightButton = 8, Close = 16 };

struct MainMode {
    Place place = Place::Shown;
    bool minimisedForTray = false; // in the tray without a notification area
    bool checking = false;
    quint8 deferred = 0;            // Deferred flags
    bool unloaded = false;          // the main window was closed: the program ends once no window is left
    bool endingFromOutside = false; // endOrdinarily() is under way
    bool operator==(const MainMode&) const = default;
};

enum class MainEvent {
    EnterTray,          // with a notification area
    EnterTrayMinimised, // without one
    TrayHostAppeared,
    TrayHostGone,
    Announce,
    AnnouncementOver,
    ShowWindow, // the tray's left button: back on screen
    LeaveTray,  // the tray's right button: the icon goes before the program ends
    CheckBegins,
    CheckEnds,
    Unload,
    EndFromOutside,
};

MainMode next(MainMode mode, MainEvent event);

// During a check the input is kept for later (true); otherwise it may be handled now (false).
bool deferDuringCheck(MainMode& mode, Deferred input);
// Takes a kept input (true when it was kept).
bool takeDeferred(MainMode& mode, Deferred input);

} // namespace korimo
