// The record layout, tone codes, the integer conversion and the commands, checked against
// values written out by hand.

#include <QTest>

#include <algorithm>

#include "protocol/Commands.h"
#include "protocol/Conversion.h"
#include "protocol/ParamFile.h"
#include "protocol/ParamRecord.h"
#include "protocol/ToneCode.h"
#include "tests/support/KnownRecords.h"

using namespace std::string_literals;

namespace {

using known::DefaultSetCommand;

// The factory record as a parameter file, written out by hand.
const QByteArray FactoryFile =
    "# Radio module parameters. Edit with care: every line is checked before\n"
    "# anything is sent. Frequencies in MHz; tones CTCSS 0-38 or CDCSS code.\n"
    "format 1\n"
    "\n"
    "# channel  transmit  receive\n"
    "channel 1   450.1250  450.1250\n"
    "channel 2   451.1250  451.1250\n"
    "channel 3   452.1250  452.1250\n"
    "channel 4   453.1250  453.1250\n"
    "channel 5   454.1250  454.1250\n"
    "channel 6   455.1250  455.1250\n"
    "channel 7   456.1250  456.1250\n"
    "channel 8   457.1250  457.1250\n"
    "channel 9   458.1250  458.1250\n"
    "channel 10  459.1250  459.1250\n"
    "channel 11  455.0250  455.0250\n"
    "channel 12  455.1250  455.1250\n"
    "channel 13  455.2250  455.2250\n"
    "channel 14  455.3250  455.3250\n"
    "channel 15  455.4250  455.4250\n"
    "channel 16  455.5250  455.5250\n"
    "\n"
    "tx-tone  CTCSS 11\n"
    "rx-tone  CDCSS 031N\n"
    "squelch  2\n";

QByteArray Edited(QByteArray text, const char *from, const char *to)
{
    return text.replace(from, to);
}

std::string CommandFrom(const ModuleSettings &settings)
{
    return BuildSetCommandText(SetValuesFromSettings(settings));
}

SetCommandValues ValuesOf(const ParamRecord &record)
{
    SetCommandValues values;
    for (int channel = 1; channel <= ParamRecord::ChannelCount; ++channel) {
        values.txFrequencies[static_cast<std::size_t>(channel - 1)] = record.TxFrequency(channel);
        values.rxFrequencies[static_cast<std::size_t>(channel - 1)] = record.RxFrequency(channel);
    }
    values.txTone = 11;
    values.rxTone = 125;
    values.squelch = "2";
    return values;
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void defaultRecordFrequencies_data();
    void defaultRecordFrequencies();
    void defaultRecordOtherBytes();
    void defaultRecordTouchesOnlyNamedBytes();

    void toneListItems();
    void selectionForCode_data();
    void selectionForCode();
    void toneCodeText_data();
    void toneCodeText();

    void conversion_data();
    void conversion();

    void setCommand();
    void setCommandLongSquelch();
    void volumeCommand();

    void identifySplit_data();
    void identifySplit();
    void readReplyShape_data();
    void readReplyShape();
    void okReply_data();
    void okReply();

    void paramFile_data();
    void paramFile();
    void paramFileFromRecord();
};

void TestProtocol::defaultRecordFrequencies_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("txPos");
    QTest::addColumn<int>("rxPos");
    QTest::addColumn<QByteArray>("frequency");
    int txPos = 2;
    for (int channel = 1; channel <= 16; ++channel, txPos += 18)
        QTest::addRow("channel %d", channel)
            << channel << txPos << txPos + 9 << QByteArray(known::FactoryFrequencies[channel - 1]);
}

