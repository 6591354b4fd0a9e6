// Private Dovecot (POP3) and Postfix (SMTP) servers on 127.0.0.1 for one test executable.
//
// start() runs tests/servers/mailservers.sh into a fresh temporary folder: its own CA and server
// certificate, its own ports picked at run time, users user1..user5 (passwords pass1..pass5) with
// Maildirs the test can fill directly (deliver) or through SMTP. The destructor stops everything
// by PID; if the test process dies first, the script's watchdog stops the servers by itself.
// SMTP needs root (Postfix); without it hasSmtp() is false and SMTP tests should QSKIP.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

class QTemporaryDir;

namespace korimo::test {

// The POP3 servers an instance can run: Dovecot always, GNU mailutils pop3d on request.
enum class Pop3Server { Dovecot, Mailutils };

class TestMailServers {
public:
    static constexpr int kUsers = 5;

    TestMailServers();
    ~TestMailServers();
    TestMailServers(const TestMailServers&) = delete;
    TestMailServers& operator=(const TestMailServers&) = delete;

    // Starts the servers (SMTP only when withSmtp and running as root). False on failure, with
    // the script's output and the servers' logs in errorText().
    bool start(bool withSmtp = true, bool withMailutils = false);
    // Stops the servers and waits for them; safe to call twice.
    void stop();
    bool isRunning() const { return running_; }
    QString errorText() const { return error_; }
    // Both servers' logs, for a failing test's message.
    QString logText() const;

    static bool canRunSmtp();
    static QString scriptPath();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int pop3Port() const { return pop3Port_; }
    int pop3sPort() const { return pop3sPort_; }
    int smtpPort() const { return smtpPort_; }
    int submissionPort() const { return submissionPort_; }
    int smtpsPort() const { return smtpsPort_; }
    bool hasSmtp() const { return hasSmtp_; }
    // Ports of either POP3 server (0 when it does not run): plain with STLS, implicit TLS.
    int pop3Port(Pop3Server s) const { return s == Pop3Server::Dovecot ? pop3Port_ : muPop3Port_; }
    int pop3sPort(Pop3Server s) const { return s == Pop3Server::Dovecot ? pop3sPort_ : muPop3sPort_; }
    // The login name of user n there: pop3d's users are virtual ones, user@domain.
    QString pop3Account(int n, Pop3Server s) const { return s == Pop3Server::Dovecot ? user(n) : address(n); }
    // The CA that signed the servers' certificate (for 127.0.0.1 and localhost), PEM.
    QString caFile() const { return caFile_; }
    QString domain() const { return domain_; }
    QString directory() const;
    QString maildirRoot() const { return maildirRoot_; }

    // n runs from 1 to kUsers.
    static QString user(int n);
    static QString password(int n);
    QString address(int n) const;
    QString maildir(int n, Pop3Server s = Pop3Server::Dovecot) const;

    // Drops a message into the user's Maildir as a delivery agent would (tmp/, then rename into
    // new/). The bytes are stored unchanged, except that pop3d's files get LF line ends (it serves
    // CR LF-stored files badly). The new file's path goes to *path when given.
    bool deliver(int user, const QByteArray& message, QString* path = nullptr, Pop3Server s = Pop3Server::Dovecot);
    // Full paths of the messages in new/ and cur/, oldest first.
    QStringList maildirFiles(int user, Pop3Server s = Pop3Server::Dovecot) const;
    // The bytes of maildirFiles(user)[index], empty when there is no such message.
    QByteArray maildirMessage(int user, int index) const;
    // Removes every message of the user's Maildir (between tests sharing one instance).
    bool clearMaildir(int user);
    // Runs mailservers.sh with these arguments; its output (stdout and stderr) is returned.
    QString runScript(const QStringList& args, bool* ok = nullptr) const;
    // Waits (bounded) until the user's Maildir holds at least count messages: SMTP delivery
    // finishes a moment after the server's 250.
    bool waitForMessages(int user, int count, int timeoutMs = 5000) const;

private:
    bool readEnv();

    std::unique_ptr<QTemporaryDir> dir_;
    bool running_ = false;
    bool hasSmtp_ = false;
    QString error_;
    int pop3Port_ = 0;
    int pop3sPort_ = 0;
    int smtpPort_ = 0;
    int submissionPort_ = 0;
    int smtpsPort_ = 0;
    int muPop3Port_ = 0;
    int muPop3sPort_ = 0;
    QString muMaildirRoot_;
    QString caFile_;
    QString domain_;
    QString maildirRoot_;
    int mailUid_ = -1;
    int mailGid_ = -1;
};

} // namespace korimo::test
