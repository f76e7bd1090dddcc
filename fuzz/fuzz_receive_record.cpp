// A chunk received from the module, taken as the read operation takes it: the link keeps the
// chunk without its last two bytes, the reply is copied into a fresh parameter record, and the
// window shows the record; the command line judges the reply's shape before its settings. A tone
// code or squelch field that is not a number ends in the conversion error box; that is an expected
// outcome, not a finding.
//
// Input: the chunk itself, 1 to InputLen bytes (longer inputs are cut to InputLen, as the
// component never delivers more in one chunk).

#include "fuzz/FuzzSupport.h"
#include "fuzz/WindowSupport.h"

#include "link/UComm.h"
#include "protocol/Commands.h"
#include "protocol/ParamFile.h"
#include "protocol/ParamRecord.h"
#include "tests/support/Seams.h"
#include "widgets/ErrorBox.h"
#include "widgets/FrequencyEdit.h"

#include <QCheckBox>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

void CheckFrequencyFields(const TfrmMain &window)
{
    for (int i = 0; i < TfrmMain::ChannelCount; ++i) {
        for (const FrequencyEdit *field :
             {Control<FrequencyEdit>(window, QStringLiteral("MEdChannel%1").arg(i + 1)),
              Control<FrequencyEdit>(window, QStringLiteral("MEDRChannel%1").arg(i + 1))}) {
            const QByteArray shown = field->EditText();
            FUZZ_CHECK(shown.size() <= FrequencyEdit::Length);
            FUZZ_CHECK(!shown.contains('\0'));
            FUZZ_CHECK(field->text() == QString::fromLatin1(shown));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::Window();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    TfrmMain &window = fuzz::Window();
    window.LoadDefaults();
    fuzz::ClearErrorBoxes();
    TKVComm &link = LinkOf(window);

    // The component hands over a copy of the chunk followed by one zero byte.
    const std::size_t length = std::min<std::size_t>(size, TKVComm::InputLen);
    std::vector<char> chunk(data, data + length);
    chunk.push_back('\0');
    link.CommReceiveData(&link.Comm(), chunk.data(), static_cast<std::uint16_t>(length));

    // The reply is the chunk without its last two bytes; an empty one leaves the text alone.
    const std::string reply = length > 2 ? std::string(chunk.data(), length - 2) : std::string();
    std::string text = "before";
    link.GetReplyText(text);
    FUZZ_CHECK(text == (reply.empty() ? std::string("before") : reply));

    RunGuarded([&] {
        ParamRecord record;
        link.GetReplyRecord(record);
        // The reply fills the record from its start; the rest keeps its zero bytes, and an
        // empty reply zero-fills it.
        const std::size_t copied = std::min(reply.size(), ParamRecord::Size);
        FUZZ_CHECK(std::memcmp(record.bytes.data(), reply.data(), copied) == 0);
        FUZZ_CHECK(std::all_of(record.bytes.begin() + static_cast<std::ptrdiff_t>(copied),
                               record.bytes.end(), [](char c) { return c == '\0'; }));
        window.ShowParams(record);
    });

    // The command line's read: the reply's shape is judged first, and only a record's shape is
    // read as settings.
    FUZZ_CHECK(link.ReplyBytes() == length);
    ParamRecord record;
    link.GetReplyRecord(record);
    const bool recordBytes = std::all_of(record.bytes.begin(), record.bytes.end(), [](char c) {
        return c == '\0' || (c >= 0x20 && c < 0x7f);
    });
    const std::string fault = ReadReplyFault(record, link.ReplyBytes());
    FUZZ_CHECK(fault.empty() == (length == ReadReplySize && recordBytes));
    if (fault.empty())
        SettingsFromRecord(record);

    const fuzz::ErrorBoxes &boxes = fuzz::ShownErrorBoxes();
    FUZZ_CHECK(boxes.count <= 1);
    if (boxes.count == 1) {
        FUZZ_CHECK(boxes.lastText.startsWith(QLatin1Char('\'')));
        FUZZ_CHECK(boxes.lastText.endsWith(QLatin1String("' is not a valid integer value.")));
    }
    CheckFrequencyFields(window);
    // Exactly one box of each pair is checked, whatever the record held.
    FUZZ_CHECK(Control<QCheckBox>(window, "CheckBox1")->isChecked() !=
               Control<QCheckBox>(window, "CheckBox2")->isChecked());
    FUZZ_CHECK(Control<QCheckBox>(window, "CheckBox3")->isChecked() !=
               Control<QCheckBox>(window, "CheckBox4")->isChecked());
    return 0;
}
