// nmct-cli as a script runs it: the real program against the simulated module on a
// pseudo-terminal, its exit status, what it prints, and what reached the module.

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

#include "protocol/ParamFile.h"
#include "tests/support/Ser2net.h"
#include "tools/modsim/ModuleSimulator.h"

using nmct::modsim::Faults;
using nmct::modsim::ModuleSimulator;
using nmct::modsim::ReplyFault;

Q_DECLARE_METATYPE(Faults)

namespace {

// The factory settings with channel 3 moved: what the module holds after a write of it.
QByteArray ChangedFile()
{
    ParamRecord record;
    MakeDefaultParams(record);
    ModuleSettings settings = SettingsFromRecord(record).settings;
    settings.channels[2] = {"460.0000", "460.5000"};
    return QByteArray::fromStdString(WriteParamFile(settings));
}

// "ports/1/differences/0/file" in a JSON document, as text ("5" for a number).
QString JsonAt(const QJsonDocument &document, const QString &path)
{
    QJsonValue value = document.object();
    for (const QString &step : path.split('/')) {
        bool index = false;
        const int at = step.toInt(&index);
        value = index ? value.toArray().at(at) : value.toObject().value(step);
    }
    return value.isDouble() ? QString::number(value.toInt()) : value.toString();
}

// Standard output is "json:" then "path=value" checks joined by " ; "; else one of its lines
// (or of the file written), where a final '*' takes any ending.
bool OutputHas(const QString &out, const QString &lines, const QString &expected)
{
    if (expected.startsWith("json:")) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(out.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return false;
        for (const QString &check : expected.mid(5).split(" ; ")) {
            const qsizetype equals = check.indexOf('=');
            if (JsonAt(document, check.left(equals)) != check.mid(equals + 1))
                return false;
        }
        return true;
    }
    if (!expected.endsWith('*'))
        return lines.split('\n').contains(expected);
    const QString start = expected.chopped(1);
    for (const QString &line : lines.split('\n'))
        if (line.startsWith(start))
            return true;
    return false;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void command_data();
    void command();
    void backupRestoresTheModule();
};

void TestCli::command_data()
{
    // "{port}" stands for the module's line ("{port2}" for a second module's), "{file}" for a
    // file holding `file` (named "-x" when an argument is "-x"), "{dir}" for its folder, the
    // working directory, which also holds "alias", a link to the file, and "COM60", a link to
    // the module's line. A first argument in braces sets the program's surroundings:
    // "{endless}" endless standard input, "{closed}" standard output closed, "{full}" a file
    // system that takes no more bytes (a file size limit), "{stdout full}" standard output on a
    // full disk, "{hello}" a device that answers "HELLO" where the module names itself, "{map}"
    // `file` as the port map (its places filled in) instead of the file. XDG_CONFIG_HOME is
    // "{dir}/config", so the map is "{dir}/config/nmct/ports". Through ser2net: "{rfc2217}"
    // makes "{port}" its RFC 2217 accepter in front of the module and "{port2}" its raw one in
    // front of the second, "{tcp}" the other way round, "{ser2net stops}" is "{rfc2217}" with
    // ser2net stopped once the module has had three commands; "{port3}" is then a third
    // module's line. "{free}" is a port on 127.0.0.1 nothing listens on.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // a line of standard output, or of the file written
    QTest::addColumn<QString>("error");  // part of standard error
    QTest::addColumn<QString>("wire");   // the commands the module received
    const QByteArray none;
    const Faults good;
    const QByteArray changed = ChangedFile();
    const QByteArray broken = QByteArray(changed).replace("channel 7   456", "channel 7   45O");
    const QStringList port{"--port", "{port}"};

    QTest::newRow("help") << QStringList{"--help"} << none << good << 0
                          << "Exit status: 0 done, 2 bad arguments, 3 file error, 4 no module on "
                             "the port,"
                          << ""
                          << "";
    QTest::newRow("version") << QStringList{"--version"} << none << good << 0 << "nmct-cli 0.1.0"
                             << ""
                             << "";
    QTest::newRow("no command") << port << none << good << 2 << ""
                                << "no command given"
                                << "";
    QTest::newRow("no port") << QStringList{"detect"} << none << good << 2 << ""
                             << "no port given"
                             << "";
    QTest::newRow("unknown command") << port + QStringList{"erase"} << none << good << 2 << ""
                                     << "unknown command 'erase'"
                                     << "";
    QTest::newRow("volume out of range")
        << port + QStringList{"volume", "5"} << none << good << 2 << ""
        << "volume must be 0 to 4, not '5'"
        << "";
    QTest::newRow("volume -12 is no option")
        << port + QStringList{"volume", "-12"} << none << good << 2 << ""
        << "volume must be 0 to 4, not '-12'"
        << "";
    QTest::newRow("a port name's blanks are dropped")
        << QStringList{"-p", " {port} ", "detect"} << none << good << 0 << "model NM450"
        << ""
        << "AAFAA";
    // Opened twice, one of them would find the device busy.
    QTest::newRow("one device under two names")
        << QStringList{"-p", "{port}", "-p", "{dir}/COM60", "detect"} << none << good << 2 << ""
        << "{port} and {dir}/COM60 are the same device; give each port once"
        << "";
    QTest::newRow("read into the port's own device")
        << port + QStringList{"read", "{dir}/COM60"} << none << good << 2 << ""
        << "{dir}/COM60 is the port's device; nothing was written"
        << "";
    // Only a module's own name lets more than the identify go out.
    for (const QStringList &command :
         {QStringList{"read"}, QStringList{"verify", "{file}"}, QStringList{"write", "{file}"},
          QStringList{"default"}, QStringList{"volume", "2"}})
        QTest::newRow(qPrintable("line noise is no module: " + command.first()))
            << QStringList{"--no-backup"}.mid(command.first() == "write" ? 0 : 1) + port + command
            << changed << Faults{.reply = ReplyFault::Garbage} << 4 << ""
            << ": no module: something answered, but not as a module"
            << "AAFAA";
    QTest::newRow("a device that answers HELLO is no module")
        << QStringList{"{hello}", "--no-backup", "-p", "{port}", "write", "{file}"} << changed
        << good << 4 << ""
        << ": no module: something answered, but not as a module (model '', version 'LO'); "
           "nothing was sent\n"
        << "AAFAA";
    QTest::newRow("volume 0") << port + QStringList{"volume", "0"} << none << good << 0 << ""
                              << ""
                              << "AAFAA AAFA4";
    QTest::newRow("volume 4, short -p")
        << QStringList{"-p", "{port}", "volume", "4"} << none << good << 0 << ""
        << ""
        << "AAFAA AAFA4";
    QTest::newRow("check") << QStringList{"check", "{file}"} << changed << good << 0 << ""
                           << ""
                           << "";
    QTest::newRow("check, errors") << QStringList{"check", "{file}"} << broken << good << 3 << ""
                                   << "line 12: transmit frequency '45O.1250' is not a frequency"
                                   << "";
    QTest::newRow("check, a file named -x after --")
        << QStringList{"check", "--", "-x"} << changed << good << 0 << ""
        << ""
        << "";
    QTest::newRow("check, -x without -- is an option")
        << QStringList{"check", "-x"} << changed << good << 2 << ""
        << "Unknown option 'x'"
        << "";
    QTest::newRow("write, missing file")
        << port + QStringList{"write", "/nonexistent/site.nmct"} << none << good << 3 << ""
        << "/nonexistent/site.nmct: cannot be opened"
        << "";
    QTest::newRow("write, file with an error sends nothing")
        << port + QStringList{"write", "{file}"} << broken << good << 3 << ""
        << "line 12: transmit frequency '45O.1250' is not a frequency"
        << "";
    QTest::newRow("detect, no such port")
        << QStringList{"--port", "/nonexistent/tty", "detect"} << none << good << 4 << ""
        << "nmct-cli: no module: /nonexistent/tty could not be opened: No such file or directory.\n"
           "There is no such device."
        << "";
    QTest::newRow("detect, silent module")
        << port + QStringList{"detect"} << none << Faults{.reply = ReplyFault::Silent} << 4 << ""
        << ": no module: the module did not answer"
        << "AAFAA";
    QTest::newRow("detect") << port + QStringList{"detect"} << none << good << 0 << "model NM450"
                            << ""
                            << "AAFAA";
    QTest::newRow("read to standard output")
        << port + QStringList{"read"} << none << good << 0 << "rx-tone  CDCSS 031N"
        << ""
        << "AAFAA AAFA1";
    // Answered in 0.7 s, later than the window's wait: a slow link, given its time.
    QTest::newRow("read --reply-wait, a late module")
        << QStringList{"--reply-wait", "1500", "-p", "{port}", "read"} << none
        << Faults{.reply = ReplyFault::Late, .lateDelay = std::chrono::milliseconds(700)} << 0
        << "rx-tone  CDCSS 031N"
        << ""
        << "AAFAA AAFA1";
    QTest::newRow("read to a file") << port + QStringList{"read", "{file}"} << none << good << 0
                                    << "channel 3   452.1250  452.1250"
                                    << ""
                                    << "AAFAA AAFA1";
    QTest::newRow("read, tone the file cannot hold")
        << port + QStringList{"read"} << none << Faults{.badToneCode = true} << 6 << ""
        << "transmit tone code 'abc' is not a known tone"
        << "AAFAA AAFA1";
    QTest::newRow("write, backup first, read back")
        << port + QStringList{"write", "{file}"} << changed << good << 0 << "written and verified"
        << ""
        << "AAFAA AAFA1 AAFA3 AAFA1";
    // The module took the settings: nothing may read as if nothing happened.
    QTest::newRow("write, acknowledged but not read back")
        << port + QStringList{"write", "{file}"} << changed << Faults{.answerLimit = 3} << 6
        << "written and acknowledged, not read back"
        << ": reading the settings back failed: the module did not answer; written and "
           "acknowledged, not read back: check them with: nmct-cli -p {port} verify {file}\n"
        << "AAFAA AAFA1 AAFA3 AAFA1";
    QTest::newRow("write --json, acknowledged but not read back")
        << QStringList{"--json", "-p", "{port}", "write", "{file}"} << changed
        << Faults{.answerLimit = 3} << 6
        << "json:status=6 ; ports/0/outcome=failed ; ports/0/change=acknowledged"
        << ": reading the settings back failed"
        << "AAFAA AAFA1 AAFA3 AAFA1";
    // A reply cut short is no setting of the module's, and skipping the backup is no way round.
    QTest::newRow("write, backup's read cut short: nothing sent")
        << port + QStringList{"write", "{file}"} << changed
        << Faults{.reply = ReplyFault::Short, .shortLength = 250} << 6 << "nothing was sent"
        << ": reading the settings for the backup failed: the module's reply was cut short: 252 "
           "of 301 bytes; nothing was sent\n"
        << "AAFAA AAFA1";
    QTest::newRow("write, standard output full: the change is told all the same")
        << QStringList{"{stdout full}", "-p", "{port}", "write", "{file}"} << changed << good << 7
        << ""
        << "nmct-cli: {port}: ok, model NM450, version V2.13, written and verified, backup "
           "{dir}/state/nmct/backups/"
        << "AAFAA AAFA1 AAFA3 AAFA1";
    QTest::newRow("write --no-verify")
        << port + QStringList{"write", "--no-verify", "{file}"} << changed << good << 0 << ""
        << ""
        << "AAFAA AAFA1 AAFA3";
    QTest::newRow("write, backup cannot be saved: nothing sent")
        << QStringList{"--backup-dir", "{file}/b", "-p", "{port}", "write", "{file}"} << changed
        << good << 3 << ""
        << "{file}/b: the backup folder cannot be made: Not a directory; nothing was sent"
        << "";
    QTest::newRow("write, backup cannot be written: nothing sent")
        << QStringList{"{full}", "--backup-dir", "{dir}/b", "-p", "{port}", "write", "{file}"}
        << changed << good << 3 << ""
        << ".nmct: cannot be written: File too large; nothing was sent"
        << "AAFAA AAFA1";
    QTest::newRow("write --no-backup, refused")
        << QStringList{"--no-backup", "-p", "{port}", "write", "{file}"} << changed
        << Faults{.okText = "NO"} << 6 << ""
        << ": writing failed: the module's reply was not OK; sent, not acknowledged: the "
           "module's settings are unknown, check them with: nmct-cli -p {port} verify {file}\n"
        << "AAFAA AAFA3";
    QTest::newRow("default, not acknowledged")
        << QStringList{"--backup-dir", "{dir}/b", "-p", "{port}", "default"} << none
        << Faults{.answerLimit = 2} << 6 << "sent, not acknowledged"
        << ": restoring the defaults failed: the module did not answer; sent, not acknowledged: "
           "the module's settings are unknown, check them with: nmct-cli -p {port} read\n"
        << "AAFAA AAFA1 AAFA2";
    QTest::newRow("write, endless input")
        << QStringList{"{endless}", "--port", "{port}", "write", "-"} << none << good << 3 << ""
        << "standard input: too large (more than 1048576 bytes"
        << "";
    QTest::newRow("write, a folder as the file")
        << port + QStringList{"write", "{dir}"} << none << good << 3 << ""
        << "{dir}: cannot be read: Is a directory"
        << "";
    // Read, it would wait for input for ever.
    QTest::newRow("write, the port typed where the file goes")
        << port + QStringList{"write", "{port}"} << none << good << 3 << ""
        << ": cannot be read: a terminal or serial port, not a file"
        << "";
    QTest::newRow("read --json to standard output, refused")
        << QStringList{"--json", "-p", "{port}", "read", "-"} << none << good << 2 << ""
        << "--json with read needs a FILE"
        << "";
    QTest::newRow("detect, line noise is not a module")
        << port + QStringList{"detect"} << none << Faults{.reply = ReplyFault::Garbage} << 4 << ""
        << ": no module: something answered, but not as a module (model '', version '<0x"
        << "AAFAA";
    QTest::newRow("read, full disk keeps the old file")
        << QStringList{"{full}", "--port", "{port}", "read", "{file}"} << changed << good << 3
        << "channel 3   460.0000  460.5000"
        << "{file}: cannot be written, the old file is kept: File too large"
        << "AAFAA AAFA1";
    QTest::newRow("read, a folder where the file goes")
        << port + QStringList{"read", "{dir}"} << none << good << 3 << ""
        << "{dir}: cannot be written: Is a directory"
        << "AAFAA AAFA1";
    QTest::newRow("read, standard output closed")
        << QStringList{"{closed}", "--port", "{port}", "read"} << none << good << 3 << ""
        << "standard output: write error: Bad file descriptor"
        << "AAFAA AAFA1";
    QTest::newRow("verify lists each difference")
        << port + QStringList{"verify", "{file}"} << changed << good << 5
        << "channel 3 receive frequency: 460.5000 in the file, 452.1250 in the module"
        << "differs from {file} in 2 settings"
        << "AAFAA AAFA1";
    QTest::newRow("default, backup first")
        << QStringList{"--backup-dir", "{dir}/b", "-p", "{port}", "default"} << none << good << 0
        << "backup {dir}/b/*"
        << ""
        << "AAFAA AAFA1 AAFA2";
    QTest::newRow("several ports, one missing, each its own module")
        << QStringList{"-p", "{port}", "-p", "/nonexistent/tty", "-p", "{port2}", "detect"} << none
        << good << 4 << "{port2}: ok, model NM450, version *"
        << "nmct-cli: no module: /nonexistent/tty could not be opened"
        << "AAFAA";
    QTest::newRow("several ports, one stops answering after the write")
        << QStringList{"-p", "{port}", "-p", "{port2}", "write", "{file}"} << changed
        << Faults{.answerLimit = 3} << 6
        << "{port}: failed, model NM450, version V2.13, written and acknowledged, not read back, "
           "backup *"
        << ": reading the settings back failed: the module did not answer; written and "
           "acknowledged, not read back"
        << "AAFAA AAFA1 AAFA3 AAFA1";
    QTest::newRow("several ports, read into a folder")
        << QStringList{"-p", "{port}", "-p", "{port2}", "read", "{dir}/fleet"} << none << good << 0
        << "{port2}: ok, model NM450, version V2.13, saved to {dir}/fleet/dev-pts-*"
        << ""
        << "AAFAA AAFA1";
    QTest::newRow("several ports --json, silent and differing")
        << QStringList{"--json", "-p", "{port}", "-p", "{port2}", "verify", "{file}"} << changed
        << Faults{.reply = ReplyFault::Silent} << 5
        << "json:status=5 ; command=verify ; ports/0/outcome=no module ; ports/0/status=4 ; "
           "ports/1/port={port2} ; ports/1/device={port2} ; ports/1/model=NM450 ; "
           "ports/1/outcome=differs ; ports/1/differences/1/setting=channel 3 receive frequency "
           "; ports/1/differences/1/file=460.5000 ; ports/1/differences/1/module=452.1250"
        << ": no module: the module did not answer"
        << "AAFAA";
    QTest::newRow("detect --json")
        << QStringList{"--json", "-p", "{port}", "detect"} << none << good << 0
        << "json:status=0 ; ports/0/outcome=ok ; ports/0/version=V2.13"
        << ""
        << "AAFAA";
    QTest::newRow("write --json, file error")
        << QStringList{"--json", "-p", "{port}", "write", "{file}"} << broken << good << 3
        << "json:status=3 ; command=write ; message={file}: has errors, so nothing was sent or "
           "changed:\n  line 12: transmit frequency '45O.1250' is not a frequency (three "
           "digits, a point and four digits, e.g. 450.1250)"
        << "line 12: transmit frequency"
        << "";
    QTest::newRow("detect --trace")
        << QStringList{"--trace", "-p", "{port}", "detect"} << none << good << 0 << "model NM450"
        << " {port} > 41 41 46 41 41  |AAFAA|"
        << "AAFAA";
    QTest::newRow("volume, module stops answering")
        << port + QStringList{"volume", "3"} << none << Faults{.answerLimit = 1} << 6 << ""
        << ": setting the volume failed: the module did not answer; sent, not acknowledged: the "
           "volume is unknown, set it again with: nmct-cli -p {port} volume 3\n"
        << "AAFAA AAFA4";
    QTest::newRow("export-csv onto its own input, by a link")
        << QStringList{"export-csv", "{file}", "{dir}/alias"} << changed << good << 2 << "format 1"
        << "{dir}/alias is the parameter file the table is made from; nothing was written"
        << "";
    QTest::newRow("export-csv to /dev/stdout") << QStringList{"export-csv", "{file}", "/dev/stdout"}
                                               << changed << good << 0 << "3,460.0000,460.5000\r"
                                               << ""
                                               << "";
    QTest::newRow("ports --json") << QStringList{"--json", "ports"} << none << good << 0
                                  << "json:command=ports ; status=0"
                                  << ""
                                  << "";
    QTest::newRow("ports") << QStringList{"ports"} << none << good << 0
                           << "Port names and where they lead:"
                           << ""
                           << "";
    // The user's port map: COM names lead to devices and network ports without root.
    QTest::newRow("ports assign, the map written")
        << QStringList{"ports", "assign", "com7", "{port}"} << none << good << 0 << "COM7  {port}"
        << ""
        << "";
    QTest::newRow("ports assign keeps the map's other lines")
        << QStringList{"{map}", "ports", "assign", "COM7", "{port}"}
        << QByteArray("# the bench by the window\nCOM8 /dev/null\n") << good << 0
        << "# the bench by the window"
        << ""
        << "";
    QTest::newRow("a COM name through the map")
        << QStringList{"{map}", "-p", "COM7", "detect"} << QByteArray("COM7 {port}\n") << good << 0
        << "model NM450"
        << ""
        << "AAFAA";
    QTest::newRow("a map line that cannot be read leads nowhere")
        << QStringList{"{map}", "-p", "COM7", "detect"} << QByteArray("COM7 {port}\nCOM8 nowhere\n")
        << good << 4 << ""
        << "COM7 leads nowhere while the port map cannot be read: {dir}/config/nmct/ports: line "
           "2: 'nowhere' is neither a device path"
        << "";
    QTest::newRow("a batch behind a map that cannot be read")
        << QStringList{"{map}", "-p", "COM7", "-p", "COM9", "detect"}
        << QByteArray("COM7 {port}\nCOM8 nowhere\n") << good << 4 << ""
        << "COM9 leads nowhere while the port map cannot be read"
        << "";
    // Modules on other machines, through ser2net on this one.
    QTest::newRow("detect through RFC 2217")
        << QStringList{"{rfc2217}", "-p", "{port}", "detect"} << none << good << 0 << "model NM450"
        << ""
        << "AAFAA";
    QTest::newRow("read through a raw accepter") << QStringList{"{tcp}", "-p", "{port}", "read"}
                                                 << none << good << 0 << "rx-tone  CDCSS 031N"
                                                 << ""
                                                 << "AAFAA AAFA1";
    for (const char *accepter : {"{rfc2217}", "{tcp}"})
        QTest::newRow(qPrintable(QString("write and read back through ") + accepter))
            << QStringList{accepter, "-p", "{port}", "write", "{file}"} << changed << good << 0
            << "written and verified"
            << ""
            << "AAFAA AAFA1 AAFA3 AAFA1";
    QTest::newRow("a batch over two network ports and a local one")
        << QStringList{"{rfc2217}", "-p",      "{port}", "-p",         "{port2}",
                       "-p",        "{port3}", "read",   "{dir}/fleet"}
        << none << good << 0
        << "{port}: ok, model NM450, version V2.13, saved to {dir}/fleet/rfc2217---127.0.0.1-*"
        << ""
        << "AAFAA AAFA1";
    // The connection drops while the tool waits for the write's acknowledgement.
    QTest::newRow("ser2net stopped in the middle of a write")
        << QStringList{"{ser2net stops}", "-p", "{port}", "write", "{file}"} << changed
        << Faults{.answerLimit = 2} << 6 << "backup {dir}/state/nmct/backups/*"
        << ": writing failed: the module did not answer; sent, not acknowledged: the module's "
           "settings are unknown, check them with: nmct-cli -p {port} verify {file}\n"
        << "AAFAA AAFA1 AAFA3";
    QTest::newRow("nothing listening on the network port")
        << QStringList{"-p", "tcp://127.0.0.1:{free}", "detect"} << none << good << 4 << ""
        << "nmct-cli: no module: tcp://127.0.0.1:{free} could not be opened: Connection "
           "refused.\nNothing takes connections on that port of the host"
        << "";
    QTest::newRow("a host name that does not resolve")
        << QStringList{"-p", "rfc2217://bench-4..invalid:3001", "detect"} << none << good << 4 << ""
        << "nmct-cli: no module: rfc2217://bench-4..invalid:3001 could not be opened: Name or "
           "service not known.\nThe host's name is not known here"
        << "";
    QTest::newRow("one network port under two names")
        << QStringList{"{map}", "-p", "COM7", "-p", "tcp://127.0.0.1:{free}", "detect"}
        << QByteArray("COM7 tcp://127.0.0.1:{free}\n") << good << 2 << ""
        << "COM7 and tcp://127.0.0.1:{free} are the same device; give each port once"
        << "";
    QTest::newRow("ports unassign")
        << QStringList{"{map}", "ports", "unassign", "COM7"} << QByteArray("COM7 {port}\n") << good
        << 0 << "COM7 leads where the system names it: /dev/ttyS6"
        << ""
        << "";
}

void TestCli::command()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, file);
    QFETCH(Faults, faults);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, error);
    QFETCH(QString, wire);

    const QString surroundings = arguments.first().startsWith('{') ? arguments.takeFirst() : "";
    nmct::modsim::Options options{.pacing = false};
    if (surroundings == "{hello}")
        options.identity = "HELLO";
    ModuleSimulator module(options);
    module.SetFaults(faults);
    ModuleSimulator second({.pacing = false});
    QString port = QString::fromStdString(module.SlavePath());
    QString port2 = QString::fromStdString(second.SlavePath());
    std::unique_ptr<ModuleSimulator> third;
    std::unique_ptr<Ser2net> server;
    if (surroundings == "{rfc2217}" || surroundings == "{tcp}" ||
        surroundings == "{ser2net stops}") {
        if (!Ser2net::Installed())
            QSKIP(Ser2net::Missing);
        const bool rfc2217 = surroundings != "{tcp}";
        server = std::make_unique<Ser2net>(std::vector<Ser2netLine>{
            {module.SlavePath(), rfc2217}, {second.SlavePath(), !rfc2217}});
        QVERIFY2(server->Started(), server->Log().c_str());
        port = QString::fromStdString(server->Url(0));
        port2 = QString::fromStdString(server->Url(1));
        third = std::make_unique<ModuleSimulator>(nmct::modsim::Options{.pacing = false});
    }
    const QString free = QString::number(Ser2net::FreePort());
    QTemporaryDir folder;
    const QString path = folder.filePath(arguments.contains("-x") ? "-x" : "site.nmct");
    const QString map = folder.filePath("config/nmct/ports");
    const auto place = [&](QString text) {
        if (third)
            text.replace("{port3}", QString::fromStdString(third->SlavePath()));
        return text.replace("{port2}", port2)
            .replace("{port}", port)
            .replace("{file}", path)
            .replace("{dir}", folder.path())
            .replace("{free}", free);
    };
    if (surroundings == "{map}") {
        QVERIFY(QDir(folder.path()).mkpath("config/nmct"));
        const QByteArray text = place(QString::fromUtf8(file)).toUtf8();
        QFile written(map);
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write(text) == text.size());
    } else if (!file.isEmpty()) {
        QFile written(path);
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write(file) == file.size());
    }
    QVERIFY(QFile::link(path, folder.filePath("alias")));
    QVERIFY(QFile::link(QString::fromStdString(module.SlavePath()), folder.filePath("COM60")));
    for (QString &argument : arguments)
        argument = place(argument);

    QProcess cli;
    QProcess endless;
    if (surroundings == "{endless}") {
        endless.setStandardOutputProcess(&cli);
        endless.start("yes", {});
    }
    cli.setChildProcessModifier([surroundings] {
        if (surroundings == "{closed}")
            ::close(STDOUT_FILENO);
        if (surroundings == "{stdout full}")
            ::dup2(::open("/dev/full", O_WRONLY), STDOUT_FILENO);
        if (surroundings == "{full}") {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit none{0, 0};
            ::setrlimit(RLIMIT_FSIZE, &none);
        }
    });
    // Backups go to the test's folder, never to the user's.
    cli.setEnvironment(QProcess::systemEnvironment().filter(
                           QRegularExpression("^(?!NMCT_PORT=|XDG_STATE_HOME=|XDG_CONFIG_HOME=)"))
                       << "XDG_STATE_HOME=" + folder.filePath("state")
                       << "XDG_CONFIG_HOME=" + folder.filePath("config"));
    cli.setWorkingDirectory(folder.path());
    std::atomic<bool> finished{false};
    std::thread stopper([&] {
        if (surroundings != "{ser2net stops}")
            return;
        while (!finished && !module.WaitForCommands(3, std::chrono::milliseconds(50))) {
        }
        if (!finished)
            server->Stop();
    });
    cli.start(NMCT_CLI, arguments);
    const bool ended = cli.waitForFinished(20000);
    finished = true;
    stopper.join();
    QVERIFY(ended);
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == status,
             qPrintable(QString("exit %1, stderr: %2").arg(cli.exitCode()).arg(err)));
    QString lines = out;
    for (const QString &written : {path, map}) {
        QFile saved(written);
        if (saved.open(QIODevice::ReadOnly))
            lines += saved.readAll();
    }
    QVERIFY2(output.isEmpty() || OutputHas(out, lines, place(output)), qPrintable(lines));
    // A backup the run told of is there, whatever happened after it.
    for (const QString &line : out.split('\n'))
        if (line.startsWith("backup "))
            QVERIFY2(QFile::exists(line.mid(7)), qPrintable(line));
    QVERIFY2(err.contains(place(error)), qPrintable(err));
    QVERIFY2(error.isEmpty() == err.isEmpty(), qPrintable(err));

    QStringList commands;
    for (const std::string &command : module.ReceivedCommands())
        commands << QString::fromStdString(command.substr(0, 5));
    QCOMPARE(commands.join(' '), wire);
    if (status == 0 && wire.contains("AAFA3"))
        QCOMPARE(QByteArray(module.StoredRecord().data() + 38, 17), "460.0000,460.5000");
}

