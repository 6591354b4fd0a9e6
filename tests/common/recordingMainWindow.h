// A stand-in for the main window in window tests: it records, in order, what the window under test
// does to it.
#pragma once

#include "mainWindowLink.h"

#include <QString>
#include <QStringList>

namespace korimo {

class RecordingMainWindow : public MainWindowLink {
public:
    QStringList events; // "restore", "status:<text>", "focus", in the order they came

    void restoreNormal() override { events << QStringLiteral("restore"); }
    void setStatusLine(const QString& text) override { events << QStringLiteral("status:") + text; }
    void focusStartButtonIfShown() override { events << QStringLiteral("focus"); }
};

} // namespace korimo
