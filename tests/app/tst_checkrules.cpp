// The display-free rules of a check: exclusion, counting, status texts, the decision, period and tip.
#include "checkRules.h"
#include "fakeMailTransport.h"

#include <QTest>

using namespace korimo;

namespace {

QStringList list20(std::initializer_list<QString> first) {
    QStringList l(first);
    while (l.size() < 20)
        l << QString();
    return l;
}

QString rec(const QString& subject, const QString& from) {
    return QStringLiteral("Subject:") + subject + QStringLiteral(" From:") + from + QStringLiteral(" Date: Mon");
}

QList<Mailbox> fiveBoxes(std::initializer_list<int> configured) {
    QList<Mailbox> boxes(5);
    for (int i : configured)
        boxes[i] = Mailbox{QStringLiteral("pop%1.test").arg(i), QStringLiteral("u"), QStringLiteral("p")};
    return boxes;
}

} // namespace

class TestCheckRules : public QObject {
    Q_OBJECT
private slots:
    void exclusion_data() {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QStringList>("subjects");
        QTest::addColumn<QStringList>("senders");
        QTest::addColumn<bool>("excluded");
        QTest::newRow("no lists") << rec("spam", "x@y") << list20({}) << list20({}) << false;
        QTest::newRow("subject match") << rec("cheap spam here", "x@y") << list20({"spam"}) << list20({}) << true;
        QTest::newRow("sender match") << rec("hi", "ads@shop.example") << list20({}) << list20({"@shop."}) << true;
        QTest::newRow("case-sensitive") << rec("SPAM", "x@y") << list20({"spam"}) << list20({}) << false;
        QTest::newRow("later entry") << rec("news", "x@y") << list20({"spam", "news"}) << list20({}) << true;
        // An empty entry ends the list: entry 2 is never consulted.
        QTest::newRow("after a gap") << rec("news", "x@y") << list20({"spam", "", "news"}) << list20({}) << false;
        QTest::newRow("sender after a gap") << rec("a", "b@news") << list20({}) << list20({"zz", "", "news"}) << false;
        // The subject is only the subject: text of the sender or date does not match the subject list.
        QTest::newRow("subject list vs sender") << rec("hello", "spam@x") << list20({"spam"}) << list20({}) << false;
        QTest::newRow("sender list vs subject") << rec("spam", "x@y") << list20({}) << list20({"spam"}) << false;
        QTest::newRow("date not matched") << rec("a", "b") << list20({"Mon"}) << list20({"Mon"}) << false;
        // Keywords inside the subject do not move the cut.
        QTest::newRow("From in subject, subject list")
            << rec("Fw: From the Osaka office", "a@b") << list20({"Osaka"}) << list20({}) << true;
        QTest::newRow("From in subject, sender list")
            << rec("Fw: From the Osaka office", "a@b") << list20({}) << list20({"office"}) << false;
        QTest::newRow("Date: in subject, sender list")
            << rec("Re: New Date: Friday", "boss@corp") << list20({}) << list20({"boss"}) << true;
        // Records of the scripted transport (a blank after each keyword).
        QTest::newRow("fake layout") << FakeMailTransport::summary("win big", "promo@x", "Tue") << list20({"big"})
                                     << list20({}) << true;
        // No "From": the subject cannot be told apart and is never matched.
        QTest::newRow("no From") << "Subject:spam Date: Mon" << list20({"spam"}) << list20({}) << false;
        QTest::newRow("empty record") << "" << list20({"a"}) << list20({"a"}) << false;
    }
    void exclusion() {
        QFETCH(QString, record);
        QFETCH(QStringList, subjects);
        QFETCH(QStringList, senders);
        QFETCH(bool, excluded);
        QCOMPARE(isExcluded(record, subjects, senders), excluded);
    }

    void tallyCountsExcludedOnce() {
        const QList<Mailbox> boxes = fiveBoxes({1});
        QList<MailResult> results(5);
        results[1] = MailResult::array({rec("spam", "spam@x"), rec("ok", "a@b"), rec("ok2", "c@d")});
        const CheckTally t = tallyCheck(boxes, results, list20({"spam"}), list20({"spam"}));
        QCOMPARE(t.total, 3);
        QCOMPARE(t.excluded, 1);
        QCOMPARE(t.counted(), qint16(2));
        QCOMPARE(checkStatusText(t.total), QStringLiteral("　3通メールがあります"));
    }

    void tallyNamesFailuresAndSkipsUnusedSlots() {
        const QList<Mailbox> boxes = fiveBoxes({0, 2, 4});
        QList<MailResult> results(5);
        results[0] = MailResult::array({rec("a", "b")});
        results[1] = MailResult::array({rec("never", "asked")}); // no server: not counted
        results[2] = MailResult::text(QStringLiteral("-ERR [AUTH] PASSWORD wrong"));
        results[4] = MailResult::array({});
        const CheckTally t = tallyCheck(boxes, results, list20({}), list20({}));
        QCOMPARE(t.total, 1);
        QCOMPARE(t.answered, (QList<int>{0, 4}));
        QCOMPARE(t.failed.size(), 1);
        QCOMPARE(t.failed.at(0).first, 2);
        QCOMPARE(t.failed.at(0).second, QStringLiteral("-ERR [AUTH] PASSWORD wrong"));
    }