void TestProtocol::defaultRecordFrequencies()
{
    QFETCH(int, channel);
    QFETCH(int, txPos);
    QFETCH(int, rxPos);
    QFETCH(QByteArray, frequency);

    ParamRecord record;
    MakeDefaultParams(record);
    QCOMPARE(int(ParamRecord::TxFrequencyPos(channel)), txPos);
    QCOMPARE(int(ParamRecord::RxFrequencyPos(channel)), rxPos);
    QCOMPARE(QByteArray(record.bytes.data() + txPos, 8), frequency);
    QCOMPARE(QByteArray(record.bytes.data() + rxPos, 8), frequency);
    QCOMPARE(record.bytes[std::size_t(txPos + 8)], '\0');
    QCOMPARE(record.bytes[std::size_t(rxPos + 8)], '\0');
}

void TestProtocol::defaultRecordOtherBytes()
{
    ParamRecord record;
    record.bytes.fill('#');
    MakeDefaultParams(record);
    QCOMPARE(QByteArray(record.bytes.data(), 2), QByteArray("AA"));
    QCOMPARE(QByteArray(record.bytes.data() + 290, 9), QByteArray("011\0"
                                                                  "125\0"
                                                                  "2",
                                                                  9));
    QCOMPARE(record.TxToneText(), "011"s);
    QCOMPARE(record.RxToneText(), "125"s);
    QCOMPARE(record.SquelchText(), "2"s);
}

void TestProtocol::defaultRecordTouchesOnlyNamedBytes()
{
    // Every byte is named by the default table, so a record filled with a marker keeps none
    // of it: 2 + 16 * 18 + 4 + 4 + 1 = 299.
    ParamRecord record;
    record.bytes.fill('#');
    MakeDefaultParams(record);
    QCOMPARE(std::count(record.bytes.begin(), record.bytes.end(), '#'), 0);
    QCOMPARE(std::count(record.bytes.begin(), record.bytes.end(), '\0'), 34);
}

void TestProtocol::toneListItems()
{
    const auto tx = TxCtcssItems();
    const auto rx = RxCtcssItems();
    QCOMPARE(int(tx.size()), 39);
    QCOMPARE(int(rx.size()), 39);
    QCOMPARE(tx.front(), "0 "s);
    QCOMPARE(tx[37], "37 "s);
    QCOMPARE(tx[38], "38"s);
    QCOMPARE(rx[37], "37 "s);
    QCOMPARE(rx[38], "38 "s);

    const auto cd = CdcssItems();
    QCOMPARE(int(cd.size()), 166);
    QCOMPARE(cd[0], "023I"s);
    QCOMPARE(cd[3], "031I"s);
    QCOMPARE(cd[82], "754I"s);
    QCOMPARE(cd[83], "023N"s);
    QCOMPARE(cd[86], "031N"s);
    QCOMPARE(cd[165], "754N"s);
}

void TestProtocol::selectionForCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("cdcss");
    QTest::addColumn<int>("position");
    QTest::newRow("ctcss 0") << 0 << false << 0;
    QTest::newRow("ctcss 11") << 11 << false << 11;
    QTest::newRow("last ctcss") << 38 << false << 38;
    QTest::newRow("first cdcss") << 39 << true << 0;
    QTest::newRow("031N") << 125 << true << 86;
    QTest::newRow("last cdcss") << 204 << true << 165;
    QTest::newRow("past the list") << 205 << true << 166;
}

void TestProtocol::selectionForCode()
{
    QFETCH(int, code);
    QFETCH(bool, cdcss);
    QFETCH(int, position);
    const ToneList list = cdcss ? ToneList::Cdcss : ToneList::Ctcss;
    QCOMPARE(SelectionForCode(code), (ToneSelection{list, position}));
    QCOMPARE(CodeForSelection(list, position), code);
}

void TestProtocol::toneCodeText_data()
{
    QTest::addColumn<bool>("cdcss");
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("ctcss 5") << false << 5 << QByteArray("005");
    QTest::newRow("ctcss 11") << false << 11 << QByteArray("011");
    QTest::newRow("cdcss 0") << true << 0 << QByteArray("039");
    QTest::newRow("cdcss 165") << true << 165 << QByteArray("204");
    QTest::newRow("ctcss none") << false << -1 << QByteArray("0-1");
    QTest::newRow("cdcss none") << true << -1 << QByteArray("038");
}

