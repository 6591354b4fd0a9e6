// The settings window driven as a user would: slots, lists, sound controls, file dialogs answered by
// a script, the autostart entry, and what "終了", "キャンセル" and the close box leave in the file.
#include "frmSetKR.h"
#include "iniKeys.h"
#include "modIniFile.h"
#include "offScreenPositions.h"
#include "recordingMainWindow.h"
#include "scriptedDialogs.h"
#include "testFiles.h"
#include "twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace korimo;

namespace {

// Key names of one section in file order.
QStringList keysOf(const QString& iniPath, const QByteArray& section) {
    QStringList out;
    bool in = false;
    for (const QByteArray& raw : readFile(iniPath).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            in = line == '[' + section + ']';
            continue;
        }
        if (in && line.contains('='))
            out << QString::fromLatin1(line.left(line.indexOf('=')));
    }
    return out;
}

const QString kMissing = QStringLiteral("<missing>");

} // namespace

class TestFrmSetKR : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString program_;
    QString autostart_;
    ScriptedDialogs dialogs_;
    RecordingMainWindow link_;

    IniFile ini() const { return IniFile(program_); }
    QString iniPath() const { return IniFilePath(program_); }
    QString entry() const { return autostart_ + QStringLiteral("/こりも.desktop"); }
    QString pastValue(const QString& key) const { return ini().ReadIniString(u"Past", key, kMissing); }

    frmSetKR* open() {
        auto* w = new frmSetKR(program_, dialogs_, link_);
        w->Form_Load();
        return w;
    }
    // Shown and active, so that focus moves as it does for a user.
    frmSetKR* openShown() {
        frmSetKR* w = open();
        w->show();
        QApplication::setActiveWindow(w);
        if (!QTest::qWaitForWindowActive(w))
            qWarning("window not active");
        return w;
    }
    static void gone(QPointer<frmSetKR>& w) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(w.isNull(), "the window closed and deleted itself");
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        program_ = dir_.path() + "/program";
        QVERIFY(QDir().mkpath(program_ + "/DATA"));
        QVERIFY(QDir().mkpath(program_ + "/Sound"));
        qputenv("XDG_CONFIG_HOME", (dir_.path() + "/config").toUtf8());
        autostart_ = dir_.path() + "/config/autostart";
    }

    void init() {
        QFile::remove(iniPath());
        QFile::remove(entry());
        dialogs_ = ScriptedDialogs();
        link_ = RecordingMainWindow();
    }

    void noPastKeysOpensWithDefaults() {
        // Other windows' sections only.
        QVERIFY(ini().WriteIniString(u"Main", u"left", "100"));
        QVERIFY(ini().WriteIniString(u"Trans", u"text5", "/x"));
        frmSetKR* w = open();
        for (QLineEdit* t : {w->Text1, w->Text2, w->Text5, w->Text6, w->Text7, w->Text8, w->Text9, w->Text10, w->Text11,
                             w->Text12, w->Text13})
            QVERIFY2(t->text().isEmpty(), qPrintable(t->objectName()));
        QVERIFY(w->Text4->toPlainText().isEmpty());
        QVERIFY(w->Option1[0]->isChecked());
        QCOMPARE(w->CurrentBox, qint16(0));
        QCOMPARE(w->Text3->text(), "2");
        QVERIFY(w->Option2[0]->isChecked());
        QVERIFY(!w->Option2[1]->isChecked());
        QVERIFY(!w->Check1->isChecked());
        QVERIFY(!w->Check2->isChecked());
        QCOMPARE(w->Label15->text(), program_ + "/DATA/Icon.ico");
        QVERIFY(w->Label16->text().isEmpty());
        for (QLabel* l : {w->Label7, w->Label8, w->Label12, w->Label13})
            QCOMPARE(l->text(), "1");
        QCOMPARE(w->pos(), QPoint(twipsToPixelsX(*w, 4000), twipsToPixelsY(*w, 2200)));
        QVERIFY(!w->Loading);
        delete w;
    }

    void captionsAndTips() {
        frmSetKR* w = open();
        QCOMPARE(w->windowTitle(), "設定");
        QCOMPARE(w->SSTab1->count(), 4);
        QCOMPARE(w->SSTab1->tabText(0), "①　サーバー・動作の設定");
        QCOMPARE(w->SSTab1->tabText(1), "②　メールボックスの設定");
        QCOMPARE(w->SSTab1->tabText(2), "③　送信の設定");
        QCOMPARE(w->SSTab1->tabText(3), "④　お知らせ除外機能の設定");
        QCOMPARE(w->Label17->text(), "設定を変更した場合、このソフトを再起動させる必要があります。");
        QCOMPARE(w->Label17->palette().color(QPalette::WindowText), QColor(Qt::red));
        QCOMPARE(w->Command1->text(), "終了");
        QCOMPARE(w->Command2->text(), "キャンセル");
        QCOMPARE(w->Option1[0]->toolTip(), "メールボック①に切り替えます");
        QCOMPARE(w->Option1[4]->toolTip(), "メールボックス⑤に切り替えます");
        QCOMPARE(w->Option1[2]->text(), "3");
        QCOMPARE(w->Frame4->title(), "メールボックス(最低ひとつ)");
        QCOMPARE(w->Frame11->title(), "お知らせアイコンの設定(任意)");
        QCOMPARE(w->Command8->toolTip(), "このボックスのデータを消去します");
        QVERIFY(w->Label14->text().startsWith(u'　'));
        // Every frame sits on the tab the window's layout puts it on.
        const QList<QList<QGroupBox*>> onTab = {{w->Frame1, w->Frame2, w->Frame3},
                                                {w->Frame4, w->Frame5, w->Frame11},
                                                {w->Frame6, w->Frame7, w->Frame8},
                                                {w->Frame9, w->Frame10}};
        for (int t = 0; t < onTab.size(); ++t)
            for (QGroupBox* f : onTab[t])
                QVERIFY2(w->SSTab1->widget(t)->isAncestorOf(f), qPrintable(f->title()));
        delete w;
    }

    void passwordShowsStarsAndAsciiBoxesHaveNoInputMethod() {
        frmSetKR* w = open();
        w->Text7->setText("s3cret!");
        QCOMPARE(w->Text7->displayText(), "*******");
        QCOMPARE(w->Text7->text(), "s3cret!");
        for (QLineEdit* t : {w->Text1, w->Text2, w->Text5, w->Text6, w->Text7, w->Text8})
            QVERIFY(!t->testAttribute(Qt::WA_InputMethodEnabled));
        for (QLineEdit* t : {w->Text9, w->Text10, w->Text11, w->Text12, w->Text13})
            QVERIFY(t->testAttribute(Qt::WA_InputMethodEnabled));
        delete w;
    }

    void switchingSlotsKeepsEdits() {
        writeValue(ini(), keys::Servers, QString("pop.three"), 2);
        frmSetKR* w = open();
        w->Text5->setText("pop.one");
        w->Text6->setText("user1");
        w->Text7->setText("pw1");
        w->Option1[2]->setChecked(true);
        QCOMPARE(w->CurrentBox, qint16(2));
        QCOMPARE(w->Text5->text(), "pop.three");
        QVERIFY(w->Text6->text().isEmpty());
        w->Text6->setText("user3");
        w->Option1[0]->setChecked(true);
        QCOMPARE(w->Text5->text(), "pop.one");
        QCOMPARE(w->Text6->text(), "user1");
        QCOMPARE(w->Text7->text(), "pw1");
        w->Option1[2]->setChecked(true);
        QCOMPARE(w->Text6->text(), "user3");
        // The slot on screen is saved without switching away from it.
        w->Text7->setText("pw3");
        QPointer<frmSetKR> p(w);
        w->Command1->click();
        gone(p);
        QCOMPARE(pastValue("smtp-0"), "pop.one");
        QCOMPARE(pastValue("acou-0"), "user1");
        QCOMPARE(pastValue("pass-0"), "pw1");
        QCOMPARE(pastValue("smtp-2"), "pop.three");
        QCOMPARE(pastValue("acou-2"), "user3");
        QCOMPARE(pastValue("pass-2"), "pw3");
        QCOMPARE(pastValue("smtp-4"), "");
    }

    void eraseThenCancelLeavesFileUnchanged() {
        writeValue(ini(), keys::Servers, QString("pop.example"), 0);
        writeValue(ini(), keys::Accounts, QString("ユーザー"), 0);
        writeValue(ini(), keys::Passwords, QString("pw"), 0);
        writeValue(ini(), keys::SmtpServer, QString("smtp.example"));
        const QByteArray before = readFile(iniPath());
        QPointer<frmSetKR> w(open());
        QCOMPARE(w->Text5->text(), "pop.example");
        w->Command8->click();
        QVERIFY(w->Text5->text().isEmpty() && w->Text6->text().isEmpty() && w->Text7->text().isEmpty());
        w->Text1->setText("changed");
        w->Command2->click();
        gone(w);
        QCOMPARE(readFile(iniPath()), before);
        QVERIFY(link_.restored >= 1);
        QCOMPARE(link_.focusCalls, 1);
    }

    void eraseThenFinishWritesEmptyValues() {
        writeValue(ini(), keys::Servers, QString("pop.example"), 0);
        writeValue(ini(), keys::Accounts, QString("user"), 0);
        writeValue(ini(), keys::Passwords, QString("pw"), 0);
        writeValue(ini(), keys::Servers, QString("pop.two"), 1);
        QPointer<frmSetKR> w(open());
        w->Command8->click();
        w->Command1->click();
        gone(w);
        QCOMPARE(pastValue("smtp-0"), "");
        QCOMPARE(pastValue("acou-0"), "");
        QCOMPARE(pastValue("pass-0"), "");
        QCOMPARE(pastValue("smtp-1"), "pop.two");
        QVERIFY(link_.restored >= 1);
        QCOMPARE(link_.focusCalls, 1);
    }

    void closeBoxSavesNothing() {
        writeValue(ini(), keys::SmtpServer, QString("smtp.example"));
        const QByteArray before = readFile(iniPath());
        QPointer<frmSetKR> w(open());
        w->show();
        w->Text1->setText("other");
        w->Text5->setText("pop.new");
        QVERIFY(w->close());
        gone(w);
        QCOMPARE(readFile(iniPath()), before);
        QCOMPARE(link_.restored, 1);
        QCOMPARE(link_.focusCalls, 1);
    }

    void finishWritesEveryKeyInOrder() {
        QPointer<frmSetKR> w(open());
        w->Command1->click();
        gone(w);
        QStringList expected{"smtp", "useradd", "text3", "text4", "text11", "label15"};
        for (int n = 0; n < 20; ++n)
            expected << QString("add-%1").arg(n) << QString("nam-%1").arg(n) << QString("ken-%1").arg(n)
                     << QString("noadd-%1").arg(n) << QString("noken-%1").arg(n);
        for (int n = 0; n < 5; ++n)
            expected << QString("smtp-%1").arg(n) << QString("acou-%1").arg(n) << QString("pass-%1").arg(n);
        expected << "check1"
                 << "check2"
                 << "label16"
                 << "option2-0"
                 << "option2-1";
        QCOMPARE(keysOf(iniPath(), "Past"), expected);
        QCOMPARE(keysOf(iniPath(), "Set"), (QStringList{"left", "top"}));
        QCOMPARE(ini().ReadIniString(u"Set", u"left", kMissing), "4000");
        QCOMPARE(ini().ReadIniString(u"Set", u"top", kMissing), "2200");
        QCOMPARE(pastValue("text3"), "2");
        QCOMPARE(pastValue("option2-0"), "True");
        QCOMPARE(pastValue("option2-1"), "False");
        QCOMPARE(pastValue("check1"), "0");
        QCOMPARE(pastValue("label15"), program_ + "/DATA/Icon.ico");
    }

    void openAndFinishKeepsEveryValue() {
        // Each key goes to its own control and comes back from it.
        const IniFile f = ini();
        writeValue(f, keys::SetLeft, 3000);
        writeValue(f, keys::SetTop, 1500);
        writeValue(f, keys::SmtpServer, QString("smtp.example.jp"));
        writeValue(f, keys::SenderAddress, QString("me@example.jp"));
        writeValue(f, keys::SenderName, QString("山田　太郎"));
        writeValue(f, keys::ShowSeconds, QString("40000")); // beyond 16 bits: shown as it is
        writeValue(f, keys::MailerPath, QString("/usr/bin/メーラー"));
        writeValue(f, keys::NoticeIcon, QString("/icons/a.ico"));
        writeValue(f, keys::WavFile, QString("/snd/ding.wav"));
        writeValue(f, keys::Startup, 1);
        writeValue(f, keys::SoundOn, 1);
        writeValue(f, keys::BeepOption, QString("False"));
        writeValue(f, keys::WavOption, QString("True"));
        for (int n = 0; n < 20; ++n) {
            writeValue(f, keys::SendAddresses, QString("a%1@x").arg(n), n);
            writeValue(f, keys::SendNames, QString("名前%1").arg(n), n);
            writeValue(f, keys::SendSubjects, QString("件名%1").arg(n), n);
            writeValue(f, keys::ExcludeSenders, QString("spam%1").arg(n), n);
            writeValue(f, keys::ExcludeSubjects, QString("広告%1").arg(n), n);
        }
        for (int n = 0; n < 5; ++n) {
            writeValue(f, keys::Servers, QString("pop%1").arg(n), n);
            writeValue(f, keys::Accounts, QString("acc%1").arg(n), n);
            writeValue(f, keys::Passwords, QString("pw%1").arg(n), n);
        }
        const QByteArray before = readFile(iniPath());
        QPointer<frmSetKR> w(open());
        QCOMPARE(w->Text11->text(), "山田　太郎");
        QCOMPARE(w->Text3->text(), "40000");
        QCOMPARE(w->Text9->text(), "名前0");
        QCOMPARE(w->Text13->text(), "広告0");
        QVERIFY(w->Option2[1]->isChecked());
        QVERIFY(w->Check1->isChecked());
        QVERIFY(!QFileInfo::exists(entry())); // ticked while loading: no entry made
        w->Command1->click();
        gone(w);
        QCOMPARE(readFile(iniPath()), before);
        QVERIFY(!QFileInfo::exists(entry()));
    }

    void movedWindowSavesItsPosition() {
        frmSetKR* w = open();
        w->move(twipsToPixelsX(*w, 1500), twipsToPixelsY(*w, 3000));
        QPointer<frmSetKR> p(w);
        w->Command1->click();
        gone(p);
        QCOMPARE(ini().ReadIniInt(u"Set", u"left", 0), 1500);
        QCOMPARE(ini().ReadIniInt(u"Set", u"top", 0), 3000);
    }

    void positionOnNoScreenOpensOnTheScreen_data() { addOffScreenPositionRows(); }
    void positionOnNoScreenOpensOnTheScreen() {
        QFETCH(int, left);
        QFETCH(int, top);
        writeValue(ini(), keys::SetLeft, left);
        writeValue(ini(), keys::SetTop, top);
        frmSetKR* w = open();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(QRect(w->pos(), w->sizeHint()).center()),
                 qPrintable(QString("%1,%2").arg(w->x()).arg(w->y())));
        const QPoint shownAt(pixelsToTwipsX(*w, w->x()), pixelsToTwipsY(*w, w->y()));
        QPointer<frmSetKR> p(w);
        w->Command1->click();
        gone(p);
        // The place it was shown at is saved, not the unreachable one.
        QCOMPARE(ini().ReadIniInt(u"Set", u"left", 0), shownAt.x());
        QCOMPARE(ini().ReadIniInt(u"Set", u"top", 0), shownAt.y());
    }

    void browsersWrapAround_data() {
        QTest::addColumn<int>("which"); // 0..3: recipients, subjects, sender and subject exclusions
        QTest::newRow("recipients") << 0;
        QTest::newRow("subjects") << 1;
        QTest::newRow("sender exclusions") << 2;
        QTest::newRow("subject exclusions") << 3;
    }
    void browsersWrapAround() {
        QFETCH(int, which);
        const IniFile f = ini();
        writeValue(f, keys::SendAddresses, QString("first@x"), 0);
        writeValue(f, keys::SendNames, QString("一番"), 0);
        writeValue(f, keys::SendAddresses, QString("last@x"), 19);
        writeValue(f, keys::SendNames, QString("二十番"), 19);
        writeValue(f, keys::SendSubjects, QString("S1"), 0);
        writeValue(f, keys::SendSubjects, QString("S20"), 19);
        writeValue(f, keys::ExcludeSenders, QString("E1"), 0);
        writeValue(f, keys::ExcludeSenders, QString("E20"), 19);
        writeValue(f, keys::ExcludeSubjects, QString("K1"), 0);
        writeValue(f, keys::ExcludeSubjects, QString("K20"), 19);
        std::unique_ptr<frmSetKR> w(open());
        struct B {
            QPushButton *up, *down;
            QLabel* number;
            QLineEdit* box;
            QLineEdit* second;
            QString one, twenty, secondOne, secondTwenty;
        };
        const B all[] = {
            {w->Command4[0], w->Command4[1], w->Label7, w->Text8, w->Text9, "first@x", "last@x", "一番", "二十番"},
            {w->Command4[2], w->Command4[3], w->Label8, w->Text10, nullptr, "S1", "S20", {}, {}},
            {w->Command5[0], w->Command5[1], w->Label12, w->Text12, nullptr, "E1", "E20", {}, {}},
            {w->Command5[2], w->Command5[3], w->Label13, w->Text13, nullptr, "K1", "K20", {}, {}}};
        const B& b = all[which];
        QCOMPARE(b.up->text(), "↑");
        QCOMPARE(b.down->text(), "↓");
        QCOMPARE(b.box->text(), b.one);
        b.down->click();
        QCOMPARE(b.number->text(), "20");
        QCOMPARE(b.box->text(), b.twenty);
        if (b.second)
            QCOMPARE(b.second->text(), b.secondTwenty);
        b.up->click();
        QCOMPARE(b.number->text(), "1");
        QCOMPARE(b.box->text(), b.one);
        if (b.second)
            QCOMPARE(b.second->text(), b.secondOne);
        b.up->click();
        QCOMPARE(b.number->text(), "2");
        QVERIFY(b.box->text().isEmpty());
        // The other browsers did not move.
        for (const B& o : all)
            if (&o != &b)
                QCOMPARE(o.number->text(), "1");
    }

    void typedEntryIsStoredBeforeTheMove() {
        std::unique_ptr<frmSetKR> w(openShown());
        w->SSTab1->setCurrentIndex(2);
        QTest::mouseClick(w->Command4[0], Qt::LeftButton); // ↑: 2
        QTest::mouseClick(w->Command4[0], Qt::LeftButton); // ↑: 3
        QCOMPARE(w->Label7->text(), "3");
        QCOMPARE(QApplication::focusWidget(), w->Text8);
        QTest::keyClicks(w->Text8, "three@example.jp");
        QTest::mouseClick(w->Text9, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w->Text9);
        QCOMPARE(w->SendAddresses.at(2), "three@example.jp"); // stored when the box lost the focus
        QTest::keyClicks(w->Text9, "Mr Three");
        QTest::mouseClick(w->Command4[0], Qt::LeftButton); // ↑: 4
        QCOMPARE(w->SendNames.at(2), "Mr Three");
        QCOMPARE(w->Label7->text(), "4");
        QVERIFY(w->Text8->text().isEmpty());
        QVERIFY(w->Text9->text().isEmpty());
        QCOMPARE(QApplication::focusWidget(), w->Text8);

        // The exclusion list on tab ④: typed, then saved straight away by "終了".
        w->SSTab1->setCurrentIndex(3);
        w->Text12->setFocus();
        QTest::keyClicks(w->Text12, "spam@");
        QPointer<frmSetKR> p(w.release());
        QTest::mouseClick(p->Command1, Qt::LeftButton);
        gone(p);
        QCOMPARE(pastValue("add-2"), "three@example.jp");
        QCOMPARE(pastValue("nam-2"), "Mr Three");
        QCOMPARE(pastValue("noadd-0"), "spam@");
        // Gaps stay where they are.
        QCOMPARE(pastValue("add-0"), "");
        QCOMPARE(pastValue("add-1"), "");
        QCOMPARE(pastValue("add-3"), "");
    }

    void textSetWithoutFocusIsStillSaved() {
        // A box filled without ever having the focus (paste by the window system, code) is saved too.
        frmSetKR* w = open();
        w->Command5[2]->click(); // subject exclusions to 2
        w->Text13->setText("未承諾広告");
        w->Text10->setText("定例");
        QPointer<frmSetKR> p(w);
        w->Command1_Click();
        gone(p);
        QCOMPARE(pastValue("noken-1"), "未承諾広告");
        QCOMPARE(pastValue("ken-0"), "定例");
    }

    void soundControlsVisibility() {
        writeValue(ini(), keys::SoundOn, 0);
        writeValue(ini(), keys::BeepOption, QString("False"));
        writeValue(ini(), keys::WavOption, QString("True"));
        writeValue(ini(), keys::WavFile, QString("/snd/a.wav"));
        std::unique_ptr<frmSetKR> w(open());
        auto shown = [&](QWidget* c) {
            return !c->isHidden();
        };
        QVERIFY(w->Option2[1]->isChecked());
        QVERIFY(!shown(w->Option2[0]) && !shown(w->Option2[1]) && !shown(w->Command7) && !shown(w->Label16));
        w->Check2->click();
        QVERIFY(shown(w->Option2[0]) && shown(w->Option2[1]) && shown(w->Command7) && shown(w->Label16));
        w->Option2[0]->click();
        QVERIFY(shown(w->Option2[0]) && shown(w->Option2[1]) && !shown(w->Command7) && !shown(w->Label16));
        w->Option2[1]->click();
        QVERIFY(shown(w->Command7) && shown(w->Label16));
        w->Check2->click();
        QVERIFY(!shown(w->Option2[0]) && !shown(w->Option2[1]) && !shown(w->Command7) && !shown(w->Label16));
        // Hidden controls keep their values and are saved as they are.
        QPointer<frmSetKR> p(w.release());
        p->Command1->click();
        gone(p);
        QCOMPARE(pastValue("check2"), "0");
        QCOMPARE(pastValue("option2-0"), "False");
        QCOMPARE(pastValue("option2-1"), "True");
        QCOMPARE(pastValue("label16"), "/snd/a.wav");
    }

    void wavAndMailProgramShareOneKeptName() {
        writeValue(ini(), keys::SoundOn, 1);
        writeValue(ini(), keys::WavOption, QString("True"));
        writeValue(ini(), keys::BeepOption, QString("False"));
        writeValue(ini(), keys::MailerPath, QString("/usr/bin/old-mailer"));
        std::unique_ptr<frmSetKR> w(openShown());
        // A first, cancelled mail-program browse empties the box.
        w->Command3->click();
        QVERIFY(w->Text4->toPlainText().isEmpty());
        QCOMPARE(QApplication::focusWidget(), w->Command1);
        const auto mailer = dialogs_.shown.last();
        QCOMPARE(mailer.kind, "openFile");
        QCOMPARE(mailer.text,
                 "メーラーを指定してください。一般に「\\Program Files\\Outlook Express\\msimn.exe」です。");
        // The caption stays, every file shows: programs here have no ".exe".
        QCOMPARE(toQtFilter(mailer.extra), "実行ファイル(*.exe) (*)");

        dialogs_.files.enqueue(program_ + "/Sound/ding.wav");
        w->Command7->click();
        QCOMPARE(w->Label16->text(), program_ + "/Sound/ding.wav");
        const auto wav = dialogs_.shown.last();
        QCOMPARE(wav.text, "WAVファイルを指定してください");
        QCOMPARE(wav.startFolder, program_ + "/Sound");
        QCOMPARE(wav.extra, "実行ファイル(*.wav)|*.wav|");

        w->Command3->click(); // cancelled: the WAV file's name comes back
        QCOMPARE(w->Text4->toPlainText(), program_ + "/Sound/ding.wav");
        dialogs_.files.enqueue("/usr/bin/thunderbird");
        w->Command3->click();
        QCOMPARE(w->Text4->toPlainText(), "/usr/bin/thunderbird");
        w->Command7->click(); // cancelled: the mail program's name comes back
        QCOMPARE(w->Label16->text(), "/usr/bin/thunderbird");
        QCOMPARE(QApplication::focusWidget(), w->Command1);
        // The icon's dialog keeps its own name: nothing chosen there yet.
        w->Command6->click();
        QCOMPARE(w->Label15->text(), program_ + "/DATA/Icon.ico");
    }

    void iconCancelGivesTheDefault() {
        writeValue(ini(), keys::NoticeIcon, QString("/icons/custom.ico"));
        std::unique_ptr<frmSetKR> w(open());
        QCOMPARE(w->Label15->text(), "/icons/custom.ico");
        w->Command6->click();
        QCOMPARE(w->Label15->text(), program_ + "/DATA/Icon.ico");
        const auto icon = dialogs_.shown.last();
        QCOMPARE(icon.text, "お知らせアイコンを指定してください。「キャンセル」は初期設定になります。");
        QCOMPARE(icon.startFolder, program_ + "/DATA/");
        QCOMPARE(icon.extra, "アイコンファイル(*.ico)|*.ico|");
        dialogs_.files.enqueue("/icons/new.ico");
        w->Command6->click();
        QCOMPARE(w->Label15->text(), "/icons/new.ico");
        w->Command6->click();
        QCOMPARE(w->Label15->text(), "/icons/new.ico");
        // The WAV dialog has not returned anything yet.
        w->Command7->click();
        QVERIFY(w->Label16->text().isEmpty());
    }

    void startupEntryFollowsEachClick() {
        QPointer<frmSetKR> w(open());
        w->Check1->click();
        QVERIFY(QFileInfo::exists(entry()));
        QFile f(entry());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        const QString exe = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
        QVERIFY2(text.contains("\nExec=\"" + exe + "\"\n"), qPrintable(text));
        w->Check1->click();
        QVERIFY(!QFileInfo::exists(entry()));
        w->Check1->click();
        QVERIFY(QFileInfo::exists(entry()));
        // Cancel keeps the entry but not the box's state.
        w->Command2->click();
        gone(w);
        QVERIFY(QFileInfo::exists(entry()));
        QCOMPARE(pastValue("check1"), kMissing);
        std::unique_ptr<frmSetKR> again(open());
        QVERIFY(!again->Check1->isChecked());
        QVERIFY(QFileInfo::exists(entry())); // loading touches no entry
    }

    void untickedAtLoadKeepsAnExistingEntry() {
        QVERIFY(QDir().mkpath(autostart_));
        {
            QFile f(entry());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("[Desktop Entry]\nType=Application\nName=x\nExec=/bin/true\n");
        }
        QPointer<frmSetKR> w(open());
        QVERIFY(!w->Check1->isChecked());
        QVERIFY(QFileInfo::exists(entry()));
        w->Check1->click();
        w->Command1->click();
        gone(w);
        QCOMPARE(pastValue("check1"), "1");
        QVERIFY(!readFile(entry()).contains("/bin/true"));
    }

    void startupFailureIsSilent() {
        // The autostart folder's place is taken by a file: nothing can be written, nothing is shown.
        QVERIFY(QDir(autostart_).removeRecursively());
        {
            QFile f(autostart_);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        std::unique_ptr<frmSetKR> w(open());
        w->Check1->click();
        QVERIFY(w->Check1->isChecked());
        w->Check1->click();
        QVERIFY(!w->Check1->isChecked());
        QVERIFY(dialogs_.shown.isEmpty());
        QVERIFY(QFile::remove(autostart_));
    }
};

QTEST_MAIN(TestFrmSetKR)
#include "tst_frmsetkr.moc"