    void tallyBeyondSixteenBits() {
        const QList<Mailbox> boxes = fiveBoxes({0, 1});
        QStringList many;
        for (int i = 0; i < 20000; ++i)
            many << rec(i < 300 ? QStringLiteral("spam") : QStringLiteral("m"), QStringLiteral("a@b"));
        QList<MailResult> results(5);
        results[0] = MailResult::array(many);
        results[1] = MailResult::array(many);
        const CheckTally t = tallyCheck(boxes, results, list20({"spam"}), list20({}));
        // Wider than the stored count: the status line shows the real total, the stored count stops at 32767.
        QCOMPARE(t.total, 40000);
        QCOMPARE(t.excluded, 600);
        QCOMPARE(t.counted(), qint16(32767));
        QCOMPARE(checkStatusText(t.total), QStringLiteral("　40000通メールがあります"));
    }

    void statusTexts() {
        QCOMPARE(checkStatusText(0), QStringLiteral("　メールはありません"));
        QCOMPARE(checkStatusText(1), QStringLiteral("　1通メールがあります"));
        QCOMPARE(checkingStatusText(), QStringLiteral("　チェック中"));
    }

    void decision_data() {
        QTest::addColumn<int>("counted");
        QTest::addColumn<int>("last");
        QTest::addColumn<bool>("inTray");
        QTest::addColumn<bool>("announce");
        QTest::newRow("same, tray") << 3 << 3 << true << false;
        QTest::newRow("rise, tray") << 4 << 3 << true << true;
        QTest::newRow("fall, tray") << 2 << 3 << true << true;
        QTest::newRow("to zero, tray") << 0 << 3 << true << true;
        QTest::newRow("change, shown") << 4 << 3 << false << false;
    }
    void decision() {
        QFETCH(int, counted);
        QFETCH(int, last);
        QFETCH(bool, inTray);
        QFETCH(bool, announce);
        QCOMPARE(decideAfterCheck(qint16(counted), qint16(last), inTray) == CheckDecision::Announce, announce);
    }

    void period_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("firstDueTick");
        QTest::addColumn<QString>("tip");
        QTest::newRow("default") << "2" << 121 << "2分毎にチェック";
        QTest::newRow("fraction") << "1.5" << 91 << "2分毎にチェック";
        QTest::newRow("half to even, down") << "2.5" << 151 << "2分毎にチェック";
        QTest::newRow("half to even, up") << "3.5" << 211 << "4分毎にチェック";
        QTest::newRow("half to zero") << "0.5" << 31 << "0分毎にチェック";
        QTest::newRow("zero: every tick") << "0" << 1 << "0分毎にチェック";
        QTest::newRow("negative: every tick") << "-1" << 1 << "-1分毎にチェック";
        QTest::newRow("blanks") << " 3 " << 181 << "3分毎にチェック";
        QTest::newRow("full-width digits") << "１．５" << 91 << "2分毎にチェック";
        QTest::newRow("exponent") << "1e1" << 601 << "10分毎にチェック";
        // Not a number: the default period, and the tip says so.
        QTest::newRow("empty") << "" << 121 << "2分毎にチェック";
        QTest::newRow("letters") << "abc" << 121 << "2分毎にチェック";
        QTest::newRow("number then letters") << "5min" << 121 << "2分毎にチェック";
        QTest::newRow("comma") << "1,5" << 121 << "2分毎にチェック";
        QTest::newRow("nan") << "nan" << 121 << "2分毎にチェック";
        QTest::newRow("inf") << "inf" << 121 << "2分毎にチェック";
        QTest::newRow("overflow") << "1e400" << 121 << "2分毎にチェック";
    }
    void period() {
        QFETCH(QString, text);
        QFETCH(int, firstDueTick);
        QFETCH(QString, tip);
        // Ticks are counted from 1.
        if (firstDueTick > 1)
            QVERIFY(!timedCheckDue(firstDueTick - 1, text));
        QVERIFY(timedCheckDue(firstDueTick, text));
        QCOMPARE(trayTipText(text), tip);
    }

    void notificationLasts() {
        // ShowSeconds + 1 ticks.
        QVERIFY(!notificationOver(2, 2));
        QVERIFY(notificationOver(3, 2));
        QVERIFY(notificationOver(1, 0));
    }

    void failureTip() {
        QCOMPARE(failureToolTip({}), QString());
        const QString tip = failureToolTip({{1, QStringLiteral("<b>-ERR</b> refused")}, {3, QString()}});
        QVERIFY(tip.contains(QStringLiteral("メールボックス2: &lt;b&gt;-ERR&lt;/b&gt; refused")));
        QVERIFY(tip.contains(QStringLiteral("メールボックス4: ")));
        QVERIFY(!tip.contains(QStringLiteral("<b>")));
        const QString longTip = failureToolTip({{0, QString(5000, u'x')}});
        QVERIFY(longTip.size() < 400);
    }
};

QTEST_GUILESS_MAIN(TestCheckRules)
#include "tst_checkrules.moc"
