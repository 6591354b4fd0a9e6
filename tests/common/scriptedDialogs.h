// Answers for the user in window tests: records what was shown and answers from queues (questions
// default to No, file dialogs to cancel; folder pickers are always cancelled).
#pragma once

#include "dialogs.h"

#include <QQueue>

namespace korimo {

class ScriptedDialogs : public Dialogs {
public:
    struct Shown {
        QString kind; // "message", "error", "question", "openFile", "saveFile", "selectFolder"
        QString text; // the text, or the dialog's title
        QString startFolder;
        QString extra; // filter; for saveFile the proposed name
    };
    QList<Shown> shown;
    QQueue<bool> answers;
    QQueue<QString> files; // answers of openFile/saveFile

    QStringList messages() const { // texts of "message" boxes, in order
        QStringList out;
        for (const Shown& s : shown)
            if (s.kind == u"message")
                out << s.text;
        return out;
    }
    void message(QWidget*, const QString& text) override { shown.append({QStringLiteral("message"), text, {}, {}}); }
    void error(QWidget*, const QString& text) override { shown.append({QStringLiteral("error"), text, {}, {}}); }
    bool question(QWidget*, const QString& text) override {
        shown.append({QStringLiteral("question"), text, {}, {}});
        return !answers.isEmpty() && answers.dequeue();
    }
    QString openFile(QWidget*, const QString& title, const QString& start, const QString& filter) override {
        shown.append({QStringLiteral("openFile"), title, start, filter});
        return files.isEmpty() ? QString() : files.dequeue();
    }
    QString saveFile(QWidget*, const QString& title, const QString& start, const QString& name,
                     const QString&) override {
        shown.append({QStringLiteral("saveFile"), title, start, name});
        return files.isEmpty() ? QString() : files.dequeue();
    }
    QString selectFolder(const QString& title, const QString& start) override {
        shown.append({QStringLiteral("selectFolder"), title, start, {}});
        return {};
    }
};

} // namespace korimo
