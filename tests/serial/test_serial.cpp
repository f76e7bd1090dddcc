// TComm over real pseudo-terminals: the test plays the module on the master side, the
// component opens the slave as "COM7" through a replaced device resolver.
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "serial/Comm.h"
#include "serial/platform/port_posix.h"
#include "tests/support/PtyPair.h"

// The component's one seam: how long a stop waits for each thread.
struct TCommSeams
{
    static void SetThreadStopWait(TComm &comm, std::uint32_t ms) { comm.threadStopWaitMs = ms; }
};

Q_DECLARE_METATYPE(port::OpenFailureKind)

class TestSerial : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openAndClose();
    void openFailures_data();
    void openFailures();
    void sameDeviceTwice();
    void commPort_data();
    void commPort();
    void inputLen_data();
    void inputLen();
    void outputWhileClosedSendsNothing();
    void outputWhileOpenSends_data();
    void outputWhileOpenSends();
    void lineSettingReachesTheTerminalOnlyWhenChanged();
    void lineSettingTheLineCannotTakeIsRefused_data();
    void lineSettingTheLineCannotTakeIsRefused();
    void oneSendDataEmptyAfterOpen();
    void blocksQueuedTogetherArriveInOrder();
    void chunking_data();
    void chunking();
    void chunkBeforeStopPortIsStillDelivered_data();
    void chunkBeforeStopPortIsStillDelivered();
    void stopPortDuringBlockedWrite();
    void stopThatMissesItsBound();
    void modemLines_data();
    void modemLines();
    void vanishedDeviceRequestsHangup();
    void handlerExceptionGoesToTheHook();
    void destructorStopsAnOpenPort();

private:
    struct Recorder
    {
        std::vector<std::string> chunks;
        int empties = 0;
        int hangups = 0;
        bool allZeroTerminated = true;
    };
    void Attach(TComm &comm, Recorder &rec);
    void MapCom7To(const std::string &path);
    termios SlaveTermios() const;

    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<TComm> comm;
    Recorder rec;
};

void TestSerial::MapCom7To(const std::string &path)
{
    port::SetDeviceResolver([path](const std::string &name) {
        return name == "COM7" ? path : std::string("/nonexistent/") + name;
    });
}

void TestSerial::init()
{
    pty = std::make_unique<PtyPair>();
    QVERIFY(!pty->path.empty());
    MapCom7To(pty->path);
    comm = std::make_unique<TComm>();
    comm->SetCommPort(7);
    rec = Recorder{};
    Attach(*comm, rec);
}

void TestSerial::cleanup()
{
    comm.reset();
    pty.reset();
    port::SetDeviceResolver(nullptr);
}

void TestSerial::Attach(TComm &c, Recorder &r)
{
    c.SetOnReceiveData([&r](TComm *, const char *buffer, std::uint16_t length) {
        r.chunks.emplace_back(buffer, length);
        r.allZeroTerminated = r.allZeroTerminated && buffer[length] == '\0';
    });
    c.SetOnSendDataEmpty([&r](TComm *) { ++r.empties; });
    c.SetOnRequestHangup([&r](TComm *) { ++r.hangups; });
}

termios TestSerial::SlaveTermios() const
{
    termios t{};
    tcgetattr(pty->slave, &t);
    return t;
}

