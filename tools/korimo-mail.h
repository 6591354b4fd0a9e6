// korimo-mail: try a mailbox from the command line. The POP3 commands live in korimo-mail.cpp, the
// message commands (read, send) in korimo-mail-message.cpp. Each returns the process exit code.
#pragma once

#include <QStringList>
#include <cstdio>

namespace korimo::tool {

enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1, // the server or the file system said no; the reason is on stderr
    ExitUsage = 2,  // the command line was wrong
};

// Text for the user, UTF-8, on stdout / stderr.
inline void out(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
}
inline void err(const QString& text) {
    std::fputs(text.toUtf8().constData(), stderr);
}

// args: everything after the command name ("read", "send").
int runReadCommand(const QStringList& args);
int runSendCommand(const QStringList& args);

} // namespace korimo::tool
