// A stand-in for the main window in window tests: it records what the window under test does to it,
// both in order (events) and as counts and texts.
#pragma once

#include "mainWindowLink.h"

#include <QString>
#include <QStringList>

namespace korimo {

class RecordingMainWindow : public MainWindowLink {
public:
    QStringList events; // "restore", "status:<text>", "focus", in the order they came
    int restored = 0;
    int focusCalls = 0;
    QStringList statusLines;

    void restoreNormal() override {
        events << QStringLiteral("restore");
        ++restored;
    }
    void setStatusLine(const QString& text) override {
        events << QStringLiteral("status:") + text;
        statusLines << text;
    }
    void focusStartButtonIfShown() override {
        events << QStringLiteral("focus");
        ++focusCalls;
    }
};

} // namespace korimo