// Threads of this process, from the kernel's list.
static int ThreadCount()
{
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

void TestSerial::openAndClose()
{
    const int before = ThreadCount();
    comm->StartPort();
    QVERIFY(comm->PortOpen());
    QCOMPARE(comm->PortOpenError(), std::string());
    QCOMPARE(ThreadCount() - before, 2); // the reader and the writer, nothing besides

    comm->StartPort();
    QCOMPARE(comm->PortOpenError(), std::string("This serial port already opened"));
    QVERIFY(comm->PortOpen());

    comm->SetPortOpen(false);
    QVERIFY(!comm->PortOpen());
    QCOMPARE(comm->PortOpenError(), std::string());

    comm->SetPortOpen(true);
    QVERIFY(comm->PortOpen());
    comm->StopPort();
    comm->StopPort(); // closed: only empties the error text
    QCOMPARE(comm->PortOpenError(), std::string());
    QTRY_COMPARE(ThreadCount(), before); // a joined thread leaves the list a moment later
}

void TestSerial::openFailures_data()
{
    QTest::addColumn<int>("device"); // 0 none, 1 a regular file, 2 a terminal, descriptors short
    QTest::addColumn<bool>("raises");
    QTest::addColumn<QString>("error");
    QTest::addColumn<port::OpenFailureKind>("reason");
    QTest::addColumn<QString>("systemText");
    QTest::newRow("no such device")
        << 0 << true << "Error opening serial port" << port::OpenFailureKind::NoSuchDevice << "";
    QTest::newRow("not a terminal") << 1 << false << "File handle is not a comm handle "
                                    << port::OpenFailureKind::NotSerialDevice << "";
    // The device opens, but no descriptor is left for the port's own event: the system's
    // reason, not "busy".
    QTest::newRow("no descriptor after the open")
        << 2 << true << "Error opening serial port" << port::OpenFailureKind::Other
        << QString::fromLocal8Bit(std::strerror(EMFILE));
}

void TestSerial::openFailures()
{
    QFETCH(int, device);
    QFETCH(bool, raises);
    QFETCH(QString, error);
    QFETCH(port::OpenFailureKind, reason);
    QFETCH(QString, systemText);
    char file[] = "/tmp/nmct-serial-XXXXXX";
    std::string path = "/nonexistent/device";
    if (device == 1) {
        const int fd = mkstemp(file);
        QVERIFY(fd >= 0);
        close(fd);
        path = file;
    } else if (device == 2) {
        path = pty->path;
    }
    MapCom7To(path);
    // Every descriptor but one taken, so that the open itself still succeeds.
    std::vector<int> taken;
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (device == 2) {
        rlimit lower = limit;
        lower.rlim_cur = 256;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &lower), 0);
        for (int fd; (fd = dup(0)) >= 0;)
            taken.push_back(fd);
        close(taken.back());
        taken.pop_back();
    }
    bool raised = false;
    try {
        comm->StartPort();
    } catch (const ECommsError &e) {
        raised = true;
        QCOMPARE(QString(e.what()), error);
    }
    for (int fd : taken)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &limit);
    if (device == 1)
        unlink(file);
    QCOMPARE(raised, raises);
    QVERIFY(!comm->PortOpen());
    QCOMPARE(QString::fromStdString(comm->PortOpenError()), error);
    QCOMPARE(comm->LastOpenFailure().kind, reason);
    QVERIFY(!comm->LastOpenFailure().systemText.empty());
    if (!systemText.isEmpty())
        QCOMPARE(QString::fromStdString(comm->LastOpenFailure().systemText), systemText);
    QCOMPARE(comm->LastOpenFailure().device, path); // the device, not the port's name
    // An open that succeeds forgets the reason.
    MapCom7To(pty->path);
    comm->StartPort();
    QCOMPARE(comm->LastOpenFailure().kind, port::OpenFailureKind::None);
}

void TestSerial::sameDeviceTwice()
{
    comm->StartPort();
    TComm second;
    second.SetCommPort(7);
    QVERIFY_THROWS_EXCEPTION(ECommsError, second.StartPort());
    QVERIFY(!second.PortOpen());
    QCOMPARE(second.LastOpenFailure().kind, port::OpenFailureKind::Busy);
    QCOMPARE(second.LastOpenFailure().device, pty->path);
    QVERIFY(comm->PortOpen());
}

void TestSerial::commPort_data()
{
    QTest::addColumn<int>("assigned");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("name");
    QTest::newRow("0 is ignored") << 0 << 1 << "COM1";
    QTest::newRow("12") << 12 << 12 << "COM12";
    QTest::newRow("255") << 255 << 255 << "COM255";
    QTest::newRow("same number keeps a name set by hand") << 1 << 1 << "ttyUSB0";
}

void TestSerial::commPort()
{
    QFETCH(int, assigned);
    QFETCH(int, port);
    QFETCH(QString, name);
    TComm c;
    if (assigned == 1)
        c.SetCommName("ttyUSB0");
    c.SetCommPort(static_cast<std::uint8_t>(assigned));
    QCOMPARE(int(c.CommPort()), port);
    QCOMPARE(QString::fromStdString(c.CommName()), name);
}

