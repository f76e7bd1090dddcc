// Receive path: a 10 MB stream through a pseudo-terminal into TComm with InputLen 340 (as the
// link sets it) and 4096 (deliveries of about the size QSerialPort makes), and the same stream
// read by Qt's QSerialPort, in one process and one run, alternating, five rounds each. A writer
// thread feeds the master side as fast as the pseudo-terminal takes it; its own CPU time is left
// out, so the CPU figures are the reading side's. Every run checks that the bytes arrived complete
// and in order. The third argument names the readers to run (all three by default), so each can
// also be measured in a process of its own.
//
//     bench_receive [megabytes] [rounds] [340,4096,qt]

#include "bench/BenchSupport.h"

#include "serial/Comm.h"
#include "serial/platform/Port.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QStringList>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

constexpr std::uint16_t LinkInputLen = 340; // as the link sets it
constexpr std::uint16_t LargeInputLen = 4096;
constexpr int TimeoutMs = 120'000;

std::string MakeStream(std::size_t size)
{
    std::string stream(size, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (char &byte : stream) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 56);
    }
    return stream;
}

// FNV-1a over the bytes in arrival order.
class StreamHash
{
public:
    void Add(const char *data, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i)
            value = (value ^ static_cast<unsigned char>(data[i])) * 0x100000001B3u;
    }
    std::uint64_t Value() const { return value; }

private:
    std::uint64_t value = 0xCBF29CE484222325u;
};

std::uint64_t HashOf(const std::string &bytes)
{
    StreamHash hash;
    hash.Add(bytes.data(), bytes.size());
    return hash.Value();
}

