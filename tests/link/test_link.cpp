// The request/response link over a pseudo-terminal: the test plays the module on the master
// side and answers, or stays silent, while the link waits on the main thread.

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "link/UComm.h"
#include "serial/platform/Port.h"
#include "tests/support/PtyPair.h"

#include <cstring>

using namespace std::string_literals;

namespace {

constexpr int PortNumber = 9; // "COM9", mapped to the pseudo-terminal

struct Guarded
{
    std::array<char, 16> before{};
    ParamRecord record;
    std::array<char, 64> after{};
};

} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openAndClose();
    void openMissingDevice();
    void replyDropsLastTwoBytes_data();
    void replyDropsLastTwoBytes();
    void secondCommandDuringWaitIsRefused();
    void closedPortWaitsFullTimeAndFails();
    void failedExchangeZeroFillsRecord();
    void longReplyStaysInsideRecord();
    void shortReplyLeavesRestOfRecord();
    void lateReplyIsClearedByNextCommand();
    void chunkInLastProcessingIsSeen();

private:
    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<TKVComm> link;
};

void TestLink::init()
{
    pty = std::make_unique<PtyPair>();
    QVERIFY(!pty->path.empty());
    const std::string path = pty->path;
    port::SetDeviceResolver(
        [path](const std::string &name) { return name == "COM9" ? path : "/nonexistent/" + name; });
    link = std::make_unique<TKVComm>();
}

void TestLink::cleanup()
{
    link.reset();
    pty.reset();
    port::SetDeviceResolver(nullptr);
}

void TestLink::openAndClose()
{
    QVERIFY(link->OpenPort(PortNumber));
    QVERIFY(link->PortIsOpen());
    QVERIFY(link->OpenPort(PortNumber)); // closes first, then opens again
    link->ClosePort();
    QVERIFY(!link->PortIsOpen());
}

void TestLink::openMissingDevice()
{
    QVERIFY(!link->OpenPort(3));
    QVERIFY(!link->PortIsOpen());
}

void TestLink::replyDropsLastTwoBytes_data()
{
    // A chunk read from the line before the command, posted but not yet handled; then the
    // chunk the module sends during the wait (none when empty).
    QTest::addColumn<QByteArray>("stale");
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<bool>("received");
    QTest::addColumn<QByteArray>("text"); // as GetReplyText leaves "unchanged"
    const QByteArray none;
    QTest::newRow("OK and two bytes") << none << QByteArray("OK??") << true << QByteArray("OK");
    QTest::newRow("OK CR LF") << none << QByteArray("OK\r\n") << true << QByteArray("OK");
    QTest::newRow("model") << none << QByteArray("NM450_UHFV2.13\r\n") << true
                           << QByteArray("NM450_UHFV2.13");
    QTest::newRow("two bytes only: empty reply")
        << none << QByteArray("\r\n") << true << QByteArray("unchanged");
    QTest::newRow("one byte: empty reply")
        << none << QByteArray("x") << true << QByteArray("unchanged");
    QTest::newRow("chunk read before the command, then the reply")
        << QByteArray("NM450_UHFV2.13\r\n") << QByteArray("OK\r\n") << true << QByteArray("OK");
    QTest::newRow("chunk read before the command, no reply")
        << QByteArray("NM450_UHFV2.13\r\n") << none << false << QByteArray("unchanged");
}

void TestLink::replyDropsLastTwoBytes()
{
    QFETCH(QByteArray, stale);
    QFETCH(QByteArray, chunk);
    QFETCH(bool, received);
    QFETCH(QByteArray, text);
    QVERIFY(link->OpenPort(PortNumber));
    if (!stale.isEmpty()) {
        pty->Send(stale.toStdString());
        QThread::msleep(300); // read and posted after the line's quiet time, not handled
    }

    if (!chunk.isEmpty())
        QTimer::singleShot(30, [&] { pty->Send(chunk.toStdString()); });
    QCOMPARE(link->SendCommand("AAFAA"), received);
    QCOMPARE(pty->Receive(5), "AAFAA"s);
    std::string reply = "unchanged";
    link->GetReplyText(reply);
    QCOMPARE(QByteArray::fromStdString(reply), text);
    QVERIFY(!link->Busy());
}

