// Shows the settings window with sample settings on a real display and saves a picture of each tab:
//   settingswin_shots OUTPUT_FOLDER   (e.g. under xvfb-run; writes settings-tab1.png … settings-tab4.png)
#include "frmSetKR.h"
#include "iniKeys.h"
#include "modIniFile.h"
#include "recordingMainWindow.h"
#include "scriptedDialogs.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: settingswin_shots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir dir;
    const QString program = dir.path() + "/こりも";
    QDir().mkpath(program + "/DATA");
    qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toUtf8());
    const IniFile ini(program);
    writeValue(ini, keys::SetLeft, 600);
    writeValue(ini, keys::SetTop, 600);
    writeValue(ini, keys::SmtpServer, QString("smtp.example.jp"));
    writeValue(ini, keys::SenderAddress, QString("taro@example.jp"));
    writeValue(ini, keys::SenderName, QString("山田　太郎"));
    writeValue(ini, keys::MailerPath, QString("/usr/bin/thunderbird"));
    writeValue(ini, keys::SoundOn, 1);
    writeValue(ini, keys::BeepOption, QString("False"));
    writeValue(ini, keys::WavOption, QString("True"));
    writeValue(ini, keys::WavFile, program + "/Sound/お知らせ.wav");
    writeValue(ini, keys::Servers, QString("pop.example.jp"), 0);
    writeValue(ini, keys::Accounts, QString("taro"), 0);
    writeValue(ini, keys::Passwords, QString("secret"), 0);
    writeValue(ini, keys::SendAddresses, QString("hanako@example.jp"), 0);
    writeValue(ini, keys::SendNames, QString("山田　花子"), 0);
    writeValue(ini, keys::SendSubjects, QString("お疲れさまです"), 0);
    writeValue(ini, keys::ExcludeSenders, QString("info@shop.example"), 0);
    writeValue(ini, keys::ExcludeSubjects, QString("未承諾広告"), 0);

    ScriptedDialogs dialogs;
    RecordingMainWindow link;
    auto* w = new frmSetKR(program, dialogs, link);
    w->Form_Load();
    w->show();
    if (!QTest::qWaitForWindowExposed(w))
        return 1;
    for (int tab = 0; tab < 4; ++tab) {
        w->SSTab1->setCurrentIndex(tab);
        QTest::qWait(300);
        const QPixmap shot = w->screen()->grabWindow(w->winId());
        const QString file = out + QStringLiteral("/settings-tab%1.png").arg(tab + 1);
        if (!shot.save(file))
            return 1;
        printf("%s %dx%d\n", qPrintable(file), shot.width(), shot.height());
    }
    delete w;
    return 0;
}
