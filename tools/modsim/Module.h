#pragma once
// What the radio module does with a command, without any I/O: it keeps a parameter record and a
// volume, and answers the five commands. Faults and timing live elsewhere (Faults.h,
// ModuleSimulator.h).

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace nmct::modsim {

inline constexpr std::size_t kRecordSize = 299;
inline constexpr std::size_t kRecordHeaderSize = 2;
inline constexpr std::size_t kRecordBodySize = kRecordSize - kRecordHeaderSize;

// The parameter block: "AA" header, 16 channels of "ttt.tttt,rrr.rrrr,", two tone codes
// "nnn," and one squelch digit.
using Record = std::array<char, kRecordSize>;

// The record a new module holds and "AAFA2" restores: the same channels, tone codes and squelch
// as the configuration tool's built-in defaults, with "," separators as the module writes them.
Record FactoryRecord();

inline constexpr std::string_view kDefaultIdentity = "NM450_UHFV2.13";

// The set command's line end: four printable characters, not CR LF.
inline constexpr std::string_view kSetLineEnd = "\\r\\n";

// The two bytes after every reply.
inline constexpr std::string_view kReplyEnd = "\r\n";

enum class CommandKind
{
    Identify,        // "AAFAA"
    ReadRecord,      // "AAFA1"
    RestoreDefaults, // "AAFA2"
    SetRecord,       // "AAFA3" + body + line end
    SetVolume,       // "AAFA4" + volume text
    Unknown,
};

struct Command
{
    CommandKind kind = CommandKind::Unknown;
    std::string argument{}; // the record body of a set, the text of a volume command
};

// Classifies one framed command. A set command without its line end is unknown.
Command ParseCommand(std::string_view unit);

// True for the commands whose good reply is "OK".
bool RepliesOk(CommandKind kind);

class Module
{
public:
    explicit Module(std::string identity = std::string(kDefaultIdentity));

    // Acts on the command and returns its reply text without end bytes; nothing for unknown
    // input. A set body longer than the record's body is cut; a shorter one overwrites only the
    // bytes it covers.
    std::optional<std::string> Answer(const Command &command);

    const Record &StoredRecord() const { return record_; }
    void SetRecord(const Record &record) { record_ = record; }
    const std::string &Volume() const { return volume_; }
    const std::string &Identity() const { return identity_; }

private:
    std::string identity_;
    Record record_;
    std::string volume_ = "2";
};

// The bytes as text for logs and messages: printable ASCII as it is, every other byte as \xHH.
std::string Printable(std::string_view bytes);

} // namespace nmct::modsim
