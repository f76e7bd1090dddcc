// nmct-cli as a script runs it: the real program against the simulated module on a
// pseudo-terminal, its exit status, what it prints, and what reached the module.

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "protocol/ParamFile.h"
#include "tools/modsim/ModuleSimulator.h"

using nmct::modsim::Faults;
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

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void command_data();
    void command();
};

void TestCli::command_data()
{
    // "{port}" stands for the module's line, "{file}" for a file holding `file`, "{dir}" for
    // its folder. A first argument in braces sets the program's surroundings: "{endless}"
    // endless standard input, "{closed}" standard output closed, "{full}" a file system that
    // takes no more bytes (a file size limit).
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
        << "volume '5' is not a level from 0 to 4"
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
    QTest::newRow("read to a file") << port + QStringList{"read", "{file}"} << none << good << 0
                                    << "channel 3   452.1250  452.1250"
                                    << ""
                                    << "AAFAA AAFA1";
    QTest::newRow("read, tone the file cannot hold")
        << port + QStringList{"read"} << none << Faults{.badToneCode = true} << 6 << ""
        << "transmit tone code 'abc' is not a known tone"
        << "AAFAA AAFA1";
    QTest::newRow("write, read back")
        << port + QStringList{"write", "{file}"} << changed << good << 0 << ""
        << ""
        << "AAFAA AAFA3 AAFA1";
    QTest::newRow("write --no-verify")
        << port + QStringList{"write", "--no-verify", "{file}"} << changed << good << 0 << ""
        << ""
        << "AAFAA AAFA3";
    QTest::newRow("write, refused")
        << port + QStringList{"write", "{file}"} << changed << Faults{.okText = "NO"} << 6 << ""
        << ": writing failed: the module's reply was not OK; its state is unknown (check it "
           "with 'nmct-cli verify FILE'"
        << "AAFAA AAFA3";
    QTest::newRow("write, endless input")
        << QStringList{"{endless}", "write", "-"} << none << good << 3 << ""
        << "standard input: too large (more than 1048576 bytes"
        << "";
    QTest::newRow("write, a folder as the file")
        << port + QStringList{"write", "{dir}"} << none << good << 3 << ""
        << "{dir}: cannot be read: Is a directory"
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
    QTest::newRow("default") << port + QStringList{"default"} << none << good << 0 << ""
                             << ""
                             << "AAFAA AAFA2";
    QTest::newRow("volume, module stops answering")
        << port + QStringList{"volume", "3"} << none << Faults{.answerLimit = 1} << 6 << ""
        << ": setting the volume failed: the module did not answer"
        << "AAFAA AAFA4";
    QTest::newRow("export-csv to /dev/stdout") << QStringList{"export-csv", "{file}", "/dev/stdout"}
                                               << changed << good << 0 << "3,460.0000,460.5000\r"
                                               << ""
                                               << "";
    QTest::newRow("ports") << QStringList{"ports"} << none << good << 0
                           << "Port names and the devices they open:"
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

    nmct::modsim::ModuleSimulator module({.pacing = false});
    module.SetFaults(faults);
    QTemporaryDir folder;
    const QString path = folder.filePath("site.nmct");
    if (!file.isEmpty()) {
        QFile written(path);
        QVERIFY(written.open(QIODevice::WriteOnly) && written.write(file) == file.size());
    }
    arguments.replaceInStrings("{port}", QString::fromStdString(module.SlavePath()));
    arguments.replaceInStrings("{file}", path);
    arguments.replaceInStrings("{dir}", folder.path());
    const QString surroundings = arguments.first().startsWith('{') ? arguments.takeFirst() : "";

    QProcess cli;
    QProcess endless;
    if (surroundings == "{endless}") {
        endless.setStandardOutputProcess(&cli);
        endless.start("yes", {});
    }
    cli.setChildProcessModifier([surroundings] {
        if (surroundings == "{closed}")
            ::close(STDOUT_FILENO);
        if (surroundings == "{full}") {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit none{0, 0};
            ::setrlimit(RLIMIT_FSIZE, &none);
        }
    });
    cli.setEnvironment(QProcess::systemEnvironment().filter(QRegularExpression("^(?!NMCT_PORT=)")));
    cli.start(NMCT_CLI, arguments);
    QVERIFY(cli.waitForFinished(20000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == status,
             qPrintable(QString("exit %1, stderr: %2").arg(cli.exitCode()).arg(err)));
    QFile saved(path);
    const QString lines = out + (saved.open(QIODevice::ReadOnly) ? saved.readAll() : "");
    QVERIFY2(output.isEmpty() || lines.split('\n').contains(output), qPrintable(lines));
    QVERIFY2(err.contains(QString(error).replace("{file}", path).replace("{dir}", folder.path())),
             qPrintable(err));
    QVERIFY2(error.isEmpty() == err.isEmpty(), qPrintable(err));

    QStringList commands;
    for (const std::string &command : module.ReceivedCommands())
        commands << QString::fromStdString(command.substr(0, 5));
    QCOMPARE(commands.join(' '), wire);
    if (status == 0 && wire.contains("AAFA3"))
        QCOMPARE(QByteArray(module.StoredRecord().data() + 38, 17), "460.0000,460.5000");
}

QTEST_MAIN(TestCli)
#include "test_cli.moc"
