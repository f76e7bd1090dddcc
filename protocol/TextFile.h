#pragma once
// Reading and writing the user's text files (parameter files, channel tables) for the window
// and the command line alike. Paths are the system's own bytes: the window converts its file
// names with QFile::encodeName, the command line passes its arguments as they came, so a name
// that is not UTF-8 is still the file the user named.
//
// Writing never leaves a broken file behind: a regular file is replaced only by a complete new
// one (written beside it, flushed to disk, then renamed over it), or kept as it was. A
// character device or FIFO is written directly, as the user named it (/dev/stdout, a pipe);
// anything else that exists there (a directory, a socket) is refused. Reading stops one byte
// past the largest file the caller accepts, so an endless device is refused quickly.
//
// Every failure comes back as a message that names the path and the system's reason.

#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

struct TextRead
{
    std::string text;
    std::string error; // empty when the text was read whole
    bool Ok() const { return error.empty(); }
};

// The user's folder for this program's files of one kind, by the XDG base directories:
// $`variable`, else $HOME/`underHome` (each only as an absolute path), with "/nmct/`rest`";
// empty when neither gives a folder.
inline std::string UserFolder(const char *variable, const char *underHome, const char *rest)
{
    const char *set = std::getenv(variable);
    if (set && set[0] == '/')
        return std::string(set) + "/nmct/" + rest;
    const char *home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + "/" + underHome + "/nmct/" + rest : "";
}

// At most `largest` bytes; more is an error.
TextRead ReadTextFile(const std::string &path, std::size_t largest);
TextRead ReadTextDescriptor(int descriptor, const std::string &name, std::size_t largest);

// The failure's message, or nothing when the whole text reached the file.
std::optional<std::string> WriteTextFile(const std::string &path, std::string_view text);
std::optional<std::string> WriteTextDescriptor(int descriptor, const std::string &name,
                                               std::string_view text);

// Whether two paths lead to the same file or device: the same path, a link to it, or another
// name of it (the same device and inode; for a character device, the same device number).
// Paths that do not exist lead nowhere alike.
bool SameFile(const std::string &first, const std::string &second);

// The descriptor a path names by number (/dev/stdout, /dev/fd/3, /proc/self/fd/1), if any:
// such a path is written through the descriptor the program already holds, at its position.
std::optional<int> NamedDescriptor(const std::string &path);
