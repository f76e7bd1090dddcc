#pragma once
// The commands on files alone, no module: check a parameter file, and take its channel table to
// and from CSV for a spreadsheet. Each gives the exit status; a failure throws.

#include <iosfwd>

namespace cli {

struct Arguments;

int CheckFile(const Arguments &arguments, std::ostream &out);
int ExportCsv(const Arguments &arguments, std::ostream &out);
int ImportCsv(const Arguments &arguments, std::ostream &out);

} // namespace cli
