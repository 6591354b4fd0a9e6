// Runs the main window's check (CheckMailboxes) back to back against the mailboxes of a program
// folder's iniKR.ini, with the real transport, and prints the resident memory as it goes:
//
//   soak_checks PROGRAM_FOLDER CHECKS [SAMPLE_EVERY]
//
// Output: one line "checks rss_kib status" per sample, then "first_kib last_kib max_kib". The status
// is the main window's status line after the latest check, so a failing server shows at once.
#include "frmMainKR.h"
#include "helperMailTransport.h"
#include "iniKeys.h"
#include "modIniFile.h"
#include "scriptedDialogs.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTextStream>
#include <cstdio>

namespace {

long residentKib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: soak_checks PROGRAM_FOLDER CHECKS [SAMPLE_EVERY]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const long checks = QByteArray(argv[2]).toLong();
    const long every = argc > 3 ? std::max(1L, QByteArray(argv[3]).toLong()) : 1000;

    const korimo::IniFile ini(folder);
    korimo::TransportOptions options;
    for (int i = 0; i < 5; ++i)
        options.accounts.append(korimo::Mailbox{korimo::readString(ini, korimo::keys::Servers, i),
                                                korimo::readString(ini, korimo::keys::Accounts, i),
                                                korimo::readString(ini, korimo::keys::Passwords, i)});
    korimo::HelperMailTransport transport(QStringLiteral(KORIMO_MAIL_HELPERS), options);
    korimo::ScriptedDialogs dialogs;
    korimo::frmMainKR window(folder, transport, dialogs);
    window.LoadSettings();

    const auto status = [&window] {
        const auto labels = window.findChildren<QLabel*>();
        for (const QLabel* l : labels)
            if (l->text().contains(QStringLiteral("メール")))
                return l->text().trimmed();
        return QStringLiteral("?");
    };
    QTextStream out(stdout);
    long first = -1, last = -1, peak = 0;
    for (long n = 1; n <= checks; ++n) {
        window.CheckMailboxes();
        QCoreApplication::processEvents();
        if (n % every == 0 || n == 1 || n == checks) {
            last = residentKib();
            if (first < 0)
                first = last;
            peak = std::max(peak, last);
            out << n << ' ' << last << ' ' << status() << Qt::endl;
        }
    }
    out << "first_kib " << first << " last_kib " << last << " max_kib " << peak << Qt::endl;
    return 0;
}