void TestSerial::inputLen_data()
{
    QTest::addColumn<int>("bufferSize");
    QTest::addColumn<int>("assigned");
    QTest::addColumn<int>("bufferAfter");
    QTest::addColumn<int>("inputAfter");
    QTest::newRow("0 takes the buffer size") << 2048 << 0 << 2048 << 2048;
    QTest::newRow("larger than the buffer is ignored") << 2048 << 4000 << 2048 << 1;
    QTest::newRow("within the buffer") << 2048 << 340 << 2048 << 340;
    QTest::newRow("buffer 0 becomes 1") << 0 << 0 << 1 << 1;
}

void TestSerial::inputLen()
{
    QFETCH(int, bufferSize);
    QFETCH(int, assigned);
    QFETCH(int, bufferAfter);
    QFETCH(int, inputAfter);
    TComm c;
    QCOMPARE(int(c.InputLen()), 1);
    QCOMPARE(int(c.InBufferSize()), 2048);
    c.SetInBufferSize(static_cast<std::uint16_t>(bufferSize));
    c.SetInputLen(static_cast<std::uint16_t>(assigned));
    QCOMPARE(int(c.InBufferSize()), bufferAfter);
    QCOMPARE(int(c.InputLen()), inputAfter);
}

void TestSerial::outputWhileClosedSendsNothing()
{
    comm->SendOutput("AAFAA");
    QCOMPARE(comm->Output(), std::string("AAFAA"));
    QVERIFY(!comm->SendData("x", 1));
    comm->StartPort();
    QTRY_COMPARE(rec.empties, 1);
    QCOMPARE(pty->Receive(1, 200), std::string());
    comm->SendOutput("");
    QCOMPARE(comm->Output(), std::string());
    QCOMPARE(pty->Receive(1, 200), std::string());
}

void TestSerial::outputWhileOpenSends_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("sent");
    QTest::newRow("command") << 5 << true;
    QTest::newRow("longest") << 65535 << true;
    // Too long for one hand-over: refused whole, never cut to its low 16 bits.
    QTest::newRow("65,536") << 65536 << false;
    QTest::newRow("65,537") << 65537 << false;
}

void TestSerial::outputWhileOpenSends()
{
    QFETCH(int, length);
    QFETCH(bool, sent);
    comm->StartPort();
    QTRY_COMPARE(rec.empties, 1);
    const std::string text(static_cast<std::size_t>(length), 'o');
    QCOMPARE(comm->SendOutput(text), sent);
    QCOMPARE(pty->Receive(text.size(), sent ? 2000 : 300), sent ? text : std::string());
    QTRY_COMPARE(rec.empties, sent ? 2 : 1);
}

void TestSerial::lineSettingReachesTheTerminalOnlyWhenChanged()
{
    comm->StartPort();
    termios t = SlaveTermios();
    QCOMPARE(cfgetospeed(&t), speed_t(B9600));
    QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));

    comm->SetBaudRate(19200);
    t = SlaveTermios();
    QCOMPARE(cfgetospeed(&t), speed_t(B19200));

    // Changed behind the component's back: assigning the same value must not touch it.
    cfsetospeed(&t, B4800);
    cfsetispeed(&t, B4800);
    tcsetattr(pty->slave, TCSANOW, &t);
    comm->SetBaudRate(19200);
    t = SlaveTermios();
    QCOMPARE(cfgetospeed(&t), speed_t(B4800));

    // A changed parity re-applies the whole line state (a pseudo-terminal keeps no parity or
    // byte size of its own, so the rate and stop bits show it).
    comm->SetParity(TParity::Even);
    t = SlaveTermios();
    QCOMPARE(cfgetospeed(&t), speed_t(B19200));
    comm->SetStopBits(TStopBits::_2);
    t = SlaveTermios();
    QCOMPARE(t.c_cflag & CSTOPB, tcflag_t(CSTOPB));
    QCOMPARE(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
}