void TestProtocol::toneCodeText()
{
    QFETCH(bool, cdcss);
    QFETCH(int, position);
    QFETCH(QByteArray, text);
    const ToneCode code = CodeForSelection(cdcss ? ToneList::Cdcss : ToneList::Ctcss, position);
    QCOMPARE(QByteArray::fromStdString(ToneCodeText(code)), text);
}

void TestProtocol::conversion_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("error");
    QTest::newRow("three digits") << QByteArray("011") << true << 11 << QString();
    QTest::newRow("digits then zero byte") << QByteArray("11\0", 3) << true << 11 << QString();
    QTest::newRow("leading blanks") << QByteArray("  7") << true << 7 << QString();
    QTest::newRow("one digit") << QByteArray("9") << true << 9 << QString();
    QTest::newRow("three blanks") << QByteArray("   ") << false << 0
                                  << QString("'   ' is not a valid integer value");
    QTest::newRow("leading zero byte") << QByteArray("\0"
                                                     "12",
                                                     3)
                                       << false << 0 << QString("'' is not a valid integer value");
    QTest::newRow("letter behind digit")
        << QByteArray("1a") << false << 0 << QString("'1a' is not a valid integer value");
    QTest::newRow("empty") << QByteArray("") << false << 0
                           << QString("'' is not a valid integer value");
    QTest::newRow("trailing blank")
        << QByteArray("12 ") << false << 0 << QString("'12 ' is not a valid integer value");
    QTest::newRow("letters") << QByteArray("abc") << false << 0
                             << QString("'abc' is not a valid integer value");
    QTest::newRow("too large") << QByteArray("99999999999") << false << 0
                               << QString("'99999999999' is not a valid integer value");
}

void TestProtocol::conversion()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    QFETCH(QString, error);
    try {
        const int result = StrToInt(text.toStdString());
        QVERIFY2(valid, "conversion should have failed");
        QCOMPARE(result, value);
    } catch (const EConvertError &e) {
        QVERIFY2(!valid, e.what());
        QCOMPARE(QString::fromLatin1(e.what()), error);
    }
}

void TestProtocol::setCommand()
{
    ParamRecord record;
    MakeDefaultParams(record);
    const std::string command = BuildSetCommandText(ValuesOf(record));
    QCOMPARE(command, DefaultSetCommand);
    QCOMPARE(int(command.size()), 306);
    QVERIFY(std::none_of(command.begin(), command.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20; }));
    QCOMPARE(QByteArray::fromStdString(command.substr(302)), QByteArray("\x5c\x72\x5c\x6e"));
}

void TestProtocol::setCommandLongSquelch()
{
    ParamRecord record;
    MakeDefaultParams(record);
    SetCommandValues values = ValuesOf(record);
    values.squelch = "12";
    const std::string command = BuildSetCommandText(values);
    QCOMPARE(int(command.size()), 307);
    QCOMPARE(command.substr(293), "011,125,12\\r\\n"s);
}

void TestProtocol::volumeCommand()
{
    QCOMPARE(BuildVolumeCommand("3"), "AAFA43"s);
    QCOMPARE(BuildVolumeCommand(""), "AAFA4"s);
}

void TestProtocol::identifySplit_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("module"); // a module's identity, enough to send it changes
    QTest::newRow("model and version")
        << QByteArray("RM450_UHFV2.13") << QByteArray("RM450") << QByteArray("V2.13") << true;
    QTest::newRow("no underscore")
        << QByteArray("ABCDEFG") << QByteArray() << QByteArray("DEFG") << false;
    QTest::newRow("no underscore, short")
        << QByteArray("ABC") << QByteArray() << QByteArray() << false;
    QTest::newRow("underscore last")
        << QByteArray("RM450_") << QByteArray("RM450") << QByteArray() << false;
    QTest::newRow("underscore first")
        << QByteArray("_abcV1") << QByteArray() << QByteArray("V1") << false;
    QTest::newRow("only the first counts")
        << QByteArray("A_b_cdV_2") << QByteArray("A") << QByteArray("dV_2") << true;
    QTest::newRow("line noise in the version")
        << QByteArray("RM450_UHF\xb2\x13") << QByteArray("RM450") << QByteArray("\xb2\x13")
        << false;
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray() << false;
}

