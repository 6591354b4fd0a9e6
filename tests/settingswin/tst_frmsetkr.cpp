// The settings window driven as a user would: what "終了", "キャンセル" and the close box leave in the
// file, slots and lists, hidden sound controls, file dialogs answered by a script, the autostart entry.
#include "frmSetKR.h"
#include "iniKeys.h"
#include "modIniFile.h"
#include "recordingMainWindow.h"
#include "scriptedDialogs.h"
#include "testFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;

class TestFrmSetKR : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString program_ = dir_.path() + "/program", entry_ = dir_.path() + "/config/autostart/こりも.desktop";
    ScriptedDialogs dialogs_;
    RecordingMainWindow link_;

    IniFile ini() const { return IniFile(program_); }
    QString past(const QString& key) const { return ini().ReadIniString(u"Past", key, "<none>"); }
    QPointer<frmSetKR> open(bool shown = false) {
        auto* w = new frmSetKR(program_, dialogs_, link_);
        w->Form_Load();
        if (shown) {
            w->show();
            QApplication::setActiveWindow(w);
            if (!QTest::qWaitForWindowActive(w)) // the focus checks then fail with the reason
                qWarning("the window did not become active");
        }
        return w;
    }
    static void finish(QPointer<frmSetKR>& w, QPushButton* button) {
        if (button)
            QTest::mouseClick(button, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(w.isNull(), "the window closed and deleted itself");
    }

private slots:
    void init() {
        QVERIFY(QDir().mkpath(program_));
        qputenv("XDG_CONFIG_HOME", (dir_.path() + "/config").toUtf8());
        QFile::remove(IniFilePath(program_));
        QFile::remove(entry_);
        dialogs_ = ScriptedDialogs();
        link_ = RecordingMainWindow();
    }

    // Each slot keeps its edits while another is shown; "消去" empties the one on screen. Only "終了"
    // saves; the main window is given back once in every case.
    void endings_data() {
        QTest::addColumn<int>("ending"); // 0 "終了", 1 "キャンセル", 2 the close box
        QTest::newRow("終了") << 0;
        QTest::newRow("キャンセル") << 1;
        QTest::newRow("close box") << 2;
    }
    void endings() {
        QFETCH(int, ending);
        writeValue(ini(), keys::Servers, QString("pop.zero"), 0);
        writeValue(ini(), keys::Servers, QString("pop.three"), 2);
        const QByteArray before = readFile(IniFilePath(program_));
        QPointer<frmSetKR> w = open(ending == 2);
        w->Text7->setText("pw0");
        QCOMPARE(w->Text7->displayText(), "***");
        w->Option1[2]->click();
        QCOMPARE(w->Text5->text(), "pop.three");
        w->Text6->setText("user3");
        w->Option1[0]->click();
        QCOMPARE(w->Text5->text(), "pop.zero");
        QCOMPARE(w->Text7->text(), "pw0");
        w->Option1[2]->click();
        QCOMPARE(w->Text6->text(), "user3");
        w->Command8->click();
        QVERIFY(w->Text5->text().isEmpty() && w->Text6->text().isEmpty());
        w->Text1->setText("smtp.example.jp");
        QVERIFY(ending != 2 || w->close());
        finish(w, ending == 0 ? w->Command1 : ending == 1 ? w->Command2 : nullptr);
        if (ending == 0)
            QCOMPARE((QStringList{past("smtp-0"), past("pass-0"), past("smtp-2"), past("acou-2"), past("smtp")}),
                     (QStringList{"pop.zero", "pw0", "", "", "smtp.example.jp"}));
        else
            QCOMPARE(readFile(IniFilePath(program_)), before);
        QVERIFY(link_.events.contains("restore"));
        QCOMPARE(link_.events.count("focus"), 1);
    }

    // Every key goes to its control and comes back unchanged; a box ticked at load makes no entry.
    void openAndFinishKeepsEveryValue() {
        const IniFile f = ini();
        for (const IniKey& k : keys::All)
            for (int i = 0; QStringView(k.section) == u"Past" && k.reader == IniReader::String && i < k.count; ++i)
                writeValue(f, k, QStringLiteral("値 %1 %2").arg(QString::fromUtf16(k.key)).arg(i),
                           k.count > 1 ? i : -1);
        writeValue(f, keys::ShowSeconds, QString("40000")); // beyond 16 bits: kept as typed
        writeValue(f, keys::Startup, 1);
        writeValue(f, keys::SoundOn, 1);
        writeValue(f, keys::BeepOption, QString("False"));
        writeValue(f, keys::WavOption, QString("True"));
        writeValue(f, keys::SetLeft, 3000);
        writeValue(f, keys::SetTop, 1500);
        const QByteArray before = readFile(IniFilePath(program_));
        QPointer<frmSetKR> w = open();
        QVERIFY(w->Check1->isChecked() && w->Option2[1]->isChecked());
        finish(w, w->Command1);
        QCOMPARE(readFile(IniFilePath(program_)), before);
        QVERIFY(!QFileInfo::exists(entry_));
    }

    // The four 1..20 lists: a typed entry is stored when its box loses the focus or the list moves,
    // also when it was set without the focus; ↓ from 1 wraps to 20, the other lists stay.
    void listsKeepWhatWasTyped() {
        writeValue(ini(), keys::SendAddresses, QString("last@x"), 19);
        QPointer<frmSetKR> w = open(true);
        w->SSTab1->setCurrentIndex(2);
        QTest::mouseClick(w->Command4[1], Qt::LeftButton); // ↓: 20
        QCOMPARE(w->Text8->text(), "last@x");
        QTest::mouseClick(w->Command4[0], Qt::LeftButton); // ↑: 1
        QTest::mouseClick(w->Command4[0], Qt::LeftButton); // ↑: 2
        QCOMPARE(w->Label7->text(), "2");
        QCOMPARE(QApplication::focusWidget(), w->Text8);
        QTest::keyClicks(w->Text8, "two@example.jp");
        QTest::mouseClick(w->Text9, Qt::LeftButton);
        QCOMPARE(w->SendAddresses.at(1), "two@example.jp");
        QTest::keyClicks(w->Text9, "Mr Two");
        QTest::mouseClick(w->Command4[0], Qt::LeftButton); // ↑: 3
        QVERIFY(w->Text8->text().isEmpty() && w->Text9->text().isEmpty());
        for (QLabel* other : {w->Label8, w->Label12, w->Label13})
            QCOMPARE(other->text(), "1");
        w->Command5[2]->click(); // subject exclusions: 2
        w->Text13->setText("未承諾広告");
        w->Text10->setText("定例");
        finish(w, w->Command1);
        QCOMPARE((QStringList{past("add-1"), past("nam-1"), past("add-0"), past("noken-1"), past("ken-0")}),
                 (QStringList{"two@example.jp", "Mr Two", "", "未承諾広告", "定例"}));
    }

    // Hidden sound controls keep their values; a cancelled browse gives back the name the other
    // browse chose (the two share one kept name), the icon's gives its default.
    void soundAndBrowsers() {
        writeValue(ini(), keys::WavOption, QString("True"));
        writeValue(ini(), keys::BeepOption, QString("False"));
        writeValue(ini(), keys::WavFile, QString("/snd/a.wav"));
        QPointer<frmSetKR> w = open();
        QVERIFY(w->Command7->isHidden() && w->Option2[1]->isHidden());
        w->Check2->click();
        QVERIFY(!w->Command7->isHidden());
        w->Option2[0]->click();
        QVERIFY(w->Command7->isHidden() && !w->Option2[1]->isHidden());
        w->Option2[1]->click();
        w->Command3->click(); // cancelled first: empty
        QVERIFY(w->Text4->toPlainText().isEmpty());
        dialogs_.files.enqueue("/usr/bin/thunderbird");
        w->Command3->click();
        w->Command7->click(); // cancelled: the mail program's name
        QCOMPARE(w->Label16->text(), "/usr/bin/thunderbird");
        w->Command6->click();
        QCOMPARE(w->Label15->text(), program_ + "/DATA/Icon.ico");
        w->Check2->click();
        finish(w, w->Command1);
        QCOMPARE((QStringList{past("check2"), past("option2-1"), past("label16"), past("text4")}),
                 (QStringList{"0", "True", "/usr/bin/thunderbird", "/usr/bin/thunderbird"}));
    }

    // Each click writes or removes the entry at once; "キャンセル" keeps it.
    void startupEntryFollowsEachClick() {
        QPointer<frmSetKR> w = open();
        w->Check1->click();
        const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
        QVERIFY(readFile(entry_).contains("\nExec=\"" + exe.toUtf8() + "\"\n"));
        w->Check1->click();
        QVERIFY(!QFileInfo::exists(entry_));
        w->Check1->click();
        finish(w, w->Command2);
        QVERIFY(QFileInfo::exists(entry_));
        QCOMPARE(past("check1"), "<none>");
    }
};

QTEST_MAIN(TestFrmSetKR)
#include "tst_frmsetkr.moc"