// Settings the Linux port cannot honour, and a speed no line has, are refused rather than
// silently left out: the component raises its error and keeps the setting that is in force.
void TestSerial::lineSettingTheLineCannotTakeIsRefused_data()
{
    QTest::addColumn<int>("setting");
    QTest::newRow("speed 0") << 0;
    QTest::newRow("DTR handshake") << 1;
    QTest::newRow("RTS while transmitting") << 2;
    QTest::newRow("DSR flow") << 3;
    QTest::newRow("DSR sensitivity") << 4;
}

void TestSerial::lineSettingTheLineCannotTakeIsRefused()
{
    QFETCH(int, setting);
    comm->SetBaudRate(19200);
    comm->StartPort();
    const auto apply = [&] {
        switch (setting) {
        case 0:
            comm->SetBaudRate(0);
            break;
        case 1:
            comm->SetDtrControl(TDtrControl::DtrHandshake);
            break;
        case 2:
            comm->SetRtsControl(TRtsControl::RtsTransmissionAvailable);
            break;
        case 3:
            comm->SetOutx_DsrFlow(true);
            break;
        default:
            comm->SetDsrSensitivity(true);
            break;
        }
    };
    QVERIFY_THROWS_EXCEPTION(ECommsError, apply());
    QCOMPARE(comm->BaudRate(), 19200u);
    QCOMPARE(comm->DtrControl(), TDtrControl::DtrDisable);
    QCOMPARE(comm->RtsControl(), TRtsControl::RtsDisable);
    QVERIFY(!comm->Outx_DsrFlow() && !comm->DsrSensitivity());
    const termios t = SlaveTermios();
    QCOMPARE(cfgetospeed(&t), speed_t(B19200));
    QCOMPARE(cfgetispeed(&t), speed_t(B19200));
    QVERIFY(comm->PortOpen());
    // Closed, the setting only waits; the open refuses it the same way.
    comm->StopPort();
    comm->SetBaudRate(0);
    QVERIFY_THROWS_EXCEPTION(ECommsError, comm->StartPort());
    QVERIFY(!comm->PortOpen());
}

void TestSerial::oneSendDataEmptyAfterOpen()
{
    comm->StartPort();
    QTRY_COMPARE(rec.empties, 1);
    QTest::qWait(200);
    QCOMPARE(rec.empties, 1);
    comm->StopPort();
    comm->StartPort(); // once after every open
    QTRY_COMPARE(rec.empties, 2);
}

void TestSerial::blocksQueuedTogetherArriveInOrder()
{
    comm->StartPort();
    QTRY_COMPARE(rec.empties, 1);
    // Nobody drains the far end yet, so the writer is still on the filler when the two
    // blocks are queued behind it.
    const std::string filler(65535, 'f');
    QVERIFY(comm->SendData(filler.data(), 65535));
    QVERIFY(comm->SendData("first,", 6));
    QVERIFY(comm->SendData("second", 6));
    QCOMPARE(pty->Receive(filler.size() + 12), filler + "first,second");
    QTRY_COMPARE(rec.empties, 2);
    QTest::qWait(100);
    QCOMPARE(rec.empties, 2);
}

void TestSerial::chunking_data()
{
    QTest::addColumn<int>("inputLen");
    QTest::addColumn<int>("burst");
    QTest::addColumn<std::vector<int>>("chunks");
    QTest::addColumn<int>("readTotalMs"); // ReadTotalTimeoutConstant
    QTest::addColumn<int>("idleMs");      // before the burst
    QTest::newRow("short reply") << 340 << 7 << std::vector<int>{7} << 0 << 0;
    QTest::newRow("longer than InputLen")
        << 340 << 1000 << std::vector<int>{340, 340, 320} << 0 << 0;
    QTest::newRow("byte by byte") << 1 << 3 << std::vector<int>{1, 1, 1} << 0 << 0;
    // Reads that end empty on their total time-out are made again: the port is not left deaf.
    QTest::newRow("after empty reads") << 340 << 7 << std::vector<int>{7} << 200 << 600;
}