void TestLink::secondCommandDuringWaitIsRefused()
{
    QVERIFY(link->OpenPort(PortNumber));
    bool innerResult = true;
    qint64 innerDuration = -1;
    bool busyDuringWait = false;
    QTimer::singleShot(30, [&] {
        busyDuringWait = link->Busy();
        QElapsedTimer clock;
        clock.start();
        innerResult = link->SendCommand("AAFA2");
        innerDuration = clock.elapsed();
    });
    QTimer::singleShot(60, [&] { pty->Send("OK\r\n"); });
    QVERIFY(link->SendCommand("AAFA1"));

    QVERIFY(busyDuringWait);
    QVERIFY(!innerResult);
    QVERIFY2(innerDuration >= 0 && innerDuration < 20, qPrintable(QString::number(innerDuration)));
    QCOMPARE(pty->Receive(10, 300), "AAFA1"s); // the refused command never reached the line
    QVERIFY(!link->Busy());
}

void TestLink::closedPortWaitsFullTimeAndFails()
{
    // A chunk read just before the close is delivered during the wait; it is no reply.
    QVERIFY(link->OpenPort(PortNumber));
    pty->Send("OK\r\n");
    QTest::qWait(0);
    QThread::msleep(300);
    link->ClosePort();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!link->SendCommand("AAFAA"));
    const qint64 elapsed = clock.elapsed();
    // 51 checks with a 10 ms sleep after each but the last answered one.
    QVERIFY2(elapsed >= 500 && elapsed < 2000, qPrintable(QString::number(elapsed)));
    QVERIFY(!link->Busy());
    QVERIFY(pty->Receive(1, 100).empty());
}

void TestLink::failedExchangeZeroFillsRecord()
{
    QVERIFY(link->OpenPort(PortNumber));
    QVERIFY(!link->SendCommand("AAFA1"));
    ParamRecord record;
    record.bytes.fill('#');
    link->GetReplyRecord(record);
    QVERIFY(std::all_of(record.bytes.begin(), record.bytes.end(), [](char c) { return c == 0; }));
}

void TestLink::longReplyStaysInsideRecord()
{
    QVERIFY(link->OpenPort(PortNumber));
    std::string reply(338, 'r');
    for (std::size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<char>('a' + i % 26);
    QTimer::singleShot(30, [&] { pty->Send(reply + "\r\n"); });
    QVERIFY(link->SendCommand("AAFA1"));

    Guarded guarded;
    guarded.before.fill('B');
    guarded.after.fill('A');
    link->GetReplyRecord(guarded.record);
    QCOMPARE(std::string(guarded.record.bytes.data(), ParamRecord::Size), reply.substr(0, 299));
    QVERIFY(
        std::all_of(guarded.before.begin(), guarded.before.end(), [](char c) { return c == 'B'; }));
    QVERIFY(
        std::all_of(guarded.after.begin(), guarded.after.end(), [](char c) { return c == 'A'; }));
}

void TestLink::shortReplyLeavesRestOfRecord()
{
    QVERIFY(link->OpenPort(PortNumber));
    QTimer::singleShot(30, [&] { pty->Send("AA450\r\n"); });
    QVERIFY(link->SendCommand("AAFA1"));
    ParamRecord record;
    record.bytes.fill('#');
    link->GetReplyRecord(record);
    QCOMPARE(std::string(record.bytes.data(), 6), "AA450#"s);
}

void TestLink::lateReplyIsClearedByNextCommand()
{
    QVERIFY(link->OpenPort(PortNumber));
    QVERIFY(!link->SendCommand("AAFAA")); // nothing answered: the wait ran out
    // A late reply arrives between exchanges, then a fresh one during the next wait.
    pty->Send("LATE\r\n");
    QTest::qWait(250);
    QTimer::singleShot(30, [&] { pty->Send("OK\r\n"); });
    QVERIFY(link->SendCommand("AAFA2"));
    std::string reply;
    link->GetReplyText(reply);
    QCOMPARE(reply, "OK"s);
}

void TestLink::chunkInLastProcessingIsSeen()
{
    QVERIFY(link->OpenPort(PortNumber));
    // A zero timer fires once in each pass of the wait's message processing; the chunk comes
    // in the last pass, as the component would deliver it.
    int passes = 0;
    QTimer everyPass;
    QObject::connect(&everyPass, &QTimer::timeout, [&] {
        if (++passes == TKVComm::ReplyChecks)
            link->CommReceiveData(&link->Comm(), "OK\r\n", 4);
    });
    everyPass.start(0);
    QVERIFY(link->SendCommand("AAFA1"));
    QCOMPARE(passes, TKVComm::ReplyChecks);
    std::string reply;
    link->GetReplyText(reply);
    QCOMPARE(reply, "OK"s);
}

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
