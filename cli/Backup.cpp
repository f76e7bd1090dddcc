#include "cli/Backup.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>

#include "cli/CliArguments.h"
#include "cli/Files.h"
#include "protocol/TextFile.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

std::string BackupFolder(const Arguments &arguments)
{
    if (!arguments.backupDir.empty())
        return arguments.backupDir;
    const std::string folder = UserFolder("XDG_STATE_HOME", ".local/state", "backups");
    if (folder.empty())
        throw Failure(FileError, "no folder for the backup: neither XDG_STATE_HOME nor HOME is "
                                 "set (use --backup-dir DIR, or --no-backup)");
    return folder;
}

std::string UtcStamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

} // namespace

std::string MakeBackupFolder(const Arguments &arguments)
{
    const std::string folder = BackupFolder(arguments);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw Failure(FileError, folder + ": the backup folder cannot be made: " + error.message() +
                                     "; nothing was sent");
    return folder;
}

std::string SaveBackup(const std::string &folder, const std::string &port, const std::string &model,
                       const std::string &version, const std::string &text)
{
    const std::string stem = folder + "/" + FileNamePart(port) + "_" + FileNamePart(model) + "_" +
                             FileNamePart(version) + "_" + UtcStamp();
    // An older backup is never replaced.
    std::error_code error;
    std::string path = stem + ".nmct";
    for (int again = 2; fs::exists(fs::symlink_status(path, error)); ++again)
        path = stem + "-" + std::to_string(again) + ".nmct";
    if (const std::optional<std::string> failed = WriteTextFile(path, text))
        throw Failure(FileError, *failed);
    return path;
}

} // namespace cli
