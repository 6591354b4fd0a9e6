// ReadMail's work: a saved message read, its attachments saved, the result laid out for the receive window.
//
// Result layout (what the receive window's keyword rule sees): one element "File <n>" per attachment
// (n from 1, in message order; no names, so nothing a sender chooses can add a keyword), then the body
// as the last element, "Body: " followed by the text. Only the body element contains "Body". Subject,
// sender and date are not elements: the window would show them as the body.
// An attachment that could not be saved gets no element; the reason heads the body text instead, so the
// window never reports a failed save as saved.
#pragma once

#include "mimeReader.h"

#include <QString>
#include <QStringList>

namespace korimo {

struct ReadMailOutcome {
    bool readable = false; // false: the file could not be read (error says why)
    QString error;
    MimeMessage message;
    QStringList savedNames;   // base names in the folder, in attachment order, of those saved
    QStringList notes;        // what went wrong with single attachments or limits, for the body's head
    QStringList fileElements; // "File 1", ... for every attachment listed
};

// Reads the message in path; when saveAttachments, writes each attachment into folder.
ReadMailOutcome readMailFile(const QString& path, bool saveAttachments, const QString& folder);

// The text shown as the body: the notes, a blank line, then the message's body.
QString bodyWithNotes(const ReadMailOutcome& outcome);

} // namespace korimo
