// Everything a window asks the user through a modal dialog. The windows hold a Dialogs& so that
// tests can answer for the user (ScriptedDialogs) instead of driving real dialogs.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace korimo {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // An OK box with the text, an empty title and no icon. Every box shows its text as plain text.
    virtual void message(QWidget* parent, const QString& text) = 0;
    // The same with a stop icon (the folder picker's own failures).
    virtual void error(QWidget* parent, const QString& text) = 0;
    // A Yes/No question; true for Yes.
    virtual bool question(QWidget* parent, const QString& text) = 0;
    // File dialogs; filter in the "description|*.ext|" form. "" when cancelled.
    virtual QString openFile(QWidget* parent, const QString& title, const QString& startFolder,
                             const QString& filter) = 0;
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& startFolder,
                             const QString& proposedName, const QString& filter) = 0;
    // The folder picker: opens on startFolder when it is not empty. "" when cancelled.
    virtual QString selectFolder(const QString& title, const QString& startFolder) = 0;
};

// A tooltip that shows text from a mail, a server or a file as it is: Qt reads a tooltip that looks
// like markup as rich text, so the text is handed over already converted ("" stays "").
QString plainToolTip(const QString& text);

// "実行ファイル(*.exe)|*.exe|" → "実行ファイル(*.exe) (*.exe)": each description|pattern pair becomes one
// Qt filter, joined by ";;".
QString toQtFilter(const QString& filter);

// Real dialogs.
class QtDialogs : public Dialogs {
public:
    void message(QWidget* parent, const QString& text) override;
    void error(QWidget* parent, const QString& text) override;
    bool question(QWidget* parent, const QString& text) override;
    QString openFile(QWidget* parent, const QString& title, const QString& startFolder, const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& title, const QString& startFolder, const QString& proposedName,
                     const QString& filter) override;
    QString selectFolder(const QString& title, const QString& startFolder) override;
};

} // namespace korimo
