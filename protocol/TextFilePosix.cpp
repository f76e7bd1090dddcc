#include "protocol/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Reason(int error)
{
    return std::strerror(error);
}

std::string Failed(const std::string &path, const std::string &what, int error)
{
    return path + ": " + what + ": " + Reason(error);
}

// Closes on every way out; the result of an explicit Close is what counts for a write.
class Descriptor
{
public:
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int Get() const { return fd; }
    int Close()
    {
        const int result = ::close(fd);
        fd = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd;
};

int WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

// The path's own file if it is a link: a link the user keeps stays a link.
std::string Target(const std::string &path)
{
    std::vector<char> resolved(PATH_MAX + 1);
    if (::realpath(path.c_str(), resolved.data()) == nullptr)
        return path;
    return resolved.data();
}

std::optional<std::string> Replace(const std::string &path, const struct stat *old,
                                   std::string_view text)
{
    const std::string target = old != nullptr ? Target(path) : path;
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "." + base + ".XXXXXX";
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.Get() < 0)
        return Failed(path, "cannot be written", errno);
    mode_t mode = 0;
    if (old != nullptr) {
        mode = old->st_mode & 07777;
    } else {
        // Read once: the mask is the process's, and the ports' threads save files at once.
        static const mode_t mask = [] {
            const mode_t current = ::umask(0);
            ::umask(current);
            return current;
        }();
        mode = 0666 & ~mask;
    }
    int error = ::fchmod(file.Get(), mode) != 0 ? errno : 0;
    if (error == 0)
        error = WriteAll(file.Get(), text);
    if (error == 0 && ::fsync(file.Get()) != 0)
        error = errno;
    const int closed = file.Close();
    if (error == 0)
        error = closed;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return Failed(
            path, old != nullptr ? "cannot be written, the old file is kept" : "cannot be written",
            error);
    }
    return std::nullopt;
}

} // namespace

bool SameFile(const std::string &first, const std::string &second)
{
    struct stat a
    {
    }, b{};
    if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0)
        return false;
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode))
        return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::optional<int> NamedDescriptor(const std::string &path)
{
    if (path == "/dev/stdin")
        return 0;
    if (path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    for (const char *prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::string_view start(prefix);
        if (path.size() > start.size() && path.size() <= start.size() + 4 &&
            path.compare(0, start.size(), start) == 0 &&
            path.find_first_not_of("0123456789", start.size()) == std::string::npos)
            return std::atoi(path.c_str() + start.size());
    }
    return std::nullopt;
}

TextRead ReadTextDescriptor(int descriptor, const std::string &name, std::size_t largest)
{
    TextRead read;
    struct stat status
    {
    };
    if (::fstat(descriptor, &status) != 0)
        return {{}, Failed(name, "cannot be read", errno)};
    if (S_ISDIR(status.st_mode))
        return {{}, Failed(name, "cannot be read", EISDIR)};
    // One byte more than allowed tells a file that is too large from one that just fits.
    read.text.resize(largest + 1);
    std::size_t got = 0;
    while (got < read.text.size()) {
        const ssize_t n = ::read(descriptor, read.text.data() + got, read.text.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return {{}, Failed(name, "cannot be read", errno)};
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got > largest)
        return {{}, name + ": too large (more than " + std::to_string(largest) + " bytes)"};
    read.text.resize(got);
    return read;
}

TextRead ReadTextFile(const std::string &path, std::size_t largest)
{
    // A serial port or terminal named where a file belongs would wait for carrier and then for
    // input for ever: a device is opened without waiting, and a terminal refused.
    struct stat status
    {
    };
    const bool device = ::stat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode);
    Descriptor file(
        ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | (device ? O_NONBLOCK : 0)));
    if (file.Get() < 0)
        return {{}, Failed(path, "cannot be opened", errno)};
    if (device) {
        if (::isatty(file.Get()))
            return {{},
                    path + ": cannot be read: a terminal or serial port, not a file (\"-\" "
                           "reads standard input)"};
        const int flags = ::fcntl(file.Get(), F_GETFL);
        if (flags < 0 || ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
            return {{}, Failed(path, "cannot be read", errno)};
    }
    return ReadTextDescriptor(file.Get(), path, largest);
}

std::optional<std::string> WriteTextDescriptor(int descriptor, const std::string &name,
                                               std::string_view text)
{
    if (const int error = WriteAll(descriptor, text); error != 0)
        return Failed(name, "write error", error);
    return std::nullopt;
}

std::optional<std::string> WriteTextFile(const std::string &path, std::string_view text)
{
    if (const std::optional<int> descriptor = NamedDescriptor(path))
        return WriteTextDescriptor(*descriptor, path, text);
    struct stat status
    {
    };
    if (::stat(path.c_str(), &status) != 0) {
        if (errno != ENOENT)
            return Failed(path, "cannot be written", errno);
        return Replace(path, nullptr, text);
    }
    if (S_ISREG(status.st_mode)) {
        // A file the user may not write is not replaced behind its back, as `>` and cp refuse.
        if (::access(path.c_str(), W_OK) != 0)
            return Failed(path, "cannot be written", errno);
        return Replace(path, &status, text);
    }
    if (S_ISDIR(status.st_mode))
        return Failed(path, "cannot be written", EISDIR);
    if (!S_ISCHR(status.st_mode) && !S_ISFIFO(status.st_mode))
        return path + ": cannot be written: not a file, character device or FIFO";
    // What the user named, written as it stands: a terminal, a pipe, /dev/null.
    Descriptor device(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (device.Get() < 0)
        return Failed(path, "cannot be written", errno);
    int error = WriteAll(device.Get(), text);
    const int closed = device.Close();
    if (error == 0)
        error = closed;
    if (error != 0)
        return Failed(path, "write error", error);
    return std::nullopt;
}
