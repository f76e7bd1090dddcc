#include "cli/Report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <ostream>

namespace cli {

namespace {

const char *ChangeName(Change change)
{
    switch (change) {
    case Change::NothingSent:
        return "nothing sent";
    case Change::NotAcknowledged:
        return "not acknowledged";
    case Change::Acknowledged:
        return "acknowledged";
    case Change::Confirmed:
        return "confirmed";
    }
    return "";
}

const char *Outcome(int status)
{
    switch (status) {
    case Success:
        return "ok";
    case FileError:
        return "file error";
    case NoModule:
        return "no module";
    case VerifyMismatch:
        return "differs";
    default:
        return "failed";
    }
}

QJsonObject PortJson(const PortResult &result)
{
    QJsonObject port{{"port", Json(result.port)},          {"device", Json(result.device)},
                     {"model", Json(result.model)},        {"version", Json(result.version)},
                     {"outcome", Outcome(result.status)},  {"status", result.status},
                     {"change", ChangeName(result.change)}};
    if (!result.message.empty())
        port["message"] = Json(result.message);
    if (!result.backup.empty())
        port["backup"] = Json(result.backup);
    if (!result.file.empty())
        port["file"] = Json(result.file);
    if (!result.differences.empty()) {
        QJsonArray differences;
        for (const SettingDifference &difference : result.differences) {
            differences.append(QJsonObject{{"setting", Json(difference.setting)},
                                           {"file", Json(difference.file)},
                                           {"module", Json(difference.module)}});
        }
        port["differences"] = differences;
    }
    return port;
}

} // namespace

std::string ResultLine(const PortResult &result)
{
    std::string line = result.port + ": " + Outcome(result.status);
    if (!result.model.empty())
        line += ", model " + result.model + ", version " + result.version;
    if (!result.done.empty())
        line += ", " + result.done;
    if (!result.backup.empty())
        line += ", backup " + result.backup;
    return line;
}

int ReportResults(const std::string &command, const std::vector<PortResult> &results, bool json,
                  std::ostream &out, std::ostream &err, Changed &changed)
{
    const bool batch = results.size() > 1;
    int status = Success;
    for (const PortResult &result : results)
        status = std::max(status, result.status);

    for (const PortResult &result : results) {
        if (result.change != Change::NothingSent)
            changed.push_back(ResultLine(result));
        if (result.status == Success)
            continue;
        err << Program << ": " << result.message << "\n";
        if (batch)
            for (const SettingDifference &difference : result.differences)
                err << "  " << difference.Text() << "\n";
    }
    if (json) {
        QJsonArray ports;
        for (const PortResult &result : results)
            ports.append(PortJson(result));
        PrintJson(QJsonObject{{"command", Json(command)}, {"status", status}, {"ports", ports}},
                  out);
    } else if (!batch) {
        out << results[0].printed;
    } else {
        // One line per port, in the order given.
        for (const PortResult &result : results)
            out << ResultLine(result) << "\n";
    }
    return status;
}

void ReportFailureJson(const std::string &command, int status, const std::string &message,
                       std::ostream &out)
{
    PrintJson(QJsonObject{{"command", Json(command)},
                          {"status", status},
                          {"message", Json(message)},
                          {"ports", QJsonArray()}},
              out);
}

QString Json(const std::string &text)
{
    return QString::fromStdString(text);
}

void PrintJson(const QJsonObject &document, std::ostream &out)
{
    out << QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
}

} // namespace cli
