#pragma once
// The integer conversion used when a record is shown.

#include <stdexcept>
#include <string>

class EConvertError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The text ends at its first zero byte; leading blanks are skipped; what follows must be
// decimal digits only. Anything else throws EConvertError
// "'<text>' is not a valid integer value".
int StrToInt(const std::string &text);