// The backup a write leaves, written back, gives the module exactly what it held.
void TestCli::backupRestoresTheModule()
{
    ModuleSimulator module({.pacing = false});
    const QString port = QString::fromStdString(module.SlavePath());
    QTemporaryDir folder;
    const auto file = [&folder](const QString &name, const QByteArray &text) {
        QFile written(folder.filePath(name));
        return written.open(QIODevice::WriteOnly) && written.write(text) == text.size()
                   ? written.fileName()
                   : QString();
    };
    const auto run = [](const QStringList &arguments) {
        QProcess cli;
        cli.start(NMCT_CLI, arguments);
        return cli.waitForFinished(20000) && cli.exitStatus() == QProcess::NormalExit
                   ? cli.exitCode()
                   : -1;
    };
    // The module holds neither the factory settings nor the file about to be written.
    ParamRecord record;
    MakeDefaultParams(record);
    ModuleSettings held = SettingsFromRecord(record).settings;
    held.channels[0] = {"440.1250", "441.2500"};
    held.txTone = 12;
    held.squelch = "7";
    const QString heldFile = file("held.nmct", QByteArray::fromStdString(WriteParamFile(held)));
    QCOMPARE(run({"--no-backup", "-p", port, "write", heldFile}), 0);
    const nmct::modsim::Record before = module.StoredRecord();

    const QString backups = folder.filePath("backups");
    QCOMPARE(run({"--backup-dir", backups, "-p", port, "write", file("site.nmct", ChangedFile())}),
             0);
    QVERIFY(module.StoredRecord() != before);
    const QStringList saved = QDir(backups).entryList(QDir::Files);
    QCOMPARE(saved.size(), 1);
    QVERIFY2(QRegularExpression("^dev-pts-[0-9]+_NM450_V2\\.13_[0-9]{8}T[0-9]{6}\\.[0-9]{3}Z"
                                "\\.nmct$")
                 .match(saved[0])
                 .hasMatch(),
             qPrintable(saved[0]));
    QCOMPARE(run({"--no-backup", "-p", port, "write", QDir(backups).filePath(saved[0])}), 0);
    QVERIFY(module.StoredRecord() == before);
}

QTEST_MAIN(TestCli)
#include "test_cli.moc"
