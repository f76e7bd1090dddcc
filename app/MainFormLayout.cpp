// The window's make-up: every control with its place, size, caption, font and colours. Places
// are pixels relative to the parent, as left, top, width, height.

#include "app/FormColors.h"
#include "app/RawPicture.h"
#include "app/UMainForm.h"
#include "app/WindowFonts.h"
#include "widgets/FormControls.h"

#include "protocol/ToneCode.h"
#include "widgets/CircleShape.h"
#include "widgets/ErrorBox.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>

#include <vector>

namespace {

// The invented vendor shown in the branding area.
const QString CompanyNameChinese = QStringLiteral("示例无线电子有限公司");
const QString CompanyNameEnglish = QStringLiteral("Example Radio Electronics Co., Ltd.");
const QString WebAddress = QStringLiteral("example.com");
const QString Telephone = QStringLiteral("TEL:000-5550123");
const QString StoreCaption = QStringLiteral("网上商店：");
const QString StoreAddress = QStringLiteral("shop.example.com");

constexpr int SmallTextHeight = 13; // the window's own font and most labels

template <typename Control> Control *Place(Control *control, const char *name, const QRect &place)
{
    control->setObjectName(QLatin1String(name));
    control->setGeometry(place);
    return control;
}

QLabel *MakeLabel(QWidget *parent, const char *name, const QRect &place, const QString &text)
{
    auto *label = Place(new QLabel(text, parent), name, place);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A label as wide and high as its text, at left, top.
QLabel *MakeAutoSizeLabel(QWidget *parent, const char *name, QPoint at, const QString &text,
                          const QFont &font)
{
    auto *label = MakeLabel(parent, name, QRect(at, QSize()), text);
    label->setFont(font);
    label->adjustSize();
    return label;
}

ClickLabel *MakeLinkLabel(QWidget *parent, const char *name, const QRect &place,
                          const QString &text)
{
    auto *label = Place(new ClickLabel(text, parent), name, place);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

QLabel *MakePicture(QWidget *parent, const char *name, QPoint at, const QString &resource)
{
    auto *picture = Place(new QLabel(parent), name, QRect(at, QSize()));
    picture->setPixmap(RawPicture(resource));
    picture->resize(picture->pixmap().size()); // the picture decides the size
    return picture;
}

QPushButton *MakeButton(QWidget *parent, const char *name, const QRect &place,
                        const QString &caption)
{
    auto *button = Place(new QPushButton(caption, parent), name, place);
    button->setAutoDefault(false);
    return button;
}

void SetColour(QWidget *control, QPalette::ColorRole role, const QColor &colour)
{
    QPalette colours = control->palette();
    colours.setColor(role, colour);
    control->setPalette(colours);
}

QLineEdit *MakeReadOnlyEdit(QWidget *parent, const char *name, const QRect &place)
{
    auto *edit = Place(new QLineEdit(parent), name, place);
    edit->setReadOnly(true);
    SetColour(edit, QPalette::Base, FormColor::ScrollBar);
    return edit;
}

// All at once: one insertion into the model instead of one per item.
template <typename Box> void AddItems(Box *box, const std::vector<std::string> &items)
{
    QStringList texts;
    texts.reserve(qsizetype(items.size()));
    for (const std::string &item : items)
        texts << QString::fromStdString(item);
    box->addItems(texts);
}

std::vector<std::string> NumberItems(int last)
{
    std::vector<std::string> items;
    for (int i = 0; i <= last; ++i)
        items.push_back(std::to_string(i));
    return items;
}

// The frequency grid of one panel: eight rows of two channels.
struct GridRow
{
    int leftChannel;
    int rightChannel;
    int labelTop;
    int fieldTop;
    int unitTop;
};

constexpr GridRow GridRows[] = {
    {1, 9, 14, 11, 13},     {2, 10, 55, 52, 54},    {3, 11, 96, 93, 95},    {4, 12, 137, 134, 136},
    {5, 13, 178, 175, 177}, {6, 14, 219, 216, 218}, {7, 15, 260, 257, 259}, {8, 16, 302, 299, 301},
};

struct GridColumn
{
    int labelLeft;
    int fieldLeft;
    int unitLeft;
};

constexpr GridColumn LeftColumn{8, 80, 140};
constexpr GridColumn RightColumn{197, 278, 339};
constexpr QSize FieldSize{58, 21};

// Builds the 16 fields of one panel with their labels; returns them in channel order.
std::array<FrequencyEdit *, TfrmMain::ChannelCount>
BuildFrequencyGrid(QWidget *panel, const char *fieldPrefix, const char *labelPrefix)
{
    std::array<FrequencyEdit *, TfrmMain::ChannelCount> fields{};
    const QFont labelFont = WindowFont(Face::MsSansSerif, SmallTextHeight, Bold);
    for (const GridRow &row : GridRows) {
        for (const auto &[channel, column] :
             {std::pair{row.leftChannel, LeftColumn}, std::pair{row.rightChannel, RightColumn}}) {
            const QString number = QString::number(channel);
            const QByteArray labelName = QByteArray(labelPrefix) + "Channel" + number.toLatin1();
            const QByteArray unitName = QByteArray(labelPrefix) + "MHz" + number.toLatin1();
            const QByteArray fieldName = QByteArray(fieldPrefix) + number.toLatin1();

            MakeAutoSizeLabel(panel, labelName.constData(), {column.labelLeft, row.labelTop},
                              QStringLiteral("Channel ") + number, labelFont);
            auto *field = Place(new FrequencyEdit(panel), fieldName.constData(),
                                QRect(QPoint(column.fieldLeft, row.fieldTop), FieldSize));
            field->setFrame(false);
            MakeAutoSizeLabel(panel, unitName.constData(), {column.unitLeft, row.unitTop},
                              QStringLiteral("MHz"), labelFont);
            fields[static_cast<std::size_t>(channel - 1)] = field;
        }
    }
    return fields;
}

} // namespace

void TfrmMain::BuildWindow()
{
    setObjectName(QStringLiteral("frmMain"));
    // A fixed dialog frame: close box only, no minimise or maximise box, not resizable.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);
    setWindowTitle(QString());
    setWindowIconText(ApplicationTitle); // where the desktop shows the window by name
    const QFont windowFont = WindowFont(Face::MsSansSerif, SmallTextHeight);
    setFont(windowFont);
    // The system window colour is the colour of a text area's background, not Qt's Window role.
    SetColour(this, QPalette::Window, palette().color(QPalette::Base));
    setAutoFillBackground(true);

    // A line edit lays its text out in the application's face before it takes its parent's;
    // while the controls are made that is the window's face, so no other face is loaded for it.
    const QFont applicationFont = QApplication::font();
    QApplication::setFont(windowFont);
    const auto restoreApplicationFont =
        qScopeGuard([&applicationFont] { QApplication::setFont(applicationFont); });

    BuildBranding();
    BuildIdentificationPanel();
    BuildPortPanel();
    BuildFrequencyPanels();
    BuildTonePanel();
    BuildButtons();
    BuildStatusBar();
    SetTabOrder();
}

void TfrmMain::BuildBranding()
{
    Image1 = MakePicture(this, "Image1", {128, 24}, QStringLiteral(":/images/logo.ppm"));

    Label42 = MakeLabel(this, "Label42", {312, 24, 403, 29}, CompanyNameChinese);
    Label42->setFont(WindowFont(Face::KaiTiGb2312, 29, Bold));
    Label43 = MakeLabel(this, "Label43", {328, 64, 328, 21}, CompanyNameEnglish);
    Label43->setFont(WindowFont(Face::MsSerif, 19));

    Label14 = MakeLinkLabel(this, "Label14", {784, 43, 125, 21}, WebAddress);
    Label14->setFont(WindowFont(Face::MsSerif, 19, Underline));
    SetColour(Label14, QPalette::WindowText, FormColor::Green);
    Label21 = MakeLabel(this, "Label21", {784, 72, 153, 16}, Telephone);
    Label21->setFont(WindowFont(Face::NSimSun, 16, Bold));
    SetColour(Label21, QPalette::WindowText, FormColor::Green);

    // The store link lies below the client area and is never shown.
    Label22 = MakeLabel(this, "Label22", {24, 600, 119, 16}, StoreCaption);
    Label22->setFont(WindowFont(Face::NSimSun, 16, Bold));
    SetColour(Label22, QPalette::WindowText, FormColor::Olive);
    Label22->hide();
    Label23 = MakeLinkLabel(this, "Label23", {144, 600, 243, 16}, StoreAddress);
    Label23->setFont(WindowFont(Face::NSimSun, 16, Bold | Underline));
    SetColour(Label23, QPalette::WindowText, FormColor::Navy);
    Label23->hide();

    Image4 = MakePicture(this, "Image4", {16, 160}, QStringLiteral(":/images/tx-heading.ppm"));
    Image2 = MakePicture(this, "Image2", {400, 160}, QStringLiteral(":/images/rx-heading.ppm"));
}

void TfrmMain::BuildIdentificationPanel()
{
    using Bevel = BevelPanel::Bevel;
    p1 = Place(new BevelPanel(this, FormColor::Panel, Bevel::None, Bevel::Lowered), "p1",
               {15, 114, 762, 39});
    const QFont labelFont = WindowFont(Face::MsSansSerif, SmallTextHeight, Bold);
    Label3 = MakeLabel(p1, "Label3", {8, 11, 44, 16}, QStringLiteral("Model"));
    Label3->setFont(labelFont);
    EdtModel = MakeReadOnlyEdit(p1, "EdtModel", {72, 8, 121, 24});
    Label5 = MakeLabel(p1, "Label5", {386, 11, 54, 16}, QStringLiteral("Version"));
    Label5->setFont(labelFont);
    EdtVer = MakeReadOnlyEdit(p1, "EdtVer", {448, 7, 121, 24});
}

void TfrmMain::BuildPortPanel()
{
    using Bevel = BevelPanel::Bevel;
    Panel2 = Place(new BevelPanel(this, FormColor::Panel, Bevel::None, Bevel::None), "Panel2",
                   {792, 112, 169, 73});

    cbxComm = Place(new PortComboBox(Panel2), "cbxComm", {32, 8, 73, 24});
    // From the 20th entry on only the first letter is a capital.
    QStringList ports;
    for (int port = 1; port <= 30; ++port)
        ports << (port < 20 ? QStringLiteral("COM") : QStringLiteral("Com")) +
                     QString::number(port);
    cbxComm->addItems(ports);
    cbxComm->setCurrentIndex(0);
    cbxComm->setFrame(false);
    SetColour(cbxComm, QPalette::Button, FormColor::Yellow);
    SetColour(cbxComm, QPalette::Base, FormColor::Yellow);

    btnOpen = MakeButton(Panel2, "btnOpen", {32, 40, 57, 25}, QStringLiteral("OPEN"));

    Shape1 = Place(new CircleShape(Panel2), "Shape1", {96, 40, 17, 25});
    Shape1->SetBrushColor(FormColor::Silver);
    Shape1->SetPenColor(FormColor::Silver);
    shpLight = Place(new CircleShape(Panel2), "shpLight", {97, 44, 16, 17});
    shpLight->SetBrushColor(FormColor::Grey);
    shpLight->SetPenColor(FormColor::Green);
    shpLight->SetPenWidth(1);
}

void TfrmMain::BuildFrequencyPanels()
{
    using Bevel = BevelPanel::Bevel;
    p2 = Place(new BevelPanel(this, FormColor::Panel, Bevel::None, Bevel::Lowered), "p2",
               {15, 194, 378, 351});
    P4 = Place(new BevelPanel(this, FormColor::Panel, Bevel::None, Bevel::Lowered), "P4",
               {399, 194, 378, 351});
    MEdChannel = BuildFrequencyGrid(p2, "MEdChannel", "lblTx");
    MEDRChannel = BuildFrequencyGrid(P4, "MEDRChannel", "lblRx");
}

void TfrmMain::BuildTonePanel()
{
    using Bevel = BevelPanel::Bevel;
    p3 = Place(new BevelPanel(this, FormColor::Panel, Bevel::Raised, Bevel::Lowered), "p3",
               {792, 192, 169, 201});

    struct CheckRow
    {
        QCheckBox *TfrmMain::*member;
        const char *name;
        QRect place;
        const char *caption;
        bool checked;
    };
    const CheckRow checks[] = {
        {&TfrmMain::CheckBox1, "CheckBox1", {8, 16, 81, 17}, "TX CTCS", true},
        {&TfrmMain::CheckBox2, "CheckBox2", {8, 49, 81, 17}, "TX CDCS", false},
        {&TfrmMain::CheckBox3, "CheckBox3", {8, 92, 81, 17}, "RX CTCS", true},
        {&TfrmMain::CheckBox4, "CheckBox4", {8, 120, 81, 17}, "RX CDCS", false},
    };
    for (const CheckRow &row : checks) {
        auto *box = Place(new QCheckBox(QString::fromLatin1(row.caption), p3), row.name, row.place);
        box->setChecked(row.checked);
        this->*row.member = box;
    }

    const QFont toneFont = WindowFont(Face::TimesNewRoman, SmallTextHeight);
    struct SelectorRow
    {
        CompletingComboBox *TfrmMain::*member;
        const char *name;
        QRect place;
        std::vector<std::string> items;
        int selected;
        const QFont *font; // null: the window's
    };
    const SelectorRow selectors[] = {
        {&TfrmMain::CbxTxCT, "CbxTxCT", {96, 11, 61, 23}, TxCtcssItems(), 0, &toneFont},
        {&TfrmMain::CbxTxCD, "CbxTxCD", {96, 43, 61, 23}, CdcssItems(), 0, &toneFont},
        {&TfrmMain::CbxRxCT, "CbxRxCT", {96, 87, 61, 23}, RxCtcssItems(), 0, &toneFont},
        {&TfrmMain::CbxRxCD, "CbxRxCD", {96, 115, 61, 23}, CdcssItems(), 0, &toneFont},
        {&TfrmMain::CbxSQ, "CbxSQ", {96, 161, 61, 24}, NumberItems(8), 0, nullptr},
        {&TfrmMain::CbxVol, "CbxVol", {96, 201, 61, 24}, NumberItems(4), 2, nullptr},
    };
    for (const SelectorRow &row : selectors) {
        auto *box = Place(new CompletingComboBox(p3), row.name, row.place);
        if (row.font)
            box->setFont(*row.font);
        AddItems(box, row.items);
        box->setCurrentIndex(row.selected);
        this->*row.member = box;
    }

    // Two separator lines of 39 dashes, and the squelch caption.
    const QString dashes(39, QLatin1Char('-'));
    Label39 = MakeLabel(p3, "Label39", {6, 70, 156, 16}, dashes);
    Label40 = MakeLabel(p3, "Label40", {7, 143, 156, 16}, dashes);
    Label41 = MakeLabel(p3, "Label41", {58, 165, 25, 16}, QStringLiteral("S  Q"));

    // Below the panel's visible area: reached only with the Tab key.
    VolSet = MakeButton(p3, "VolSet", {8, 200, 75, 25}, QStringLiteral("Set Vol "));
}

void TfrmMain::BuildButtons()
{
    btnSet = MakeButton(this, "btnSet", {840, 408, 89, 33}, QStringLiteral("SET"));
    btnRead = MakeButton(this, "btnRead", {840, 458, 89, 33}, QStringLiteral("READ"));
    btnDefault = MakeButton(this, "btnDefault", {840, 509, 89, 33}, QStringLiteral("DEFAULT"));
    btnHelp = MakeButton(this, "btnHelp", {472, 616, 89, 33}, QStringLiteral("HELP"));
    btnHelp->hide(); // below the client area and never shown
}

void TfrmMain::BuildStatusBar()
{
    using Bevel = BevelPanel::Bevel;
    Panel6 = Place(new BevelPanel(this, FormColor::StatusBar, Bevel::None, Bevel::None), "Panel6",
                   {8, 552, 952, 33});
    lblStatus = MakeLabel(Panel6, "lblStatus", {8, 8, 114, 16}, QString());
    ShowStatus(QStringLiteral("Device Not Found !"));
}

void TfrmMain::SetTabOrder()
{
    // Window level: p1, Panel2, SET, READ, DEFAULT, then p2, p3, P4. Inside the frequency
    // panels row by row, left before right: channel 1, 9, 2, 10 ... 8, 16.
    std::vector<QWidget *> order{EdtModel, EdtVer, cbxComm, btnOpen, btnSet, btnRead, btnDefault};
    auto addGrid = [&order](const std::array<FrequencyEdit *, ChannelCount> &fields) {
        for (const GridRow &row : GridRows) {
            order.push_back(fields[static_cast<std::size_t>(row.leftChannel - 1)]);
            order.push_back(fields[static_cast<std::size_t>(row.rightChannel - 1)]);
        }
    };
    addGrid(MEdChannel);
    order.insert(order.end(), {CheckBox1, CbxTxCT, CheckBox2, CheckBox3, CheckBox4, CbxSQ, CbxTxCD,
                               CbxRxCT, CbxRxCD, VolSet, CbxVol});
    addGrid(MEDRChannel);
    order.push_back(btnHelp);
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TfrmMain::ConnectHandlers()
{
    ConnectGuarded(CheckBox1, &QCheckBox::toggled, this, &TfrmMain::CheckBox1Click);
    ConnectGuarded(CheckBox2, &QCheckBox::toggled, this, &TfrmMain::CheckBox2Click);
    ConnectGuarded(CheckBox3, &QCheckBox::toggled, this, &TfrmMain::CheckBox3Click);
    ConnectGuarded(CheckBox4, &QCheckBox::toggled, this, &TfrmMain::CheckBox4Click);

    ConnectGuarded(btnOpen, &QPushButton::clicked, this, &TfrmMain::btnOpenClick);
    ConnectGuarded(btnRead, &QPushButton::clicked, this, &TfrmMain::btnReadClick);
    ConnectGuarded(btnSet, &QPushButton::clicked, this, &TfrmMain::btnSetClick);
    ConnectGuarded(btnDefault, &QPushButton::clicked, this, &TfrmMain::btnDefaultClick);
    ConnectGuarded(VolSet, &QPushButton::clicked, this, &TfrmMain::VolSetClick);

    ConnectGuarded(Label14, &ClickLabel::clicked, this, &TfrmMain::Label14Click);
    ConnectGuarded(Label23, &ClickLabel::clicked, this, &TfrmMain::Label23Click);
    ConnectGuarded(btnHelp, &QPushButton::clicked, this, &TfrmMain::btnHelpClick);
}