// A fresh pseudo-terminal for each run: the reader opens the slave by its path.
class PseudoTerminal
{
public:
    PseudoTerminal()
    {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        path = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~PseudoTerminal()
    {
        close(master);
        close(slave);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    int master = -1;
    int slave = -1;
    std::string path;
};

// Writes the stream into the master side on a thread of its own and measures its own CPU.
class StreamWriter
{
public:
    StreamWriter(int master, const std::string &stream)
        : thread([this, master, &stream] { Run(master, stream); })
    {}
    ~StreamWriter() { CpuSeconds(); }
    StreamWriter(const StreamWriter &) = delete;
    StreamWriter &operator=(const StreamWriter &) = delete;

    double CpuSeconds()
    {
        stop = true;
        if (thread.joinable())
            thread.join();
        return cpuSeconds;
    }

private:
    void Run(int master, const std::string &stream)
    {
        const double start = bench::ThreadCpuSeconds();
        std::size_t written = 0;
        while (written < stream.size() && !stop) {
            pollfd p{master, POLLOUT, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            const std::size_t chunk = std::min<std::size_t>(4096, stream.size() - written);
            const ssize_t n = write(master, stream.data() + written, chunk);
            if (n > 0)
                written += std::size_t(n);
        }
        cpuSeconds = bench::ThreadCpuSeconds() - start;
    }

    std::atomic<bool> stop{false};
    double cpuSeconds = 0;
    std::thread thread;
};

struct Outcome
{
    int threadsAdded = 0; // by opening the port
    double seconds = 0;
    double cpuSeconds = 0; // the reading side: the process less the writer thread
    std::size_t chunks = 0;
    bool intact = false;
};

// Counts and hashes what arrives; ends the wait once the whole stream is in.
class Receiver
{
public:
    explicit Receiver(std::size_t expected) : expected(expected) {}

    void Take(const char *data, std::size_t size)
    {
        hash.Add(data, size);
        received += size;
        ++chunks;
        if (received >= expected)
            loop.quit();
    }
    // Runs the event loop until everything has come or the time-out.
    void Wait()
    {
        if (received < expected) {
            QTimer::singleShot(TimeoutMs, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
    bool Complete(std::uint64_t expectedHash) const
    {
        return received == expected && hash.Value() == expectedHash;
    }

    std::size_t chunks = 0;

private:
    std::size_t expected;
    std::size_t received = 0;
    StreamHash hash;
    QEventLoop loop;
};

// Times the transfer from the writer's start to the last byte in the reader's hands.
template <typename Open>
Outcome Measure(const std::string &stream, std::uint64_t streamHash, Open open)
{
    PseudoTerminal pty;
    Receiver receiver(stream.size());
    const int threadsBefore = bench::ThreadCount();
    auto reader = open(pty.path, receiver); // keeps the port open until it goes
    const int threadsAdded = bench::ThreadCount() - threadsBefore;
    const double cpuStart = bench::ProcessCpuSeconds();
    const double start = bench::MonotonicSeconds();
    StreamWriter writer(pty.master, stream);
    receiver.Wait();
    Outcome outcome;
    outcome.seconds = bench::MonotonicSeconds() - start;
    const double cpuEnd = bench::ProcessCpuSeconds();
    outcome.cpuSeconds = cpuEnd - cpuStart - writer.CpuSeconds();
    outcome.chunks = receiver.chunks;
    outcome.intact = receiver.Complete(streamHash);
    outcome.threadsAdded = threadsAdded;
    return outcome;
}

std::unique_ptr<TComm> OpenComm(const std::string &path, Receiver &receiver, std::uint16_t inputLen)
{
    port::SetDeviceResolver(
        [path](const std::string &name) { return name == "COM1" ? path : "/nonexistent/" + name; });
    auto comm = std::make_unique<TComm>();
    comm->SetCommPort(1);
    comm->SetBaudRate(9600);
    comm->SetByteSize(TByteSize::_8);
    comm->SetStopBits(TStopBits::_1);
    comm->SetInBufferSize(std::max<std::uint16_t>(inputLen, 2048));
    comm->SetInputLen(inputLen);
    comm->SetOnReceiveData([&receiver](TComm *, const char *buffer, std::uint16_t length) {
        receiver.Take(buffer, length);
    });
    comm->StartPort();
    if (!comm->PortOpen()) {
        std::fprintf(stderr, "TComm could not open %s: %s\n", path.c_str(),
                     comm->PortOpenError().c_str());
        std::exit(1);
    }
    return comm;
}

std::unique_ptr<QSerialPort> OpenSerialPort(const std::string &path, Receiver &receiver)
{
    auto serial = std::make_unique<QSerialPort>();
    serial->setPortName(QString::fromStdString(path));
    serial->setBaudRate(9600);
    serial->setDataBits(QSerialPort::Data8);
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setFlowControl(QSerialPort::NoFlowControl);
    QSerialPort *port = serial.get();
    QObject::connect(port, &QSerialPort::readyRead, port, [port, &receiver] {
        const QByteArray data = port->readAll();
        receiver.Take(data.constData(), std::size_t(data.size()));
    });
    if (!serial->open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "QSerialPort could not open %s: %s\n", path.c_str(),
                     qPrintable(serial->errorString()));
        std::exit(1);
    }
    return serial;
}

struct Series
{
    std::vector<double> megabytesPerSecond;
    std::vector<double> cpuPerMegabyte;
    std::vector<double> chunks;
    bool intact = true;
    int threadsAdded = 0; // the most any run added

    void Add(const Outcome &outcome, double megabytes)
    {
        threadsAdded = std::max(threadsAdded, outcome.threadsAdded);
        megabytesPerSecond.push_back(megabytes / outcome.seconds);
        cpuPerMegabyte.push_back(outcome.cpuSeconds / megabytes);
        chunks.push_back(double(outcome.chunks));
        intact = intact && outcome.intact;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 10;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const QStringList readers =
        QString::fromLocal8Bit(argc > 3 ? argv[3] : "340,4096,qt").split(QLatin1Char(','));
    const std::string stream = MakeStream(std::size_t(megabytes) * 1'000'000);
    const std::uint64_t streamHash = HashOf(stream);

    Series comm;
    Series commLarge;
    Series serial;
    auto openWith = [](std::uint16_t inputLen) {
        return [inputLen](const std::string &path, Receiver &receiver) {
            return OpenComm(path, receiver, inputLen);
        };
    };
    for (int round = 0; round < rounds; ++round) {
        if (readers.contains(QLatin1String("340")))
            comm.Add(Measure(stream, streamHash, openWith(LinkInputLen)), megabytes);
        if (readers.contains(QLatin1String("4096")))
            commLarge.Add(Measure(stream, streamHash, openWith(LargeInputLen)), megabytes);
        if (readers.contains(QLatin1String("qt")))
            serial.Add(Measure(stream, streamHash, OpenSerialPort), megabytes);
    }
    port::SetDeviceResolver(nullptr);

    const bool compared = !serial.megabytesPerSecond.empty();
    const bench::Summary serialRate = bench::Summarise(serial.megabytesPerSecond);
    const bench::Summary serialCpu = bench::Summarise(serial.cpuPerMegabyte);
    auto yes = [](bool intact) { return intact ? std::string("yes") : std::string("NO"); };

    bench::Table table("Receive path: " + std::to_string(megabytes) +
                           " MB through a pseudo-terminal",
                       {"reader", "MB/s", "CPU s per MB", "deliveries per run", "stream intact",
                        "threads added by the open"});
    auto row = [&](const std::string &name, const Series &series) {
        if (series.megabytesPerSecond.empty())
            return;
        table.Row({name, bench::Spread(bench::Summarise(series.megabytesPerSecond), 2),
                   bench::Spread(bench::Summarise(series.cpuPerMegabyte), 4),
                   bench::Fixed(bench::Summarise(series.chunks).median, 0), yes(series.intact),
                   std::to_string(series.threadsAdded)});
    };
    auto ratio = [&](const std::string &name, const Series &series) {
        if (!compared || series.megabytesPerSecond.empty())
            return;
        table.Row(
            {name,
             bench::Fixed(bench::Summarise(series.megabytesPerSecond).median / serialRate.median,
                          2),
             bench::Fixed(bench::Summarise(series.cpuPerMegabyte).median / serialCpu.median, 2), "",
             "", ""});
    };
    row("TComm, InputLen 340", comm);
    row("TComm, InputLen 4096", commLarge);
    row("QSerialPort (Qt " + std::string(qVersion()) + ")", serial);
    ratio("TComm 340 ÷ QSerialPort", comm);
    ratio("TComm 4096 ÷ QSerialPort", commLarge);
    table.Note("MB = 10^6 bytes of pseudo-random data. " + std::to_string(rounds) +
               " rounds per reader, alternating, in one process; median (min – max). "
               "Time runs from the writer's start to the last byte in the reader's handler; "
               "CPU is the whole process less the writer thread. A delivery is one "
               "OnReceiveData (TComm) or one readyRead + readAll (QSerialPort). Threads: "
               "the process's threads (/proc/self/task) after the open less before it.");
    table.Print();
    return comm.intact && commLarge.intact && serial.intact ? 0 : 1;
}
