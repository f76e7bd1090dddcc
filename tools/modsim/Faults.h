#pragma once
// How the simulated module misbehaves. A fault only changes what goes back on the line: the
// module still acts on every command it recognises (a SET is stored even when the reply is lost).

#include "tools/modsim/Module.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nmct::modsim {

enum class ReplyFault
{
    None,
    Silent,  // no reply at all
    Garbage, // as many bytes as the reply would have, all line noise (0x80..0xFF)
    Short,   // the reply text cut to `shortLength` characters, then the end bytes
    Late,    // the reply after `lateDelay`
    Split,   // the reply in two parts, `splitGap` of silence between them
};

struct Faults
{
    ReplyFault reply = ReplyFault::None;
    std::chrono::milliseconds lateDelay{700};
    std::chrono::milliseconds splitGap{150};
    std::size_t shortLength = 0; // 0: half the reply text (at least one character)
    std::size_t splitAt = 0;     // bytes in the first part; 0: half the reply

    // Counted from the SetFaults call (or the start) over recognised commands only.
    std::optional<unsigned> answerLimit{}; // answer this many commands, then none
    // Close the line 200 ms after the reply to this many (0: at once).
    std::optional<unsigned> vanishAfter{};

    bool badToneCode = false;            // read replies carry "abc" as the transmit tone code
    std::optional<std::string> okText{}; // replaces "OK" in set, default and volume replies
    bool flood = false;                  // write bytes without pause while set
};

// One piece of output. The first part of a reply waits `wait` after the command arrived; each
// later part waits `wait` after the previous part's last byte.
struct OutputPart
{
    std::string bytes{};
    std::chrono::milliseconds wait{0};
};

// The reply to a command of `kind` whose good reply text is `text`, as the faults shape it.
// `noiseSeed` varies the garbage from one reply to the next.
std::vector<OutputPart> ShapeReply(const Faults &faults, CommandKind kind, std::string text,
                                   std::uint32_t noiseSeed);

// Bytes a flooding module sends: line noise, never a valid reply.
std::string FloodBytes(std::size_t count, std::uint32_t noiseSeed);

} // namespace nmct::modsim