void TestSerial::chunking()
{
    QFETCH(int, inputLen);
    QFETCH(int, burst);
    QFETCH(std::vector<int>, chunks);
    QFETCH(int, readTotalMs);
    QFETCH(int, idleMs);
    comm->SetInputLen(static_cast<std::uint16_t>(inputLen));
    comm->SetReadTotalTimeoutConstant(static_cast<std::uint32_t>(readTotalMs));
    // Bytes already waiting on a raw line when the port opens belong to no exchange.
    termios raw = SlaveTermios();
    cfmakeraw(&raw);
    tcsetattr(pty->slave, TCSANOW, &raw);
    QVERIFY(pty->Send("left from before the open"));
    comm->StartPort();
    QTest::qWait(idleMs);
    std::string sent;
    for (int i = 0; i < burst; ++i)
        sent += static_cast<char>('A' + i % 26);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(pty->Send(sent));
    QTRY_COMPARE(rec.chunks.size(), chunks.size());
    // The last chunk waits for the line to be quiet for the read interval (unless the read's
    // total time-out comes first).
    if (chunks.back() < inputLen && readTotalMs == 0)
        QVERIFY(timer.elapsed() >= 100);
    std::string joined;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        QCOMPARE(int(rec.chunks[i].size()), chunks[i]);
        joined += rec.chunks[i];
    }
    QCOMPARE(joined, sent);
    QVERIFY(rec.allZeroTerminated);
    QTest::qWait(150);
    QCOMPARE(rec.chunks.size(), chunks.size());
    QCOMPARE(rec.hangups, 0);
}

void TestSerial::chunkBeforeStopPortIsStillDelivered_data()
{
    QTest::addColumn<bool>("reopened");
    QTest::newRow("stopped") << false;
    // Opened again, on another device, before the events were dispatched: the chunk belongs to
    // an exchange that is over.
    QTest::newRow("opened again elsewhere") << true;
}

void TestSerial::chunkBeforeStopPortIsStillDelivered()
{
    QFETCH(bool, reopened);
    comm->SetInputLen(5);
    comm->StartPort();
    QVERIFY(pty->Send("late!"));
    QThread::msleep(300); // the reader posts; nothing is dispatched meanwhile
    comm->StopPort();
    PtyPair other;
    if (reopened) {
        MapCom7To(other.path);
        comm->StartPort();
        QVERIFY(other.Send("new!!"));
    }
    QVERIFY(rec.chunks.empty());
    QTRY_COMPARE(rec.chunks.size(), std::size_t(1));
    QCOMPARE(rec.chunks[0], std::string(reopened ? "new!!" : "late!"));
}

void TestSerial::stopPortDuringBlockedWrite()
{
    comm->StartPort();
    const std::string block(65535, 'w');
    QVERIFY(comm->SendData(block.data(), 65535));
    QVERIFY(comm->SendData(block.data(), 65535));
    QThread::msleep(100);
    QElapsedTimer timer;
    timer.start();
    comm->StopPort();
    QVERIFY2(timer.elapsed() < 2000, "StopPort waited for a write nobody drains");
    QVERIFY(!comm->PortOpen());
    QTest::qWait(100);
    QCOMPARE(rec.hangups, 0);
    QVERIFY(!comm->SendData("x", 1));
}

