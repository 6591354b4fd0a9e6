// What every transport is given: time limits, the certificates to trust and the user's accounts.
#pragma once

#include "mailTransport.h"

#include <QList>
#include <QString>

namespace korimo {

struct TransportOptions {
    int connectTimeoutMs = 15000; // TCP connect and TLS handshake
    int readTimeoutMs = 30000;    // longest wait for any one reply
    int sessionBaseMs = 60000;    // a POP3 session's overall deadline before it grows with the work (README)
    // PEM certificates to trust instead of the system's store (the tests' own CA). Empty in the program.
    QString caFile;
    // The user's POP3 mailboxes: SMTP AUTH takes its credentials from the one whose account matches
    // the sender (see the README).
    QList<Mailbox> accounts;
    bool operator==(const TransportOptions&) const = default;
};

} // namespace korimo
