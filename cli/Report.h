#pragma once
// What a run on modules reports: each port's result, as a text line or in one JSON document,
// and the words for what a module now holds, the same for one port and a batch.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/Exit.h"
#include "protocol/ParamFile.h"

class QJsonObject;
class QString;

namespace cli {

inline constexpr const char *Program = "nmct-cli";
inline constexpr const char *NothingSent = "nothing was sent";

// What a run did to a module's settings or volume: whether anything that changes them was sent,
// and whether the module confirmed it.
enum class Change
{
    NothingSent,
    NotAcknowledged, // sent, but no "OK" came: the module may hold anything
    Acknowledged,    // "OK", but not read back (or read back different)
    Confirmed,       // settings: read back equal; defaults, volume: "OK" (nothing reads them)
};

// What one port's run came to.
struct PortResult
{
    std::string port;
    std::string device;
    std::string model;
    std::string version;
    int status = Success;
    Change change = Change::NothingSent;
    std::string message; // why it failed; names the port
    std::string printed; // what the command prints for one port alone
    // What the module now holds, or what was done besides the outcome, in the same words for
    // one port and a batch: "written and verified", "nothing was sent", "saved to FILE".
    std::string done;
    std::vector<SettingDifference> differences;
    std::string backup;
    std::string file;
};

// "COM3: ok, model NM450, version V2.13, written and verified, backup PATH"
std::string ResultLine(const PortResult &result);

// What a run changed in the modules it reached, as the result lines say it: kept apart from
// standard output, so that a report that cannot be written does not hide it.
using Changed = std::vector<std::string>;

// The ports' failures on `err`; on `out` one port's own output, a line per port of a batch, or
// the JSON document. Gives the highest status of any port.
int ReportResults(const std::string &command, const std::vector<PortResult> &results, bool json,
                  std::ostream &out, std::ostream &err, Changed &changed);
// The document a script reading --json gets when the run stopped before any port.
void ReportFailureJson(const std::string &command, int status, const std::string &message,
                       std::ostream &out);

QString Json(const std::string &text);
void PrintJson(const QJsonObject &document, std::ostream &out);

} // namespace cli
