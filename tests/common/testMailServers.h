// Private Dovecot (POP3) and Postfix (SMTP) servers on 127.0.0.1 for one test executable, started
// by scripts/mailservers.sh in a fresh temporary folder: its own CA, ports picked at run time,
// users user1..user5 (passwords pass1..pass5) with Maildirs. The destructor stops them by PID; if
// the test process dies first, the script's watchdog stops them. SMTP needs root (Postfix).
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QTemporaryDir;

namespace korimo::test {

// The POP3 servers an instance can run: Dovecot always, GNU mailutils pop3d on request.
enum class Pop3Server { Dovecot, Mailutils };

class TestMailServers {
public:
    TestMailServers();
    ~TestMailServers();
    TestMailServers(const TestMailServers&) = delete;
    TestMailServers& operator=(const TestMailServers&) = delete;

    // SMTP only when withSmtp and running as root. False on failure, with the script's output and
    // the servers' logs in errorText().
    bool start(bool withSmtp = true, bool withMailutils = false);
    void stop(); // waits for the servers; safe to call twice
    QString errorText() const { return error_; }
    QString logText() const; // all servers' logs, for a failing test's message
    static bool canRunSmtp();

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int pop3Port(Pop3Server s = Pop3Server::Dovecot) const {
        return port(s == Pop3Server::Dovecot ? "POP3_PORT" : "MU_POP3_PORT");
    }
    int pop3sPort(Pop3Server s = Pop3Server::Dovecot) const {
        return port(s == Pop3Server::Dovecot ? "POP3S_PORT" : "MU_POP3S_PORT");
    }
    int smtpPort() const { return port("SMTP_PORT"); }
    int submissionPort() const { return port("SUBMISSION_PORT"); }
    int smtpsPort() const { return port("SMTPS_PORT"); }
    bool hasSmtp() const { return env("SMTP") == QStringLiteral("1"); }
    QString caFile() const { return env("CA_FILE"); } // PEM; signed the certificate for 127.0.0.1 and localhost
    QString domain() const { return env("DOMAIN"); }

    static QString user(int n) { return QStringLiteral("user%1").arg(n); } // n from 1 to 5
    static QString password(int n) { return QStringLiteral("pass%1").arg(n); }
    QString address(int n) const { return user(n) + QLatin1Char('@') + domain(); }
    // The login name of user n: pop3d's users are virtual ones, user@domain.
    QString pop3Account(int n, Pop3Server s) const { return s == Pop3Server::Dovecot ? user(n) : address(n); }
    QString maildir(int n, Pop3Server s = Pop3Server::Dovecot) const;

    // Drops a message into the user's Maildir as a delivery agent would (tmp/, then new/), unchanged
    // except that pop3d's files get LF line ends (it serves CR LF-stored files badly).
    bool deliver(int user, const QByteArray& message, Pop3Server s = Pop3Server::Dovecot);
    QStringList maildirFiles(int user, Pop3Server s = Pop3Server::Dovecot) const; // new/ and cur/, oldest first
    // Waits (bounded) until the user's Maildir holds at least count messages: SMTP delivery finishes a
    // moment after the server's 250.
    bool waitForMessages(int user, int count, int timeoutMs = 5000) const;

private:
    QString env(const char* name) const;
    int port(const char* name) const { return env(name).toInt(); }

    std::unique_ptr<QTemporaryDir> dir_;
    QString envText_;
    QString error_;
};

} // namespace korimo::test