void TestProtocol::identifySplit()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, model);
    QFETCH(QByteArray, version);
    QFETCH(bool, module);
    const IdentifyReply parts = SplitIdentifyReply(reply.toStdString());
    QCOMPARE(QByteArray::fromStdString(parts.model), model);
    QCOMPARE(QByteArray::fromStdString(parts.version), version);
    QCOMPARE(IsModuleIdentity(parts), module);
}

void TestProtocol::readReplyShape_data()
{
    QTest::addColumn<int>("received"); // bytes, end bytes included
    QTest::addColumn<int>("odd");      // where a byte no record has stands (0: none)
    QTest::addColumn<QString>("fault");
    QTest::newRow("a record") << 301 << 0 << QString();
    QTest::newRow("cut short") << 252 << 0
                               << QString("the module's reply was cut short: 252 of 301 bytes");
    QTest::newRow("too long") << 340 << 0
                              << QString("the module's reply was too long: 340 bytes where 301 "
                                         "were expected");
    QTest::newRow("line noise") << 301 << 18
                                << QString("the module's reply holds a byte no record has: 0xA3 "
                                           "at byte 18 of 301");
}

void TestProtocol::readReplyShape()
{
    QFETCH(int, received);
    QFETCH(int, odd);
    QFETCH(QString, fault);
    ParamRecord record;
    MakeDefaultParams(record); // zero bytes between its fields, as a record may have
    if (odd > 0)
        record.bytes[static_cast<std::size_t>(odd - 1)] = '\xa3';
    QCOMPARE(QString::fromStdString(ReadReplyFault(record, static_cast<std::size_t>(received))),
             fault);
}

void TestProtocol::okReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::newRow("OK") << QByteArray("OK") << true;
    QTest::newRow("ok") << QByteArray("ok") << true;
    QTest::newRow("Ok") << QByteArray("Ok") << true;
    QTest::newRow("oK") << QByteArray("oK") << true;
    QTest::newRow("trailing blank") << QByteArray("OK ") << false;
    QTest::newRow("OKAY") << QByteArray("OKAY") << false;
    QTest::newRow("OK!") << QByteArray("OK!") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("O") << QByteArray("O") << false;
    QTest::newRow("zero byte inside") << QByteArray("O\0", 2) << false;
}

void TestProtocol::okReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    QCOMPARE(IsOkReply(reply.toStdString()), ok);
}

