#include "protocol/Conversion.h"

#include <limits>

int StrToInt(const std::string &raw)
{
    const std::string text = raw.substr(0, raw.find('\0'));
    auto fail = [&text]() -> int {
        throw EConvertError("'" + text + "' is not a valid integer value");
    };

    std::size_t pos = text.find_first_not_of(' ');
    if (pos == std::string::npos)
        return fail();

    long long value = 0;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9')
            return fail();
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int>::max())
            return fail();
    }
    return static_cast<int>(value);
}
