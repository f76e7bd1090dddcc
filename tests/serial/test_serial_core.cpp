// The port layer and the reader and writer threads, without Qt: the threads against the
// scripted fake port and a recording notification target (ThreadCases), the Linux port against
// pseudo-terminals.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "MiniTest.h"
#include "PtyPair.h"
#include "ThreadCases.h"
#include "platform/Port.h"

namespace {

void DefaultDeviceNames()
{
    const std::pair<const char *, const char *> rows[] = {
        {"COM1", "/dev/ttyS0"},      {"com12", "/dev/ttyS11"},
        {"CoM255", "/dev/ttyS254"},  {"/tmp/some-device", "/tmp/some-device"},
        {"ttyUSB0", "/dev/ttyUSB0"},
    };
    for (const auto &[name, expected] : rows)
        CHECK_EQ(port::ResolveDevice(name), std::string(expected));
    auto previous = port::SetDeviceResolver([](const std::string &n) { return "/x/" + n; });
    CHECK_EQ(port::ResolveDevice("COM7"), std::string("/x/COM7"));
    port::SetDeviceResolver(previous);
    CHECK_EQ(port::ResolveDevice("COM7"), std::string("/dev/ttyS6"));
}

void OpenIsExclusiveAndNeedsATerminal()
{
    PtyPair pty;
    auto first = port::OpenDevice("\\\\.\\" + pty.path);
    CHECK(first != nullptr);
    CHECK(first->IsCommHandle());
    CHECK(port::OpenDevice(pty.path) == nullptr);
    first.reset();
    CHECK(port::OpenDevice(pty.path) != nullptr);

    char file[] = "/tmp/nmct-serial-XXXXXX";
    const int fd = ::mkstemp(file);
    CHECK(fd >= 0);
    ::close(fd);
    auto plain = port::OpenDevice(file);
    CHECK(plain != nullptr && !plain->IsCommHandle());
    ::unlink(file);
    CHECK(port::OpenDevice("/nonexistent/device") == nullptr);
}

std::unique_ptr<port::Overlapped> NewRecord()
{
    auto r = std::make_unique<port::Overlapped>();
    r->event = port::Event::Create(true);
    return r;
}

void ReadTimeoutsOnAPseudoTerminal()
{
    PtyPair pty;
    auto p = port::OpenDevice(pty.path);
    CHECK(p != nullptr);
    char buffer[64];
    auto record = NewRecord();

    // Interval MAXDWORD with zero totals: returns at once, even with nothing there.
    p->SetTimeouts({port::kMaxDword, 0, 0, 0, 0});
    port::IoResult r = p->Read(buffer, sizeof buffer, *record);
    CHECK(r.Ok());
    CHECK_EQ(r.Count, 0u);

    // A total time-out completes an idle read with 0 bytes.
    p->SetTimeouts({0, 0, 50, 0, 0});
    r = p->Read(buffer, sizeof buffer, *record);
    CHECK_EQ(r.Error, port::kErrorIoPending);
    CHECK_EQ(port::WaitAny({record->event.get()}), 0);
    r = p->GetResult(*record, false);
    CHECK(r.Ok());
    CHECK_EQ(r.Count, 0u);

    // The interval cuts a burst into one chunk; bytes the line discipline marks pass through.
    p->SetTimeouts({30, 0, 0, 0, 0});
    r = p->Read(buffer, sizeof buffer, *record);
    CHECK_EQ(r.Error, port::kErrorIoPending);
    const std::string burst("\xff\x00\xff"
                            "A\xff",
                            5);
    CHECK(pty.Send(burst));
    CHECK_EQ(port::WaitAny({record->event.get()}), 0);
    r = p->GetResult(*record, false);
    CHECK(r.Ok());
    CHECK_EQ(std::string(buffer, r.Count), burst);
}

void VanishedFarEndIsAnIoError()
{
    PtyPair pty;
    auto p = port::OpenDevice(pty.path);
    CHECK(p != nullptr);
    p->SetTimeouts({100, 0, 0, 0, 0});
    char buffer[16];
    auto record = NewRecord();
    CHECK_EQ(p->Read(buffer, sizeof buffer, *record).Error, port::kErrorIoPending);
    pty.CloseMaster();
    CHECK_EQ(port::WaitAny({record->event.get()}), 0);
    CHECK_EQ(p->GetResult(*record, false).Error, port::kErrorGenFailure);
    CHECK_EQ(p->Read(buffer, sizeof buffer, *record).Error, port::kErrorGenFailure);
}

void WriteReachesTheFarEnd()
{
    PtyPair pty;
    auto p = port::OpenDevice(pty.path);
    CHECK(p != nullptr);
    auto record = NewRecord();
    const port::IoResult r = p->Write("AAFAA", 5, *record);
    CHECK(r.Ok() || r.Error == port::kErrorIoPending);
    CHECK_EQ(pty.Receive(5), std::string("AAFAA"));
}

} // namespace

int main()
{
    std::vector<minitest::Case> cases = ThreadCases();
    cases.insert(cases.end(),
                 {
                     {"default device names", DefaultDeviceNames},
                     {"open is exclusive and needs a terminal", OpenIsExclusiveAndNeedsATerminal},
                     {"read time-outs on a pseudo-terminal", ReadTimeoutsOnAPseudoTerminal},
                     {"vanished far end is an I/O error", VanishedFarEndIsAnIoError},
                     {"write reaches the far end", WriteReachesTheFarEnd},
                 });
    return minitest::Run(cases);
}
