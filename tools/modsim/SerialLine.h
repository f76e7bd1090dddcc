#pragma once
// The module's end of the serial line: a pseudo-terminal master or a real serial device, plus
// the optional COM-style link to it. Failures throw std::system_error with the path in the text.

#include <string>

namespace nmct::modsim {

class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.Release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

struct SerialLine
{
    UniqueFd fd; // non-blocking; the module reads commands and writes replies here
    // Pseudo-terminal only: a slave descriptor of our own. Without it the pty hangs up each
    // time the tool closes its side, and poll on the master then reports POLLHUP without end.
    UniqueFd keepAlive;
    std::string path; // what the tool opens
};

// A new pseudo-terminal in raw mode at 9600 8N1.
SerialLine OpenPseudoTerminal();

// A serial device, raw at 9600 8N1 without modem control.
SerialLine OpenSerialDevice(const std::string &path);

// A symbolic link that exists while this object does. A link left behind by an earlier run
// (dangling, or already pointing at the target) is replaced; anything else at the path is an
// error. The destructor removes the link only if it still points at the target.
class SymLink
{
public:
    SymLink() = default;
    SymLink(std::string linkPath, std::string target);
    ~SymLink();
    SymLink(SymLink &&other) noexcept;
    SymLink &operator=(SymLink &&other) noexcept;
    SymLink(const SymLink &) = delete;
    SymLink &operator=(const SymLink &) = delete;

    const std::string &Path() const { return path_; }

private:
    void Remove() noexcept;

    std::string path_;
    std::string target_;
};

} // namespace nmct::modsim
