#include "cli/Files.h"

#include <algorithm>
#include <optional>
#include <ostream>

#include "cli/Exit.h"
#include "protocol/TextFile.h"

namespace cli {

std::string LoadText(const std::string &path)
{
    TextRead read = path == "-" ? ReadTextDescriptor(0, "standard input", LargestParamFile)
                                : ReadTextFile(path, LargestParamFile);
    if (!read.Ok())
        throw Failure(FileError, read.error);
    return std::move(read.text);
}

ModuleSettings Checked(const std::string &path, const SettingsResult &result,
                       const char *consequence)
{
    if (!result.Ok()) {
        std::string message = path + ": has errors" + consequence + ":";
        for (const std::string &error : result.errors)
            message += "\n  " + error;
        throw Failure(FileError, message);
    }
    return result.settings;
}

ModuleSettings LoadFile(const std::string &path)
{
    return Checked(path, ReadParamFile(LoadText(path)));
}

void SaveFile(const std::string &path, const std::string &text, std::ostream &out)
{
    // Standard output goes out with everything else the command prints, and is checked there.
    if (path == "-" || NamedDescriptor(path) == 1) {
        out << text;
        return;
    }
    // Written whole or not at all: a failed run never leaves half a file in version control.
    if (const std::optional<std::string> failed = WriteTextFile(path, text))
        throw Failure(FileError, *failed);
}

void RefuseOverwrite(const std::string &output, const std::string &input, const char *what)
{
    if (output != "-" && SameFile(output, input))
        throw Failure(BadArguments, output + " is " + what + "; nothing was written");
}

std::string FileNamePart(const std::string &text)
{
    std::string part;
    for (const char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
        part += plain ? c : '-';
    }
    part.erase(0, part.find_first_not_of("-."));
    return part.empty() ? "unnamed" : part;
}

void RefuseSharedFileNames(const std::vector<std::string> &ports)
{
    std::vector<std::string> names;
    for (const std::string &port : ports) {
        const std::string name = FileNamePart(port);
        if (std::find(names.begin(), names.end(), name) != names.end())
            throw Failure(BadArguments, "two ports would share the file name " + name +
                                            ".nmct; name them differently");
        names.push_back(name);
    }
}

} // namespace cli