void TestProtocol::paramFile_data()
{
    // A good file gives its set command; a bad one its first error, from the start. A channel
    // table (CSV) takes the factory file's tones and squelch.
    QTest::addColumn<bool>("table");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("error");
    const QByteArray none;
    QTest::newRow("factory") << false << FactoryFile << QByteArray::fromStdString(DefaultSetCommand)
                             << QString();
    QByteArray edited = Edited(FactoryFile, "channel 3   452.1250  452.1250",
                               "\tChannel 3\t460.0000 460.5000 # repeater");
    edited = Edited(Edited(Edited(edited, "CTCSS 11", "ctcss 0"), "CDCSS 031N", "cdcss 023i"),
                    "squelch  2", "squelch 8");
    QTest::newRow("edited, BOM, CR LF, tabs, letter case")
        << false << "\xEF\xBB\xBF" + Edited(edited, "\n", "\r\n")
        << Edited(Edited(QByteArray::fromStdString(DefaultSetCommand), "452.1250,452.1250",
                         "460.0000,460.5000"),
                  "011,125,2", "000,039,8")
        << QString();
    QTest::newRow("CR-only line ends") << false << Edited(FactoryFile, "\n", "\r")
                                       << QByteArray::fromStdString(DefaultSetCommand) << QString();

    const struct
    {
        const char *name, *from, *to, *error;
    } bad[] = {
        {"letter in a frequency", "456.1250  456", "45O.1250  456",
         "line 12: transmit frequency '45O.1250' is not a frequency (three digits"},
        {"three decimals", "450.1250\n", "450.125\n",
         "line 6: receive frequency '450.125' is not a frequency"},
        {"channel 17", "channel 16", "channel 17",
         "line 21: channel '17' is not a channel number from 1 to 16"},
        {"channel 0", "channel 16", "channel 0", "line 21: channel '0' is not a channel number"},
        {"channel twice", "channel 2 ", "channel 1 ",
         "line 7: channel 1 is given again (first on line 6)"},
        {"channel missing", "channel 16  455.5250  455.5250\n", "", "channel 16 is missing"},
        {"frequency missing", "  455.5250\n", "\n",
         "line 21: a channel line needs the channel number, the transmit and the receive"},
        {"extra field", "455.5250\n\n", "455.5250 x\n\n",
         "line 21: unexpected 'x' after the receive frequency"},
        {"format 2", "format 1", "format 2",
         "line 3: format '2' is not one this program reads (it reads format 1)"},
        {"format not first", "format 1\n", "\n", "line 6: the file must start with 'format 1'"},
        {"unknown setting", "squelch  2", "squelsh 2",
         "line 25: 'squelsh' is not a setting (format, channel, tx-tone, rx-tone or squelch)"},
        {"CTCSS past its list", "CTCSS 11", "CTCSS 39",
         "line 23: transmit tone 'CTCSS 39' is not a tone (CTCSS 0 to 38"},
        {"CDCSS code not in the list", "CDCSS 031N", "CDCSS 030N",
         "line 24: receive tone 'CDCSS 030N' is not a tone"},
        {"CDCSS without I or N", "CDCSS 031N", "CDCSS 031", "line 24: receive tone 'CDCSS 031'"},
        {"tone given twice", "rx-tone", "tx-tone",
         "line 24: the transmit tone is given again (first on line 23)"},
        {"squelch 9", "squelch  2", "squelch 9", "line 25: squelch '9' is not a level from 0 to 8"},
        {"squelch missing", "squelch  2\n", "", "the squelch is missing"},
        {"not UTF-8", "# channel", "# \xff channel", "line 5: not UTF-8 text"},
        {"control characters quoted", "squelch  2", "squelch \x1b[2J",
         "line 25: squelch '<U+001B>[2J' is not a level"},
        {"no-break space shown", "channel 2 ",
         "channel\xC2\xA0"
         "2 ",
         "line 7: 'channel<U+00A0>2' is not a setting"},
        {"zero-width space shown", "456.1250  456", "456.1250\xE2\x80\x8B  456",
         "line 12: transmit frequency '456.1250<U+200B>' is not a frequency"},
    };
    for (const auto &row : bad)
        QTest::newRow(row.name) << false << Edited(FactoryFile, row.from, row.to) << none
                                << QString(row.error);
    QByteArray csv = "channel;transmit MHz;receive MHz\r\n";
    for (int channel = 16; channel >= 1; --channel)
        csv += QByteArray::number(channel) + ";\"455.5250\";455.525\r\n";
    const QByteArray sameChannels =
        "AAFA3" + QByteArray("455.5250,455.5250,").repeated(16) + "011,125,2\\r\\n";
    QTest::newRow("spreadsheet table: ';', quotes, shortened numbers")
        << true << csv << sameChannels << QString();
    QTest::newRow("table, whole MHz")
        << true << Edited(csv, "16;\"455.5250\";455.525", "16;455.5250;455")
        << Edited(sameChannels, "455.5250,455.5250,011", "455.5250,455.0000,011") << QString();
    QTest::newRow("table, bad frequency")
        << true << Edited(csv, "\n3;\"455.5250\"", "\n3;45O.5") << none
        << QString("line 15: transmit frequency '45O.5' is not a frequency");
    QTest::newRow("table, channel missing") << true << Edited(csv, "7;\"455.5250\";455.525\r\n", "")
                                            << none << QString("channel 7 is missing");
    QTest::newRow("table, channel twice")
        << true << Edited(csv, "\n2;", "\n1;") << none
        << QString("line 17: channel 1 is given again (first on line 16)");
    QTest::newRow("table, short row")
        << true << Edited(csv, "\n2;\"455.5250\";", "\n2;") << none
        << QString("line 16: a row needs the channel, the transmit and the receive frequency");
    QTest::newRow("table, BOM and no header")
        << true << "\xEF\xBB\xBF" + csv.mid(csv.indexOf('\n') + 1) << sameChannels << QString();
    QTest::newRow("table, decimal commas in a ';' table")
        << true << Edited(csv, "\"455.5250\";455.525", "455,5250;\"455,525\"") << sameChannels
        << QString();
    QTest::newRow("table, quoted decimal commas in a ',' table")
        << true << Edited(Edited(csv, ";", ","), "\"455.5250\",455.525", "\"455,5250\",\"455,525\"")
        << sameChannels << QString();
    QTest::newRow("table, decimal comma in a ';' table is not a separator")
        << true << Edited(csv, "\n1;\"455.5250\";455.525", "\n1;460,125") << none
        << QString("line 17: a row needs the channel, the transmit and the receive frequency");
    QTest::newRow("table, blank inside a number")
        << true << Edited(csv, "\n3;\"455.5250\"", "\n3;\"4 55.5250\"") << none
        << QString("line 15: transmit frequency '4 55.5250' is not a frequency");
    QTest::newRow("empty") << false << QByteArray("# nothing\n") << none
                           << QString("the file is empty: it must start with 'format 1'");
}

