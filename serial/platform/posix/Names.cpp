// Device names and the exclusive open.
#include "serial/platform/posix/Names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "serial/platform/posix/PosixPort.h"

namespace port {

namespace posix {

std::string DefaultDeviceName(const std::string &name, const std::string &deviceDir)
{
    if (!name.empty() && name.front() == '/')
        return name;
    if (name.size() > 3 && name.size() <= 6 && ::strncasecmp(name.c_str(), "COM", 3) == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos) {
        const int number = std::stoi(name.substr(3));
        if (number >= 1 && number <= 255) {
            const std::string link = deviceDir + "/COM" + std::to_string(number);
            if (::access(link.c_str(), F_OK) == 0)
                return link;
            return deviceDir + "/ttyS" + std::to_string(number - 1);
        }
    }
    return deviceDir + "/" + name;
}

} // namespace posix

std::string PlatformDeviceName(const std::string &name)
{
    return posix::DefaultDeviceName(name, "/dev");
}

std::vector<SerialAdapter> ListSerialAdapters(const std::string &folder)
{
    namespace fs = std::filesystem;
    std::vector<SerialAdapter> adapters;
    std::error_code error;
    for (const fs::directory_entry &entry :
         fs::directory_iterator(folder.empty() ? "/dev/serial/by-id" : folder, error)) {
        std::error_code ignored;
        if (entry.is_directory(ignored))
            continue;
        const fs::path device = fs::canonical(entry.path(), ignored);
        adapters.push_back({entry.path().filename().string(), ignored ? "" : device.string()});
    }
    std::sort(adapters.begin(), adapters.end(),
              [](const SerialAdapter &a, const SerialAdapter &b) { return a.name < b.name; });
    return adapters;
}

namespace {

OpenFailureKind KindOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return OpenFailureKind::NoSuchDevice;
    case EACCES:
    case EPERM:
    case EROFS:
        return OpenFailureKind::AccessDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return OpenFailureKind::Busy;
    case ENOTTY:
        return OpenFailureKind::NotSerialDevice;
    default:
        return OpenFailureKind::Other;
    }
}

std::unique_ptr<Port> Failed(OpenFailure *failure, const std::string &path, int error)
{
    if (failure != nullptr)
        *failure = {KindOf(error), path, std::strerror(error)};
    return nullptr;
}

} // namespace

std::unique_ptr<Port> OpenDevice(const std::string &deviceName, OpenFailure *failure)
{
    if (failure != nullptr)
        *failure = {};
    static const std::string kPrefix = "\\\\.\\";
    std::string name = deviceName;
    if (name.rfind(kPrefix, 0) == 0)
        name.erase(0, kPrefix.size());
    const std::string path = ResolveDevice(name);
    if (path.empty())
        return Failed(failure, name, ENOENT);
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return Failed(failure, path, errno);
    // TIOCEXCL keeps other users out but not root; the lock covers every process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return Failed(failure, path, error);
    }
    if (::isatty(fd))
        ::ioctl(fd, TIOCEXCL);
    auto port = std::make_unique<posix::PosixPort>(fd);
    if (const int error = port->Init(); error != 0)
        return Failed(failure, path, error);
    if (failure != nullptr)
        failure->device = path;
    return port;
}

} // namespace port