// Threads and descriptors of this process, from the kernel's lists.
static int DescriptorCount()
{
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

// A writer whose output flush hangs outlives its stop's bound. It keeps what it uses: the
// component may go meanwhile, and once the writer ends its port and descriptors are free again.
void TestSerial::stopThatMissesItsBound()
{
    const auto mainThread = std::this_thread::get_id();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> stalled{0};
    auto previous = port::posix::SetDeviceStandIns({.flushingOutput = [&, released] {
        if (std::this_thread::get_id() != mainThread && stalled++ == 0)
            released.wait();
    }});
    const int threadsBefore = ThreadCount();
    const int descriptorsBefore = DescriptorCount();
    TCommSeams::SetThreadStopWait(*comm, 100);
    comm->StartPort();
    QTRY_COMPARE(rec.empties, 1);
    QVERIFY(comm->SendData("bye", 3));
    QCOMPARE(pty->Receive(3), std::string("bye"));
    comm->StopPort();
    QVERIFY(!comm->PortOpen());
    QCOMPARE(stalled.load(), 1);
    comm.reset(); // while its writer still runs
    release.set_value();
    QTRY_COMPARE(ThreadCount(), threadsBefore);
    QTRY_COMPARE(DescriptorCount(), descriptorsBefore);
    port::posix::SetDeviceStandIns(previous);
    comm = std::make_unique<TComm>();
    comm->SetCommPort(7);
    comm->StartPort();
    QVERIFY(comm->PortOpen());
}

// Modem lines (a stand-in gives a pseudo-terminal some) are read only while a handler wants
// their changes, and a slow read of them holds up nothing but the reader.
void TestSerial::modemLines_data()
{
    QTest::addColumn<bool>("handler");
    QTest::addColumn<int>("readMs"); // how long one read of the lines takes
    QTest::newRow("no handler") << false << 0;
    QTest::newRow("handler") << true << 0;
    QTest::newRow("handler, slow reads") << true << 300;
}

void TestSerial::modemLines()
{
    QFETCH(bool, handler);
    QFETCH(int, readMs);
    std::atomic<std::uint32_t> carrier{0};
    std::atomic<int> reads{0};
    std::atomic<bool> reading{false};
    auto previous =
        port::posix::SetDeviceStandIns({.modemCounts = [&](int, port::posix::ModemCounts &c) {
            reading = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(readMs));
            c = {carrier.load(), 0};
            ++reads;
            reading = false;
            return true;
        }});
    std::vector<std::uint32_t> changes;
    if (handler)
        comm->SetOnModemStateChange([&](TComm *, std::uint32_t bits) { changes.push_back(bits); });
    comm->StartPort();
    QTRY_COMPARE(rec.empties, 1);
    if (handler)
        QTRY_VERIFY(reads > 0); // the lines as they were at the open
    else
        QTest::qWait(1500); // idle
    const int readsAtOpen = reads;
    if (!handler)
        QCOMPARE(readsAtOpen, 0);
    if (readMs > 0)
        QTRY_VERIFY(reading); // what follows happens during a read
    ++carrier;
    QElapsedTimer timer;
    timer.start();
    comm->SetBaudRate(19200);
    const qint64 setting = timer.restart();
    QVERIFY(comm->SendData("AAFAA", 5));
    QCOMPARE(pty->Receive(5), std::string("AAFAA"));
    const qint64 writing = timer.elapsed();
    QVERIFY2(
        setting < 150 && writing < 150,
        qPrintable(QStringLiteral("line setting %1 ms, write %2 ms").arg(setting).arg(writing)));
    if (handler)
        QTRY_COMPARE(changes, std::vector<std::uint32_t>{8});
    comm->StopPort();
    port::posix::SetDeviceStandIns(previous);
    if (!handler)
        QCOMPARE(reads - readsAtOpen, 0);
}

void TestSerial::vanishedDeviceRequestsHangup()
{
    comm->StartPort();
    QTRY_COMPARE(rec.empties, 1);
    pty->CloseMaster();
    QTRY_VERIFY(rec.hangups >= 1);
    QVERIFY(comm->PortOpen()); // only the owner closes it
    QVERIFY(rec.chunks.empty());
    comm->StopPort();
    QVERIFY(!comm->PortOpen());
}

void TestSerial::handlerExceptionGoesToTheHook()
{
    std::string caught;
    comm->SetOnSendDataEmpty([](TComm *) { throw std::runtime_error("handler failed"); });
    comm->SetOnHandlerError([&caught](const std::exception &e) { caught = e.what(); });
    comm->StartPort();
    QTRY_COMPARE(caught, std::string("handler failed"));
    QVERIFY(pty->Send("go on"));
    QTRY_COMPARE(rec.chunks.size(), std::size_t(5)); // events still arrive, a byte each
}

void TestSerial::destructorStopsAnOpenPort()
{
    {
        TComm c;
        c.SetCommPort(7);
        c.StartPort();
        QVERIFY(c.SendData("bye", 3));
        QVERIFY(pty->Send("unread"));
        QThread::msleep(150);
    } // the reader's chunk and the writer's empty notice are dropped with their blocks
    comm->StartPort();
    QVERIFY(comm->PortOpen());
}

QTEST_GUILESS_MAIN(TestSerial)
#include "test_serial.moc"
