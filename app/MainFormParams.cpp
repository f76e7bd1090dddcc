// Showing a parameter record on the controls and assembling the set command from them.

#include "app/UMainForm.h"

#include "session/Latin1.h"
#include "widgets/FormControls.h"

#include "protocol/Commands.h"
#include "protocol/Conversion.h"
#include "protocol/ParamFile.h"
#include "protocol/ToneCode.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QCheckBox>

#include <stdexcept>

namespace {

// One direction's tone controls: the two selectors and the pair of check boxes.
struct ToneControls
{
    QComboBox *ctcss;
    QComboBox *cdcss;
    QCheckBox *ctcssBox;
    QCheckBox *cdcssBox;
};

void ShowTone(ToneCode code, const ToneControls &controls)
{
    const ToneSelection selection = SelectionForCode(code);
    const bool cdcss = selection.list == ToneList::Cdcss;
    // A position outside the list leaves the selector with no item.
    (cdcss ? controls.cdcss : controls.ctcss)->setCurrentIndex(selection.position);
    controls.ctcssBox->setChecked(!cdcss);
    controls.cdcssBox->setChecked(cdcss);
}

ToneCode SelectedTone(const ToneControls &controls, const char *refusal)
{
    // The CTCS box alone decides which list is sent.
    const bool ctcss = controls.ctcssBox->isChecked();
    const QComboBox *list = ctcss ? controls.ctcss : controls.cdcss;
    // Typed text that begins no item, or a read code past the list: any code sent would differ
    // from what the selector shows.
    if (list->currentIndex() < 0) {
        const QString name = (ctcss ? controls.ctcssBox : controls.cdcssBox)->text();
        throw std::runtime_error(QStringLiteral("%1: \"%2\" is not in the list; %3")
                                     .arg(name, list->currentText(), QLatin1String(refusal))
                                     .toStdString());
    }
    return CodeForSelection(ctcss ? ToneList::Ctcss : ToneList::Cdcss, list->currentIndex());
}

} // namespace

void TfrmMain::ShowParams(ParamRecord record)
{
    recordShown = false; // until all of it is shown
    const ShownRecord shown = ReadShownRecord(record);
    ShowSettingsUpTo(shown.settings, shown.lastRead);
    if (shown.error)
        throw *shown.error;
    recordShown = true;
}

void TfrmMain::ShowSettings(const ModuleSettings &settings)
{
    ShowSettingsUpTo(settings, ShownRecord::Squelch);
    recordShown = true;
}

void TfrmMain::ShowSettingsUpTo(const ModuleSettings &settings, ShownRecord::Part last)
{
    for (std::size_t i = 0; i < ChannelCount; ++i) {
        MEdChannel[i]->SetText(QByteArray::fromStdString(settings.channels[i].tx));
        MEDRChannel[i]->SetText(QByteArray::fromStdString(settings.channels[i].rx));
    }
    if (last >= ShownRecord::TxTone)
        ShowTone(settings.txTone, {CbxTxCT, CbxTxCD, CheckBox1, CheckBox2});
    if (last >= ShownRecord::RxTone)
        ShowTone(settings.rxTone, {CbxRxCT, CbxRxCD, CheckBox3, CheckBox4});
    // A level past the list leaves the selector with no item.
    if (last >= ShownRecord::Squelch)
        CbxSQ->setCurrentIndex(StrToInt(settings.squelch));
}

void TfrmMain::LoadDefaults()
{
    ParamRecord record;
    MakeDefaultParams(record);
    ShowParams(record);
    recordShown = false;
}

std::string TfrmMain::BuildSetCommand() const
{
    return BuildSetCommandText(SetValuesFromSettings(ShownSettings()));
}

ModuleSettings TfrmMain::ShownSettings(const char *refusal) const
{
    ModuleSettings settings;
    for (std::size_t i = 0; i < ChannelCount; ++i)
        settings.channels[i] = {MEdChannel[i]->EditText().toStdString(),
                                MEDRChannel[i]->EditText().toStdString()};
    settings.txTone = SelectedTone({CbxTxCT, CbxTxCD, CheckBox1, CheckBox2}, refusal);
    settings.rxTone = SelectedTone({CbxRxCT, CbxRxCD, CheckBox3, CheckBox4}, refusal);
    settings.squelch = Latin1Bytes(CbxSQ->currentText());
    return settings;
}
