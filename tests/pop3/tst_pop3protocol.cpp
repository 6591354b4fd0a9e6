// The socket-free parts of POP3: server texts, reply lines, capabilities, line framing, the summary
// record (its layout, the right-to-left cut, decoding of Japanese headers).
#include "pop3Protocol.h"
#include "summaryRecord.h"

#include <QTest>

using namespace korimo;
using namespace korimo::pop3;

Q_DECLARE_METATYPE(std::optional<korimo::pop3::ServerAddress>)

namespace {

std::optional<ServerAddress> addr(const char* host, quint16 port, bool implicitTls, bool tlsRequired) {
    return ServerAddress{QString::fromUtf8(host), port, implicitTls, tlsRequired};
}

} // namespace

class TestPop3Protocol : public QObject {
    Q_OBJECT
private slots:
    void serverTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<ServerAddress>>("expected");
        QTest::newRow("bare host: implicit TLS on 995") << "pop.example.jp" << addr("pop.example.jp", 995, true, true);
        QTest::newRow("bare host, port 995") << "pop.example.jp:995" << addr("pop.example.jp", 995, true, true);
        QTest::newRow("bare host, port 110: STLS required")
            << "pop.example.jp:110" << addr("pop.example.jp", 110, false, true);
        QTest::newRow("surrounding blanks") << "  pop.example.jp:1110 " << addr("pop.example.jp", 1110, false, true);
        QTest::newRow("pop3s default") << "pop3s://pop.example.jp" << addr("pop.example.jp", 995, true, true);
        QTest::newRow("pop3s, other port")
            << "POP3S://pop.example.jp:1995/" << addr("pop.example.jp", 1995, true, true);
        QTest::newRow("pop3: plaintext accepted")
            << "pop3://pop.example.jp" << addr("pop.example.jp", 110, false, false);
        QTest::newRow("pop3, port 995 stays plain")
            << "pop3://pop.example.jp:995" << addr("pop.example.jp", 995, false, false);
        QTest::newRow("IPv6 literal") << "[::1]:1110" << addr("::1", 1110, false, true);
        QTest::newRow("IPv6 pop3s") << "pop3s://[::1]" << addr("::1", 995, true, true);
        QTest::newRow("empty") << "" << std::optional<ServerAddress>();
        QTest::newRow("blank") << "   " << std::optional<ServerAddress>();
        QTest::newRow("port 0") << "pop.example.jp:0" << std::optional<ServerAddress>();
        QTest::newRow("port too big") << "pop.example.jp:65536" << std::optional<ServerAddress>();
        QTest::newRow("port with sign") << "pop.example.jp:+110" << std::optional<ServerAddress>();
        QTest::newRow("empty port") << "pop.example.jp:" << std::optional<ServerAddress>();
        QTest::newRow("other scheme") << "imaps://pop.example.jp" << std::optional<ServerAddress>();
        QTest::newRow("user info") << "pop3://taro@pop.example.jp" << std::optional<ServerAddress>();
        QTest::newRow("path") << "pop3://pop.example.jp/inbox" << std::optional<ServerAddress>();
        QTest::newRow("inner blank") << "pop example.jp" << std::optional<ServerAddress>();
        QTest::newRow("bare IPv6") << "::1" << std::optional<ServerAddress>();
        QTest::newRow("bad IPv6") << "[pop.example.jp]:995" << std::optional<ServerAddress>();
        QTest::newRow("line break") << "pop.example.jp\r\n" << addr("pop.example.jp", 995, true, true);
        QTest::newRow("inner line break") << "pop.exa\nmple.jp" << std::optional<ServerAddress>();
    }
    void serverTexts() {
        QFETCH(QString, text);
        QFETCH(std::optional<ServerAddress>, expected);
        QCOMPARE(parseServerText(text), expected);
    }

    void replies_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("code");
        QTest::newRow("ok") << QByteArray("+OK ready") << int(Reply::Ok) << QByteArray("ready") << QByteArray();
        QTest::newRow("bare ok") << QByteArray("+OK") << int(Reply::Ok) << QByteArray() << QByteArray();
        QTest::newRow("err with code") << QByteArray("-ERR [AUTH] Authentication failed.") << int(Reply::Err)
                                       << QByteArray("[AUTH] Authentication failed.") << QByteArray("AUTH");
        QTest::newRow("code in lower case") << QByteArray("-ERR [sys/temp] later") << int(Reply::Err)
                                            << QByteArray("[sys/temp] later") << QByteArray("SYS/TEMP");
        QTest::newRow("continuation") << QByteArray("+ VXNlcm5hbWU6") << int(Reply::Continue)
                                      << QByteArray("VXNlcm5hbWU6") << QByteArray();
        QTest::newRow("empty continuation") << QByteArray("+") << int(Reply::Continue) << QByteArray() << QByteArray();
        QTest::newRow("+OKAY is not ok") << QByteArray("+OKAY") << int(Reply::Invalid) << QByteArray() << QByteArray();
        QTest::newRow("-ERROR is not err")
            << QByteArray("-ERROR x") << int(Reply::Invalid) << QByteArray() << QByteArray();
        QTest::newRow("SMTP") << QByteArray("220 ready") << int(Reply::Invalid) << QByteArray() << QByteArray();
        QTest::newRow("empty") << QByteArray() << int(Reply::Invalid) << QByteArray() << QByteArray();
    }
    void replies() {
        QFETCH(QByteArray, line);
        QFETCH(int, kind);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, code);
        const Reply r = parseReply(line);
        QCOMPARE(int(r.kind), kind);
        if (kind != Reply::Invalid) {
            QCOMPARE(r.text, text);
            QCOMPARE(r.respCode, code);
        }
    }

    void refusalsAndBusyServers() {
        QVERIFY(isCredentialRefusal(parseReply("-ERR [AUTH] Authentication failed.")));
        QVERIFY(isCredentialRefusal(parseReply("-ERR invalid password")));
        QVERIFY(!isCredentialRefusal(parseReply("-ERR [IN-USE] locked")));
        QVERIFY(!isCredentialRefusal(parseReply("-ERR [SYS/TEMP] try later")));
        QVERIFY(!isCredentialRefusal(parseReply("-ERR [LOGIN-DELAY] wait")));
        QVERIFY(!isCredentialRefusal(parseReply("+OK")));
    }

    void capabilities() {
        const Capabilities caps = parseCapabilities(
            {"TOP", "UIDL", "RESP-CODES", "pipelining", "AUTH-RESP-CODE", "STLS", "USER", "SASL plain  LOGIN"});
        QVERIFY(caps.known && caps.top && caps.uidl && caps.pipelining && caps.stls && caps.user);
        QCOMPARE(caps.sasl, QList<QByteArray>({"PLAIN", "LOGIN"}));
        const Capabilities none = parseCapabilities({"IMPLEMENTATION PIPELINING-is-not-this", "X-STLS"});
        QVERIFY(!none.pipelining && !none.stls && none.sasl.isEmpty());
    }

    void apop() {
        QCOMPARE(apopTimestamp("POP3 server ready <1896.697170952@dbc.mindspring.com>"),
                 QByteArray("<1896.697170952@dbc.mindspring.com>"));
        QCOMPARE(apopTimestamp("ready <no-at-sign>"), QByteArray());
        QCOMPARE(apopTimestamp("ready <a@b"), QByteArray());
        QCOMPARE(apopTimestamp("ready <a b@c>"), QByteArray());
        // MD5 of timestamp + secret (computed with Python's hashlib; RFC 1939's printed digest is not this one).
        QCOMPARE(apopDigest("<1896.697170952@dbc.mindspring.com>", "tanstaaf"),
                 QByteArray("3bb2a25fc1387c60fe0f855905965be0"));
        QCOMPARE(saslPlain("taro", "pw"), QByteArray("AHRhcm8AcHc="));
    }

    void uidlLines_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("uid");
        QTest::newRow("plain") << QByteArray("1 whqtswO00WBw418f9t5JxYwZ") << 1
                               << QByteArray("whqtswO00WBw418f9t5JxYwZ");
        QTest::newRow("slashes and dots") << QByteArray("12 ../../etc/passwd") << 12 << QByteArray("../../etc/passwd");
        QTest::newRow("trailing blank") << QByteArray("3 abc ") << 3 << QByteArray("abc");
        QTest::newRow("no uid") << QByteArray("3 ") << 0 << QByteArray();
        QTest::newRow("zero") << QByteArray("0 abc") << 0 << QByteArray();
        QTest::newRow("not a number") << QByteArray("x abc") << 0 << QByteArray();
        QTest::newRow("control byte") << QByteArray("1 a\tb") << 0 << QByteArray();
        QTest::newRow("8-bit") << QByteArray("1 a\xff") << 0 << QByteArray();
        QTest::newRow("too long") << QByteArray("1 " + QByteArray(513, 'a')) << 0 << QByteArray();
        QTest::newRow("huge number") << QByteArray("99999999999 a") << 0 << QByteArray();
    }
    void uidlLines() {
        QFETCH(QByteArray, line);
        QFETCH(int, number);
        QFETCH(QByteArray, uid);
        int n = 0;
        QByteArray id;
        QCOMPARE(parseUidlLine(line, &n, &id), number > 0);
        if (number > 0) {
            QCOMPARE(n, number);
            QCOMPARE(id, uid);
        }
    }

    void lineBufferFramesAndBounds() {
        LineBuffer b(10);
        QByteArray line;
        b.append("+OK a\r\n-ERR");
        QCOMPARE(b.takeLine(&line), LineBuffer::Line);
        QCOMPARE(line, QByteArray("+OK a"));
        QCOMPARE(b.takeLine(&line), LineBuffer::NeedMore);
        b.append(" b\nbare\r");
        QCOMPARE(b.takeLine(&line), LineBuffer::Line);
        QCOMPARE(line, QByteArray("-ERR b"));
        QVERIFY(!b.lastLineEndedInCrLf()); // a bare LF: the reply's end mark must not be taken from it
        QCOMPARE(b.takeLine(&line), LineBuffer::NeedMore);
        b.append("\n");
        QCOMPARE(b.takeLine(&line), LineBuffer::Line);
        QCOMPARE(line, QByteArray("bare"));
        QVERIFY(b.lastLineEndedInCrLf());
        b.append("0123456789A"); // 11 bytes without an end: refused before the end arrives
        QCOMPARE(b.takeLine(&line), LineBuffer::TooLong);
        LineBuffer exact(4);
        exact.append("abcd\r\nabcde\r\n");
        QCOMPARE(exact.takeLine(&line), LineBuffer::Line);
        QCOMPARE(exact.takeLine(&line), LineBuffer::TooLong);
    }

    void summaryHeaderFilter_data() {
        QTest::addColumn<QByteArray>("header"); // lines joined by LF
        QTest::addColumn<QByteArray>("kept");
        QTest::newRow("other fields dropped, order kept")
            << QByteArray("Received: x\nDATE: d\nX-Subject: no\nsubject: s\nFrom: f\nTo: t")
            << QByteArray("DATE: d\r\nsubject: s\r\nFrom: f\r\n");
        QTest::newRow("continuation lines follow their field")
            << QByteArray("Subject: a\n b\nX-Long: c\n\td\nFrom: e\n\tf")
            << QByteArray("Subject: a\r\n b\r\nFrom: e\r\n\tf\r\n");
        QTest::newRow("first of each field only")
            << QByteArray("Subject: one\nSubject: two\n more") << QByteArray("Subject: one\r\n");
        QTest::newRow("nothing after the header's end")
            << QByteArray("From: f\n\nSubject: body") << QByteArray("From: f\r\n");
        QTest::newRow("a line of a lone CR is no end")
            << QByteArray("From: f\n\r\nSubject: s") << QByteArray("From: f\r\nSubject: s\r\n");
        QTest::newRow("blanks around the name, as the summary reads them")
            << QByteArray("Subject : s\n\rFrom: f") << QByteArray("Subject : s\r\n\rFrom: f\r\n");
        QTest::newRow("a field is cut, not kept whole")
            << "Subject: " + QByteArray(20000, 'x') + "\n " + QByteArray(100, 'y')
            << "Subject: " + QByteArray(SummaryHeaderFilter::maxFieldBytes - 11, 'x') + "\r\n";
    }
    void summaryHeaderFilter() {
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, kept);
        SummaryHeaderFilter filter;
        for (const QByteArray& line : header.split('\n'))
            filter.feed(line);
        QCOMPARE(filter.headers(), kept);
    }

    void byteStuffing() {
        QByteArray l = "..leading";
        QCOMPARE(unstuff(&l), BodyLine::Data);
        QCOMPARE(l, QByteArray(".leading"));
        l = ".";
        QCOMPARE(unstuff(&l), BodyLine::End);
        l = "..";
        QCOMPARE(unstuff(&l), BodyLine::Data);
        QCOMPARE(l, QByteArray("."));
        l = "plain.";
        QCOMPARE(unstuff(&l), BodyLine::Data);
        QCOMPARE(l, QByteArray("plain."));
    }

    void recordLayout() {
        // The positions the windows use: subject from p+8 to q-2, sender from q+5 to r-2, date from r+6.
        const QString rec = buildSummaryRecord(QStringLiteral("Hello"), QStringLiteral("Taro"), QStringLiteral("Mon"));
        QCOMPARE(rec, QStringLiteral("Subject:Hello From:Taro Date: Mon"));
        const qsizetype p = rec.indexOf(QStringLiteral("Subject")) + 1;
        const qsizetype q = rec.indexOf(QStringLiteral("From")) + 1;
        const qsizetype r = rec.indexOf(QStringLiteral("Date")) + 1;
        QCOMPARE(rec.mid(p + 8 - 1, (q - 2) - (p + 8) + 1), QStringLiteral("Hello"));
        QCOMPARE(rec.mid(q + 5 - 1, (r - 2) - (q + 5) + 1), QStringLiteral("Taro"));
        QCOMPARE(rec.mid(r + 6 - 1), QStringLiteral("Mon"));
        QCOMPARE(buildSummaryRecord({}, {}, {}), QStringLiteral("Subject: From: Date: "));
    }

    void recordsSplitExactly_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("shownFrom"); // after neutralising
        QTest::addColumn<QString>("shownDate");
        QTest::newRow("plain") << "Hello"
                               << "Taro <t@example.jp>"
                               << "Mon, 7 Dec 2026"
                               << "Taro <t@example.jp>"
                               << "Mon, 7 Dec 2026";
        QTest::newRow("empty values") << ""
                                      << ""
                                      << ""
                                      << ""
                                      << "";
        QTest::newRow("subject with keywords") << "Re: From: boss Date: today Subject:x"
                                               << "a@b"
                                               << "d"
                                               << "a@b"
                                               << "d";
        QTest::newRow("subject ends in From") << "News From"
                                              << "a@b"
                                              << "d"
                                              << "a@b"
                                              << "d";
        QTest::newRow("subject of blanks around keywords") << " From: Date: "
                                                           << "x"
                                                           << "y"
                                                           << "x"
                                                           << "y";
        QTest::newRow("sender with keywords") << "s"
                                              << "x From: y Date: z"
                                              << "d"
                                              << "x From： y Date: z"
                                              << "d";
        QTest::newRow("date with keywords") << "s"
                                            << "f"
                                            << "Date: From: x"
                                            << "f"
                                            << "Date： From: x";
        QTest::newRow("date that starts the separator again") << "s"
                                                              << "f"
                                                              << "Date: "
                                                              << "f"
                                                              << "Date：";
        QTest::newRow("sender ending in Date") << "s"
                                               << "x Date"
                                               << ": y"
                                               << "x Date"
                                               << ": y";
        QTest::newRow("Japanese") << "会議の件"
                                  << "山田 太郎 <yamada@example.jp>"
                                  << "Mon"
                                  << "山田 太郎 <yamada@example.jp>"
                                  << "Mon";
    }
    void recordsSplitExactly() {
        QFETCH(QString, subject);
        QFETCH(QString, from);
        QFETCH(QString, date);
        QFETCH(QString, shownFrom);
        QFETCH(QString, shownDate);
        const QString rec = buildSummaryRecord(subject, from, date);
        const SummaryFields f = splitSummaryRecord(rec);
        QCOMPARE(f.subject, subject.trimmed());
        QCOMPARE(f.from, shownFrom);
        QCOMPARE(f.date, shownDate);
        QVERIFY(isWellFormedSummaryRecord(rec));
    }

    void recordsHoldNoControlCharacters_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("CR LF") << QStringLiteral("a\r\nb");
        QTest::newRow("TAB") << QStringLiteral("a\tb");
        QTest::newRow("NUL") << QString::fromUtf16(u"a\0b", 3);
        QTest::newRow("C1") << QStringLiteral("a\u0085b");
        QTest::newRow("bidi override") << QStringLiteral("a\u202Egnp.exe");
        QTest::newRow("isolates and marks") << QStringLiteral("\u2066a\u2069\u200Fb\u061C");
    }
    void recordsHoldNoControlCharacters() {
        QFETCH(QString, value);
        const QString rec = buildSummaryRecord(value, value, value);
        for (QChar c : rec) {
            QVERIFY2(c.unicode() >= 0x20 && !(c.unicode() >= 0x7f && c.unicode() < 0xa0), qPrintable(rec));
            QVERIFY(c.unicode() != 0x202E && c.unicode() != 0x2066 && c.unicode() != 0x2069 && c.unicode() != 0x200F &&
                    c.unicode() != 0x061C);
        }
        QVERIFY(isWellFormedSummaryRecord(rec));
    }

    void longValuesAreBounded() {
        const QString rec = buildSummaryRecord(QString(5000, u'あ'), QString(5000, u'b'), QString(5000, u'c'));
        const SummaryFields f = splitSummaryRecord(rec);
        QCOMPARE(f.subject.size(), maxSummaryFieldLength);
        QCOMPARE(f.from.size(), maxSummaryFieldLength);
        QCOMPARE(f.date.size(), maxSummaryFieldLength);
        // A surrogate pair is never cut in half.
        QString emoji;
        for (int i = 0; i < 600; ++i)
            emoji += QStringLiteral("😀");
        const QString cut = splitSummaryRecord(buildSummaryRecord(emoji, {}, {})).subject;
        QVERIFY(!cut.back().isHighSurrogate());
        QCOMPARE(cut.size() % 2, 0);
    }

    // Texts that buildSummaryRecord() never makes: each one value that cleaning would change.
    void notRecords_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("other layout") << QStringLiteral("Subject: Hello From: Taro Date:  Mon");
        QTest::newRow("garbage") << QStringLiteral("garbage");
        QTest::newRow("TAB") << QStringLiteral("Subject:a\tb From:c Date: d");
        QTest::newRow("no date") << QStringLiteral("Subject:a From:c");
        QTest::newRow("no sender") << QStringLiteral("Subject:a Date: d");
        QTest::newRow("two blanks") << QStringLiteral("Subject:a  b From:c Date: d");
        QTest::newRow("blank at the end of the sender") << QStringLiteral("Subject:a From:c  Date: d");
        QTest::newRow("ideographic space at the start") << QStringLiteral("Subject:\u3000a From:c Date: d");
        QTest::newRow("no-break space at the end") << QStringLiteral("Subject:a From:c Date: d\u00A0");
        QTest::newRow("bidi control") << QStringLiteral("Subject:a\u202Eb From:c Date: d");
        QTest::newRow("C1 control") << QStringLiteral("Subject:a From:c\u0085 Date: d");
        QTest::newRow("date with its own keyword") << QStringLiteral("Subject:a From:c Date: Date:d");
        QTest::newRow("subject over the limit") << QStringLiteral("Subject:") +
                                                       QString(maxSummaryFieldLength + 1, u'x') +
                                                       QStringLiteral(" From:c Date: d");
    }
    void notRecords() {
        QFETCH(QString, text);
        QVERIFY(!isWellFormedSummaryRecord(text));
    }
    void partialRecordsSplit() {
        const SummaryFields f = splitSummaryRecord(QStringLiteral("Subject:only a subject"));
        QCOMPARE(f, (SummaryFields{QStringLiteral("only a subject"), {}, {}}));
    }

    void headersAreDecoded_data() {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("date");
        QTest::newRow("ASCII") << QByteArray(
                                      "Subject: Hello\r\nFrom: Taro <t@example.jp>\r\nDate: Mon, 7 Dec 2026\r\n\r\n")
                               << "Hello"
                               << "Taro <t@example.jp>"
                               << "Mon, 7 Dec 2026";
        QTest::newRow("ISO-2022-JP encoded word")
            << QByteArray("From: =?UTF-8?B?5bGx55SwIOWkqumDjg==?= <y@example.jp>\r\n"
                          "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkT0AkMyYbKEI=?=\r\nDate: d\r\n")
            << "こんにちは世界"
            << "山田 太郎 <y@example.jp>"
            << "d";
        QTest::newRow("ISO-2022-JP split mid-character")
            << QByteArray("Subject: =?ISO-2022-JP?B?GyRCJDMk?=\r\n =?ISO-2022-JP?B?cyRLJEEkT0AkMyYbKEI=?=\r\n\r\n")
            << "こんにちは世界"
            << ""
            << "";
        QTest::newRow("shift_jis label means CP932") << QByteArray("Subject: =?shift_jis?B?jI+WvIdA?=\r\n") << "件名①"
                                                     << ""
                                                     << "";
        QTest::newRow("raw CP932") << QByteArray("Subject: \x83\x65\x83\x58\x83\x67\x87\x40\r\n") << "テスト①"
                                   << ""
                                   << "";
        QTest::newRow("raw EUC-JP") << QByteArray("Subject: \xc6\xfc\xcb\xdc\xb8\xec\r\n") << "日本語"
                                    << ""
                                    << "";
        QTest::newRow("raw UTF-8") << QByteArray("Subject: 日本語\r\n") << "日本語"
                                   << ""
                                   << "";
        QTest::newRow("folded, odd case, body ignored")
            << QByteArray("sUbJeCt: part one\r\n\tpart two\r\nX-From: not this\r\nFROM:  a@b\r\n\r\nDate: body\r\n")
            << "part one part two"
            << "a@b"
            << "";
        QTest::newRow("encoded CR LF") << QByteArray("Subject: =?UTF-8?Q?a=0D=0AFrom:_x=09y?=\r\n") << "a From: x y"
                                       << ""
                                       << "";
        QTest::newRow("first Subject wins") << QByteArray("Subject: one\nSubject: two\n") << "one"
                                            << ""
                                            << "";
        QTest::newRow("no headers") << QByteArray() << ""
                                    << ""
                                    << "";
    }
    void headersAreDecoded() {
        QFETCH(QByteArray, headers);
        QFETCH(QString, subject);
        QFETCH(QString, from);
        QFETCH(QString, date);
        const SummaryFields f = splitSummaryRecord(summaryFromHeaders(headers));
        QCOMPARE(f.subject, subject);
        QCOMPARE(f.from, from);
        QCOMPARE(f.date, date);
    }
};

QTEST_GUILESS_MAIN(TestPop3Protocol)
#include "tst_pop3protocol.moc"
