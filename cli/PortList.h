#pragma once
// What `nmct-cli ports` prints: which COM names lead to a device on this machine, and the
// serial adapters the system lists by their identity.

#include <iosfwd>

namespace cli {

void ListPorts(std::ostream &out);

} // namespace cli
