#pragma once
// The backups write and default save before they change a module: the module's settings as
// read saves them, named after the port, model, version and time (UTC), never replacing one.

#include <string>

namespace cli {

struct Arguments;

// --backup-dir, else the state folder's; made before any port is touched, so a backup that
// could not be saved never stops a run after something was sent.
std::string MakeBackupFolder(const Arguments &arguments);

// Gives the new backup's path: "FOLDER/COM3_NM450_V2.13_20261208T110111.310Z.nmct".
std::string SaveBackup(const std::string &folder, const std::string &port, const std::string &model,
                       const std::string &version, const std::string &text);

} // namespace cli
