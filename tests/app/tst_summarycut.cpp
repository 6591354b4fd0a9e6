// Cutting summary records into subject, sender and date.
#include "fakeMailTransport.h"
#include "summaryCut.h"

#include <QTest>

#if __has_include("summaryRecord.h")
#include "summaryRecord.h"
#define KORIMO_HAVE_SUMMARY_RECORD 1
#endif

using namespace korimo;

class TestSummaryCut : public QObject {
    Q_OBJECT
private slots:
    void cuts_data() {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("date");
        // The record layout the POP3 transport writes.
        QTest::newRow("plain") << "Subject:Hello From:Taro Date: Mon"
                               << "Hello"
                               << "Taro"
                               << "Mon";
        QTest::newRow("japanese") << "Subject:会議の件 From:山田 <yamada@example.jp> Date: 2026/12/06 10:00"
                                  << "会議の件"
                                  << "山田 <yamada@example.jp>"
                                  << "2026/12/06 10:00";
        QTest::newRow("empty values") << "Subject: From: Date: "
                                      << ""
                                      << ""
                                      << "";
        // The scripted transport's layout: one more blank after each keyword.
        QTest::newRow("fake transport") << FakeMailTransport::summary("a b", "c@d", "Tue") << " a b"
                                        << " c@d"
                                        << " Tue";
        // No "From": the subject cell's length is negative and the sender cell is shifted, by the rule.
        QTest::newRow("no From") << "Subject:Hello Date: Mon"
                                 << ""
                                 << "ect:Hello"
                                 << "Mon";
        QTest::newRow("nothing") << ""
                                 << ""
                                 << ""
                                 << "";
        // Keywords inside the values do not move the cut.
        QTest::newRow("From word in subject") << "Subject:Fw: From the Osaka office From:a@b Date: Mon"
                                              << "Fw: From the Osaka office"
                                              << "a@b"
                                              << "Mon";
        QTest::newRow("From: in subject") << "Subject:Fw: From:boss From:a@b Date: Mon"
                                          << "Fw: From:boss"
                                          << "a@b"
                                          << "Mon";
        QTest::newRow("From keyword form in subject") << "Subject:x From:y Date: z From:a@b Date: Mon"
                                                      << "x From:y Date: z"
                                                      << "a@b"
                                                      << "Mon";
        QTest::newRow("Date in subject") << "Subject:New Date: Friday From:a@b Date: Mon"
                                         << "New Date: Friday"
                                         << "a@b"
                                         << "Mon";
        QTest::newRow("subject starts with From") << "Subject:FromHere From:a@b Date: Mon"
                                                  << "FromHere"
                                                  << "a@b"
                                                  << "Mon";
        QTest::newRow("Date in sender") << "Subject:Hi From:Dates Inc <d@x> Date: Mon"
                                        << "Hi"
                                        << "Dates Inc <d@x>"
                                        << "Mon";
        QTest::newRow("Date in sender, fake layout")
            << FakeMailTransport::summary("Hi", "Update Date:s", "Wed") << " Hi"
            << " Update Date:s"
            << " Wed";
        QTest::newRow("Date with colon-space in sender") << "Subject:Hi From:Bob Date: Smith <b@x> Date: Mon"
                                                         << "Hi"
                                                         << "Bob Date: Smith <b@x>"
                                                         << "Mon";
        QTest::newRow("From in date") << "Subject:Hi From:a@b Date: From Mon"
                                      << "Hi"
                                      << "a@b"
                                      << "From Mon";
    }
    void cuts() {
        QFETCH(QString, record);
        QFETCH(QString, subject);
        QFETCH(QString, sender);
        QFETCH(QString, date);
        const SummaryCells cells = cutSummary(record);
        QCOMPARE(cells.subject, subject);
        QCOMPARE(cells.sender, sender);
        QCOMPARE(cells.date, date);
    }

    // Every record the POP3 transport builds is cut back into the values it was built from.
    void transportRecords_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("date");
        QTest::newRow("plain") << "Hello"
                               << "Taro <taro@example.jp>"
                               << "Sun, 06 Dec 2026 21:00:00 +0900";
        QTest::newRow("From in subject") << "Fw: From the Osaka office"
                                         << "a@b"
                                         << "Mon";
        QTest::newRow("keyword forms in subject") << "x From:y Date: z"
                                                  << "a@b"
                                                  << "Mon";
        QTest::newRow("From: in sender") << "hi"
                                         << "\"From: me\" <m@x>"
                                         << "Mon";
        QTest::newRow("Date: in sender") << "hi"
                                         << "Bob Date: Smith <b@x>"
                                         << "Mon";
        QTest::newRow("Date: in date") << "hi"
                                       << "a@b"
                                       << "Date: Mon";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
        QTest::newRow("japanese") << "会議 From: 大阪"
                                  << "山田 <y@x>"
                                  << "2026年12月6日";
        QTest::newRow("blank where a long subject is cut") << QString(999, u'a') + " b"
                                                           << "a@b"
                                                           << "Mon";
    }
    void transportRecords() {
#ifndef KORIMO_HAVE_SUMMARY_RECORD
        QSKIP("the POP3 transport's record builder is not part of this build");
#else
        QFETCH(QString, subject);
        QFETCH(QString, from);
        QFETCH(QString, date);
        const QString record = buildSummaryRecord(subject, from, date);
        const SummaryFields built = splitSummaryRecord(record);
        const SummaryCells cells = cutSummary(record);
        QCOMPARE(cells.subject, built.subject);
        QCOMPARE(cells.sender, built.from);
        QCOMPARE(cells.date, built.date);
        QVERIFY(isWellFormedSummaryRecord(record));
        QCOMPARE(cells.subject, subject.left(maxSummaryFieldLength).trimmed());
#endif
    }

    // What the list and the exclusion rules see of a message's headers: the sender as a reader sees it.
    void headerRecords_data() {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("sender");
        QTest::newRow("quoted sender") << QByteArray("Subject: Hi\r\nFrom: \"Yamada, Taro \\\"Boss\\\" (Sales)\" "
                                                     "<taro.yamada@example.jp>\r\n")
                                       << "Hi"
                                       << "Yamada, Taro \"Boss\" (Sales) <taro.yamada@example.jp>";
        QTest::newRow("encoded word in quotes")
            << QByteArray("From: \"=?UTF-8?B?5bGx55Sw?= From: x\" <y@example.jp>\r\n") << ""
            << "山田 From： x <y@example.jp>";
    }
    void headerRecords() {
#ifndef KORIMO_HAVE_SUMMARY_RECORD
        QSKIP("the POP3 transport's record builder is not part of this build");
#else
        QFETCH(QByteArray, headers);
        QFETCH(QString, subject);
        QFETCH(QString, sender);
        const SummaryCells cells = cutSummary(summaryFromHeaders(headers));
        QCOMPARE(cells.subject, subject);
        QCOMPARE(cells.sender, sender);
#endif
    }
};

QTEST_GUILESS_MAIN(TestSummaryCut)
#include "tst_summarycut.moc"