void TestProtocol::paramFile()
{
    QFETCH(bool, table);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, command);
    QFETCH(QString, error);
    ParamRecord factory;
    MakeDefaultParams(factory);
    const ModuleSettings rest = SettingsFromRecord(factory).settings;
    const SettingsResult read =
        table ? ReadChannelTable(file.toStdString(), rest) : ReadParamFile(file.toStdString());
    if (!error.isEmpty()) {
        QVERIFY(!read.Ok());
        const QString first = QString::fromStdString(read.errors.front());
        QVERIFY2(first.startsWith(error), qPrintable(first));
        return;
    }
    QVERIFY2(read.Ok(), read.errors.empty() ? "" : read.errors.front().c_str());
    QCOMPARE(QByteArray::fromStdString(CommandFrom(read.settings)), command);
    // Saved and loaded again, the settings send the same command.
    const SettingsResult reloaded = ReadParamFile(WriteParamFile(read.settings));
    QVERIFY(reloaded.Ok());
    QCOMPARE(QByteArray::fromStdString(CommandFrom(reloaded.settings)), command);
    const SettingsResult fromTable =
        ReadChannelTable(WriteChannelTable(read.settings), read.settings);
    QVERIFY(fromTable.Ok());
    QCOMPARE(QByteArray::fromStdString(CommandFrom(fromTable.settings)), command);
}

void TestProtocol::paramFileFromRecord()
{
    ParamRecord record;
    MakeDefaultParams(record);
    const SettingsResult factory = SettingsFromRecord(record);
    QVERIFY(factory.Ok());
    QCOMPARE(QByteArray::fromStdString(WriteParamFile(factory.settings)), FactoryFile);

    // Values the window could not show are refused, not saved.
    record.SetField(ParamRecord::TxTonePos, "abc");
    record.SetField(ParamRecord::TxFrequencyPos(2), std::string("45\0.1250", 8));
    const SettingsResult broken = SettingsFromRecord(record);
    QCOMPARE(broken.errors, (std::vector<std::string>{
                                "channel 2 transmit frequency '45<U+0000>.1250' is not a frequency",
                                "transmit tone code 'abc' is not a known tone"}));
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "test_protocol.moc"
