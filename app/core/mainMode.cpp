#include "mainMode.h"

namespace korimo {

MainMode next(MainMode m, MainEvent event) {
    switch (event) {
    case MainEvent::EnterTray:
    case MainEvent::EnterTrayMinimised:
        m.place = Place::Tray;
        m.minimisedForTray = event == MainEvent::EnterTrayMinimised;
        break;
    case MainEvent::TrayHostAppeared:
    case MainEvent::TrayHostGone:
        if (m.place == Place::Tray)
            m.minimisedForTray = event == MainEvent::TrayHostGone;
        break;
    case MainEvent::Announce:
        m.place = Place::Announcing;
        m.minimisedForTray = false;
        break;
    case MainEvent::AnnouncementOver:
    case MainEvent::ShowWindow:
    case MainEvent::LeaveTray:
        m.place = Place::Shown;
        m.minimisedForTray = false;
        break;
    case MainEvent::CheckBegins:
        m.checking = true;
        break;
    case MainEvent::CheckEnds:
        m.checking = false;
        break;
    case MainEvent::Unload:
        m.unloaded = true;
        break;
    case MainEvent::EndFromOutside:
        m.endingFromOutside = true;
        break;
    }
    return m;
}

bool deferDuringCheck(MainMode& m, Deferred input) {
    if (!m.checking)
        return false;
    m.deferred |= quint8(input);
    return true;
}

bool takeDeferred(MainMode& m, Deferred input) {
    const bool kept = m.deferred & quint8(input);
    m.deferred &= quint8(~quint8(input));
    return kept;
}

} // namespace korimo
