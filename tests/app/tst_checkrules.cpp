// The rules of a check without a display: exclusion, counting, failed-mailbox bookkeeping, the
// decision, the period and the tray tip, the main window's mode.
#include "checkRules.h"
#include "mainMode.h"

#include <QTest>

using namespace korimo;

class TestCheckRules : public QObject {
    Q_OBJECT
private slots:
    void exclusion_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QStringList>("subjects");
        QTest::addColumn<QStringList>("senders");
        QTest::addColumn<bool>("excluded");
        QTest::newRow("subject") << "cheap spam"
                                 << "x@y" << QStringList{"spam"} << QStringList{} << true;
        QTest::newRow("sender") << "hi"
                                << "ads@shop.example" << QStringList{} << QStringList{"@shop."} << true;
        QTest::newRow("case-sensitive") << "SPAM"
                                        << "x@y" << QStringList{"spam"} << QStringList{} << false;
        QTest::newRow("after a gap") << "news"
                                     << "x@y" << QStringList{"spam", "", "news"} << QStringList{} << false;
        QTest::newRow("subject list, sender text") << "hello"
                                                   << "spam@x" << QStringList{"spam"} << QStringList{} << false;
    }
    void exclusion() {
        QFETCH(QString, subject);
        QFETCH(QString, from);
        QFETCH(QStringList, subjects);
        QFETCH(QStringList, senders);
        QFETCH(bool, excluded);
        QCOMPARE(isExcluded(MessageSummary{1, "u", subject, from, "Mon"}, subjects, senders), excluded);
    }

    // Unused slots are skipped, a message matched twice is excluded once, the stored count stops at
    // 32767, failures are kept per slot until the slot answers.
    void tallyAndFailures() {
        QList<MessageSummary> many(20000, MessageSummary{1, "u", "m", "a@b", "d"});
        for (int i = 0; i < 300; ++i)
            many[i].subject = many[i].from = "spam";
        const QList<Mailbox> boxes{{"a", {}, {}}, {}, {"c", {}, {}}, {"d", {}, {}}};
        QList<MailOutcome<Listing>> listings{Listing{many, {}}, Listing{many, {}},
                                             MailError{MailErrorKind::TimedOut, "c"}, Listing{many, "CN=d"}};
        const CheckTally t = tallyCheck(boxes, listings, {"spam"}, {"spam"});
        QCOMPARE(t.total, 40000);
        QCOMPARE(t.excluded, 600);
        QCOMPARE(t.counted(), qint16(32767));
        QCOMPARE(t.answered, (QList<int>{0, 3}));
        FailedMailboxes failed;
        failed.update(t, listings);
        QCOMPARE(failed.entries().size(), 2);
        QCOMPARE(failed.entries().at(0), (QPair<int, QString>{2, describe({MailErrorKind::TimedOut, "c"})}));
        QVERIFY(failed.entries().at(1).second.contains("CN=d"));
        listings[2] = Listing{};
        listings[3] = Listing{};
        failed.update(tallyCheck(boxes.mid(0, 3), listings, {}, {}), listings); // slot 3 not asked: kept
        QCOMPARE(failed.entries().size(), 1);
        QCOMPARE(failed.entries().at(0).first, 3);
    }

    void period_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("firstDueTick");
        QTest::addColumn<QString>("tip");
        QTest::newRow("1.5") << "1.5" << 91 << "2分毎にチェック";
        QTest::newRow("2.5 to even") << "2.5" << 151 << "2分毎にチェック";
        QTest::newRow("zero: every tick") << "0" << 1 << "0分毎にチェック";
        QTest::newRow("full-width") << "１．５" << 91 << "2分毎にチェック";
        QTest::newRow("letters: default") << "5min" << 121 << "2分毎にチェック";
        QTest::newRow("inf: default") << "inf" << 121 << "2分毎にチェック";
    }
    void period() {
        QFETCH(QString, text);
        QFETCH(int, firstDueTick);
        QFETCH(QString, tip);
        QVERIFY(firstDueTick == 1 || !timedCheckDue(firstDueTick - 1, text)); // ticks count from 1
        QVERIFY(timedCheckDue(firstDueTick, text));
        QCOMPARE(trayTipText(text), tip);
    }

    // Announced only for a changed count in the tray; input during a check waits for its end.
    void decisionAndMode() {
        QCOMPARE(decideAfterCheck(0, 3, true), CheckDecision::Announce);
        QCOMPARE(decideAfterCheck(3, 3, true), CheckDecision::DefaultIcon);
        QCOMPARE(decideAfterCheck(4, 3, false), CheckDecision::DefaultIcon);
        MainMode m = next(next(MainMode{}, MainEvent::EnterTrayMinimised), MainEvent::Announce);
        QCOMPARE(m, (MainMode{Place::Announcing, false}));
        QCOMPARE(next(m, MainEvent::TrayHostGone), m); // only the tray follows its host
        QVERIFY(!deferDuringCheck(m, Deferred::Close));
        m = next(m, MainEvent::CheckBegins);
        QVERIFY(deferDuringCheck(m, Deferred::Close) && deferDuringCheck(m, Deferred::Tick));
        QVERIFY(takeDeferred(m, Deferred::Close) && !takeDeferred(m, Deferred::Close));
        QCOMPARE(m.deferred, quint8(Deferred::Tick));
    }
};

QTEST_GUILESS_MAIN(TestCheckRules)
#include "tst_checkrules.moc"
