// The identify reply split into model and version. The oracle is the rule as it is stated with
// 1-based positions: p is the position of the first "_" (0 if there is none); the model is
// characters 1 to p - 1, the version runs from character p + 4 to the end.
//
// Input: the reply text, any bytes.

#include "fuzz/FuzzSupport.h"

#include "protocol/Commands.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string reply(reinterpret_cast<const char *>(data), size);
    const IdentifyReply parts = SplitIdentifyReply(reply);

    const std::size_t found = reply.find('_');
    const std::size_t p = found == std::string::npos ? 0 : found + 1;
    // Characters first..last (1-based, inclusive); empty when last < first.
    auto characters = [&reply](std::size_t first, std::size_t last) {
        return last < first ? std::string() : reply.substr(first - 1, last - first + 1);
    };
    FUZZ_CHECK(parts.model == (p == 0 ? std::string() : characters(1, p - 1)));
    FUZZ_CHECK(parts.version == characters(p + 4, reply.size()));
    FUZZ_CHECK(parts.model.find('_') == std::string::npos);
    return 0;
}
