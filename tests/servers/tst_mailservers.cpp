// The private mail servers' own lifecycle: an instance starts (with Postfix exactly when it can run),
// and stopping one ends only that one. What they serve is proved by the tests that use them.
#include "testMailServers.h"

#include <QTcpSocket>
#include <QTest>

using korimo::test::TestMailServers;

class TestMailServersSmoke : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(servers_.start(), qPrintable(servers_.errorText()));
        QCOMPARE(servers_.hasSmtp(), TestMailServers::canRunSmtp());
    }

    void stopEndsOnlyThatInstance() {
        TestMailServers other;
        QVERIFY2(other.start(false), qPrintable(other.errorText()));
        const int port = other.pop3Port();
        other.stop();
        for (const int p : {port, servers_.pop3Port()}) {
            QTcpSocket s;
            s.connectToHost(servers_.host(), quint16(p));
            QCOMPARE(s.waitForConnected(2000), p == servers_.pop3Port());
        }
    }

private:
    TestMailServers servers_;
};

QTEST_GUILESS_MAIN(TestMailServersSmoke)
#include "tst_mailservers.moc"
