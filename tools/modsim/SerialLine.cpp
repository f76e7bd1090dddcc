#include "tools/modsim/SerialLine.h"

#include <array>
#include <cerrno>
#include <climits>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace nmct::modsim {

namespace {

[[noreturn]] void ThrowErrno(const std::string &what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

int OpenRetrying(const std::string &path, int flags)
{
    int fd;
    do {
        fd = ::open(path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void MakeRaw9600(int fd, const std::string &path)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        ThrowErrno(path + ": not a terminal");
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | HUPCL);
    settings.c_cflag |= CLOCAL | CREAD | CS8;
    // With O_NONBLOCK, VMIN 1 makes an empty read fail with EAGAIN; a read of 0 then always
    // means the line hung up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, B9600);
    ::cfsetospeed(&settings, B9600);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        ThrowErrno(path + ": cannot set raw 9600 8N1");
    }
}

void SetNonBlocking(int fd, const std::string &what)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        ThrowErrno(what + ": cannot make non-blocking");
    }
}

std::string LinkTarget(const std::string &path)
{
    std::array<char, PATH_MAX> buffer{};
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    return n < 0 ? std::string() : std::string(buffer.data(), static_cast<std::size_t>(n));
}

} // namespace

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

int UniqueFd::Release()
{
    return std::exchange(fd_, -1);
}

void UniqueFd::Reset(int fd)
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

SerialLine OpenPseudoTerminal()
{
    SerialLine line;
    line.fd.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!line.fd) {
        ThrowErrno("cannot create a pseudo-terminal");
    }
    if (::grantpt(line.fd.Get()) != 0 || ::unlockpt(line.fd.Get()) != 0) {
        ThrowErrno("cannot unlock the pseudo-terminal");
    }
    std::array<char, PATH_MAX> name{};
    if (const int error = ::ptsname_r(line.fd.Get(), name.data(), name.size()); error != 0) {
        throw std::system_error(error, std::generic_category(), "cannot name the pseudo-terminal");
    }
    line.path = name.data();
    SetNonBlocking(line.fd.Get(), line.path);

    line.keepAlive.Reset(OpenRetrying(line.path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line.keepAlive) {
        ThrowErrno(line.path + ": cannot open");
    }
    // Raw before anyone talks: the default line discipline would echo the module's own replies
    // back to it as input.
    MakeRaw9600(line.keepAlive.Get(), line.path);
    return line;
}

SerialLine OpenSerialDevice(const std::string &path)
{
    SerialLine line;
    line.path = path;
    line.fd.Reset(OpenRetrying(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!line.fd) {
        ThrowErrno(path + ": cannot open");
    }
    MakeRaw9600(line.fd.Get(), path);
    return line;
}

SymLink::SymLink(std::string linkPath, std::string target)
    : path_(std::move(linkPath)), target_(std::move(target))
{
    struct stat info
    {
    };
    if (::lstat(path_.c_str(), &info) == 0) {
        const bool staleLink = S_ISLNK(info.st_mode) &&
                               (::stat(path_.c_str(), &info) != 0 || LinkTarget(path_) == target_);
        if (!staleLink) {
            errno = EEXIST;
            ThrowErrno(path_ + ": exists and is not a stale link");
        }
        if (::unlink(path_.c_str()) != 0) {
            ThrowErrno(path_ + ": cannot remove the stale link");
        }
    }
    if (::symlink(target_.c_str(), path_.c_str()) != 0) {
        ThrowErrno(path_ + ": cannot link to " + target_);
    }
}

SymLink::~SymLink()
{
    Remove();
}

SymLink::SymLink(SymLink &&other) noexcept
    : path_(std::exchange(other.path_, {})), target_(std::exchange(other.target_, {}))
{}

SymLink &SymLink::operator=(SymLink &&other) noexcept
{
    if (this != &other) {
        Remove();
        path_ = std::exchange(other.path_, {});
        target_ = std::exchange(other.target_, {});
    }
    return *this;
}

void SymLink::Remove() noexcept
{
    // Someone may have pointed the name elsewhere meanwhile; that link is not ours to remove.
    if (!path_.empty() && LinkTarget(path_) == target_) {
        ::unlink(path_.c_str());
    }
    path_.clear();
}

} // namespace nmct::modsim
