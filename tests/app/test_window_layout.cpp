// The window's make-up: every named control in one table, colours, pictures, the fixed frame,
// the tab order walked with real Tab presses, the start-up state and the window state routines.

#include "WindowTestSupport.h"

#include "app/UMainForm.h"
#include "app/WindowFonts.h"
#include "widgets/FormControls.h"

#include "desktop/Automation.h"
#include "serial/platform/Port.h"
#include "tests/support/KnownRecords.h"
#include "widgets/CircleShape.h"
#include "widgets/ErrorBox.h"
#include "widgets/FrequencyEdit.h"
#include "widgets/Selectors.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {

constexpr const auto &DefaultFrequencies = known::FactoryFrequencies;

QString TextOf(const QWidget *control)
{
    if (auto *field = qobject_cast<const FrequencyEdit *>(control))
        return QString::fromLatin1(field->EditText());
    if (auto *box = qobject_cast<const QComboBox *>(control))
        return box->currentText();
    if (auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (auto *edit = qobject_cast<const QLineEdit *>(control))
        return edit->text();
    return {};
}

// "count|first|last" for a selector, empty for anything else.
QString ItemsOf(const QWidget *control)
{
    auto *box = qobject_cast<const QComboBox *>(control);
    if (!box)
        return {};
    return QStringLiteral("%1|%2|%3")
        .arg(box->count())
        .arg(box->itemText(0), box->itemText(box->count() - 1));
}

QString FontOf(const QWidget *control)
{
    const QFont font = control->font();
    QString text = font.family() + QLatin1Char(' ') + QString::number(font.pixelSize());
    if (font.bold())
        text += QStringLiteral(" bold");
    if (font.underline())
        text += QStringLiteral(" underline");
    return text;
}

QString Ids(const QList<QWidget *> &controls)
{
    QStringList names;
    for (const QWidget *control : controls)
        names << (control ? control->objectName() : QStringLiteral("(none)"));
    return names.join(QLatin1Char(' '));
}

// A stand-in for the browser automation class that remembers what it was asked to open.
class RecordingBrowser : public automation::Dispatch
{
public:
    explicit RecordingBrowser(QStringList &opened) : opened_(opened) {}

    automation::HResult GetIdOfName(const std::string &name, automation::DispId &id) override
    {
        id = name == "Visible" ? 1 : name == "Navigate" ? 2 : 0;
        return id ? automation::Ok : automation::UnknownName;
    }
    automation::HResult Invoke(automation::DispId id, automation::InvokeKind,
                               const automation::Variant &argument,
                               automation::ExceptionInfo &) override
    {
        if (id == 2)
            opened_ << QString::fromStdString(std::get<std::string>(argument));
        return automation::Ok;
    }

private:
    QStringList &opened_;
};

} // namespace

class TestWindowLayout : public QObject
{
    Q_OBJECT

private slots:
    void init() { window_ = std::make_unique<TfrmMain>(); }
    void cleanup() { window_.reset(); }

    void controls_data();
    void controls();
    void frequencyGridLabels_data();
    void frequencyGridLabels();
    void pictures();
    void labelsFitTheirBoxes_data();
    void labelsFitTheirBoxes();
    void windowFrame();
    void hiddenControlsNeverAppear();

    void tabOrderWhileEditing();
    void tabOrderAtStart();
    void volumeSelectorUsableFromKeyboard();
    void typingIntoSelectors_data();
    void typingIntoSelectors();

    void startUpState();
    void enableGroupTouchesDirectChildrenOnly();
    void enableEditingAndSetNotFound();
    void webAddressLabelOpensItsText();
    void webLinkErrorGoesToErrorBox();

private:
    std::unique_ptr<TfrmMain> window_;
};

void TestWindowLayout::controls_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry"); // an empty size: the control is as large as its text
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("items");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("font");

    const QString sans = InstalledFace(Face::MsSansSerif) + QStringLiteral(" 13");
    const QString sansBold = sans + QStringLiteral(" bold");
    const QString times = InstalledFace(Face::TimesNewRoman) + QStringLiteral(" 13");
    const QString nsimsun = InstalledFace(Face::NSimSun) + QStringLiteral(" 16 bold");
    const QString msSerif = InstalledFace(Face::MsSerif) + QStringLiteral(" 19");
    auto row = [](const char *name, const char *kind, const char *parent, QRect geometry,
                  const QString &text, const QString &items, bool shown, bool enabled,
                  const QString &font) {
        QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromLatin1(parent) << geometry
                            << text << items << shown << enabled << font;
    };

    // Panels.
    row("p1", "BevelPanel", "frmMain", {15, 114, 762, 39}, "", "", true, false, sans);
    row("Panel2", "BevelPanel", "frmMain", {792, 112, 169, 73}, "", "", true, true, sans);
    row("p2", "BevelPanel", "frmMain", {15, 194, 378, 351}, "", "", true, false, sans);
    row("P4", "BevelPanel", "frmMain", {399, 194, 378, 351}, "", "", true, false, sans);
    row("p3", "BevelPanel", "frmMain", {792, 192, 169, 201}, "", "", true, false, sans);
    row("Panel6", "BevelPanel", "frmMain", {8, 552, 952, 33}, "", "", true, true, sans);

    // On the window.
    row("Image1", "QLabel", "frmMain", {128, 24, 180, 60}, "", "", true, true, sans);
    row("Label42", "QLabel", "frmMain", {312, 24, 403, 29}, "示例无线电子有限公司", "", true, true,
        InstalledFace(Face::KaiTiGb2312) + QStringLiteral(" 29 bold"));
    row("Label43", "QLabel", "frmMain", {328, 64, 328, 21}, "Example Radio Electronics Co., Ltd.",
        "", true, true, msSerif);
    row("Label14", "ClickLabel", "frmMain", {784, 43, 125, 21}, "example.com", "", true, true,
        msSerif + QStringLiteral(" underline"));
    row("Label21", "QLabel", "frmMain", {784, 72, 153, 16}, "TEL:000-5550123", "", true, true,
        nsimsun);
    row("Image4", "QLabel", "frmMain", {16, 160, 154, 34}, "", "", true, true, sans);
    row("Image2", "QLabel", "frmMain", {400, 160, 150, 34}, "", "", true, true, sans);
    row("btnSet", "QPushButton", "frmMain", {840, 408, 89, 33}, "SET", "", true, false, sans);
    row("btnRead", "QPushButton", "frmMain", {840, 458, 89, 33}, "READ", "", true, false, sans);
    row("btnDefault", "QPushButton", "frmMain", {840, 509, 89, 33}, "DEFAULT", "", true, false,
        sans);
    row("Label22", "QLabel", "frmMain", {24, 600, 119, 16}, "网上商店：", "", false, true, nsimsun);
    row("Label23", "ClickLabel", "frmMain", {144, 600, 243, 16}, "shop.example.com", "", false,
        true, nsimsun + QStringLiteral(" underline"));
    row("btnHelp", "QPushButton", "frmMain", {472, 616, 89, 33}, "HELP", "", false, true, sans);

    // In p1.
    row("Label3", "QLabel", "p1", {8, 11, 44, 16}, "Model", "", true, false, sansBold);
    row("EdtModel", "QLineEdit", "p1", {72, 8, 121, 24}, "", "", true, false, sans);
    row("Label5", "QLabel", "p1", {386, 11, 54, 16}, "Version", "", true, false, sansBold);
    row("EdtVer", "QLineEdit", "p1", {448, 7, 121, 24}, "", "", true, false, sans);

    // In Panel2.
    row("cbxComm", "PortComboBox", "Panel2", {32, 8, 73, 24}, "COM1", "30|COM1|Com30", true, true,
        sans);
    row("btnOpen", "QPushButton", "Panel2", {32, 40, 57, 25}, "OPEN", "", true, true, sans);
    row("Shape1", "CircleShape", "Panel2", {96, 40, 17, 25}, "", "", true, true, sans);
    row("shpLight", "CircleShape", "Panel2", {97, 44, 16, 17}, "", "", true, true, sans);

    // In p3, in tab order.
    row("CheckBox1", "QCheckBox", "p3", {8, 16, 81, 17}, "TX CTCS", "", true, false, sans);
    row("CbxTxCT", "CompletingComboBox", "p3", {96, 11, 61, 23}, "11 ", "39|0 |38", true, false,
        times);
    row("CheckBox2", "QCheckBox", "p3", {8, 49, 81, 17}, "TX CDCS", "", true, false, sans);
    row("CheckBox3", "QCheckBox", "p3", {8, 92, 81, 17}, "RX CTCS", "", true, false, sans);
    row("CheckBox4", "QCheckBox", "p3", {8, 120, 81, 17}, "RX CDCS", "", true, false, sans);
    row("CbxSQ", "CompletingComboBox", "p3", {96, 161, 61, 24}, "2", "9|0|8", true, false, sans);
    row("CbxTxCD", "CompletingComboBox", "p3", {96, 43, 61, 23}, "023I", "166|023I|754N", true,
        false, times);
    row("CbxRxCT", "CompletingComboBox", "p3", {96, 87, 61, 23}, "0 ", "39|0 |38 ", true, false,
        times);
    row("CbxRxCD", "CompletingComboBox", "p3", {96, 115, 61, 23}, "031N", "166|023I|754N", true,
        false, times);
    row("VolSet", "QPushButton", "p3", {8, 200, 75, 25}, "Set Vol ", "", true, false, sans);
    row("CbxVol", "CompletingComboBox", "p3", {96, 201, 61, 24}, "2", "5|0|4", true, false, sans);
    row("Label39", "QLabel", "p3", {6, 70, 156, 16}, QString(39, QLatin1Char('-')), "", true, false,
        sans);
    row("Label40", "QLabel", "p3", {7, 143, 156, 16}, QString(39, QLatin1Char('-')), "", true,
        false, sans);
    row("Label41", "QLabel", "p3", {58, 165, 25, 16}, "S  Q", "", true, false, sans);

    // In Panel6: the status label is as wide as its text.
    row("lblStatus", "QLabel", "Panel6", {8, 8, 0, 0}, "Device Not Found !", "", true, true, sans);

    // The frequency grids: rows of fields, left column at 80, right column at 278.
    const int fieldTops[8] = {11, 52, 93, 134, 175, 216, 257, 299};
    for (int channel = 1; channel <= 16; ++channel) {
        const QRect place((channel <= 8 ? 80 : 278), fieldTops[(channel - 1) % 8], 58, 21);
        const QString text = QString::fromLatin1(DefaultFrequencies[channel - 1]);
        row(qPrintable(QStringLiteral("MEdChannel%1").arg(channel)), "FrequencyEdit", "p2", place,
            text, "", true, false, sans);
        row(qPrintable(QStringLiteral("MEDRChannel%1").arg(channel)), "FrequencyEdit", "P4", place,
            text, "", true, false, sans);
    }
}

void TestWindowLayout::controls()
{
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, items);
    QFETCH(bool, shown);
    QFETCH(bool, enabled);
    QFETCH(QString, font);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto *control = window_->findChild<QWidget *>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
    QCOMPARE(control->parentWidget()->objectName(), parent);
    if (geometry.size().isEmpty()) {
        QCOMPARE(control->pos(), geometry.topLeft());
        QCOMPARE(control->size(), control->sizeHint());
    } else {
        QCOMPARE(control->geometry(), geometry);
    }
    QCOMPARE(TextOf(control), text);
    QCOMPARE(ItemsOf(control), items);
    QCOMPARE(control->isVisibleTo(window_.get()), shown);
    QCOMPARE(control->isEnabled(), enabled);
    QCOMPARE(FontOf(control), font);
}

void TestWindowLayout::frequencyGridLabels_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QPoint>("labelAt");
    QTest::addColumn<QPoint>("unitAt");

    const int labelTops[8] = {14, 55, 96, 137, 178, 219, 260, 302};
    const int unitTops[8] = {13, 54, 95, 136, 177, 218, 259, 301};
    for (const auto &[panel, prefix] : {std::pair{"p2", "lblTx"}, std::pair{"P4", "lblRx"}}) {
        for (int channel = 1; channel <= 16; ++channel) {
            const int row = (channel - 1) % 8;
            const bool left = channel <= 8;
            QTest::addRow("%s channel %d", panel, channel)
                << QString::fromLatin1(panel) << QString::fromLatin1(prefix) << channel
                << QPoint(left ? 8 : 197, labelTops[row])
                << QPoint(left ? 140 : 339, unitTops[row]);
        }
    }
}

void TestWindowLayout::frequencyGridLabels()
{
    QFETCH(QString, panel);
    QFETCH(QString, prefix);
    QFETCH(int, channel);
    QFETCH(QPoint, labelAt);
    QFETCH(QPoint, unitAt);

    auto *label = window_->findChild<QLabel *>(prefix + QStringLiteral("Channel%1").arg(channel));
    auto *unit = window_->findChild<QLabel *>(prefix + QStringLiteral("MHz%1").arg(channel));
    QVERIFY(label && unit);
    QCOMPARE(label->parentWidget()->objectName(), panel);
    QCOMPARE(label->text(), QStringLiteral("Channel %1").arg(channel));
    QCOMPARE(label->pos(), labelAt);
    QCOMPARE(unit->text(), QStringLiteral("MHz"));
    QCOMPARE(unit->pos(), unitAt);
    const QString sansBold = InstalledFace(Face::MsSansSerif) + QStringLiteral(" 13 bold");
    QCOMPARE(FontOf(label), sansBold);
    QCOMPARE(FontOf(unit), sansBold);

    // The texts stay clear of the field between them.
    const QWidget *field = Control<FrequencyEdit>(*window_, (panel == QLatin1String("p2")
                                                                 ? QStringLiteral("MEdChannel%1")
                                                                 : QStringLiteral("MEDRChannel%1"))
                                                                .arg(channel));
    QVERIFY2(label->geometry().right() < field->x(), qPrintable(label->text()));
    QVERIFY(field->geometry().right() < unit->x());
    QVERIFY(unit->geometry().right() < unit->parentWidget()->width());
}

void TestWindowLayout::pictures()
{
    for (QLabel *picture :
         {Control<QLabel>(*window_, "Image1"), Control<QLabel>(*window_, "Image4"),
          Control<QLabel>(*window_, "Image2")}) {
        QVERIFY2(!picture->pixmap().isNull(), qPrintable(picture->objectName()));
        QCOMPARE(picture->pixmap().size(), picture->size());
    }
    // The headings are blue on white: their middle row holds blue ink.
    const QImage heading = Control<QLabel>(*window_, "Image4")->pixmap().toImage();
    int blue = 0;
    for (int x = 0; x < heading.width(); ++x) {
        const QColor pixel = heading.pixelColor(x, heading.height() / 2);
        blue += pixel.blue() > 150 && pixel.red() < 100;
    }
    QVERIFY(blue > 10);
}

void TestWindowLayout::labelsFitTheirBoxes_data()
{
    QTest::addColumn<QString>("name");
    // The two separator lines are left out: 39 dashes of the face used here run past their box,
    // and the label cuts them at its edge.
    for (const char *name :
         {"Label42", "Label43", "Label14",    "Label21",   "Label22",   "Label23",   "Label3",
          "Label5",  "Label41", "lblStatus",  "CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4",
          "btnSet",  "btnRead", "btnDefault", "btnOpen",   "VolSet",    "btnHelp"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestWindowLayout::labelsFitTheirBoxes()
{
    QFETCH(QString, name);
    auto *control = window_->findChild<QWidget *>(name);
    QVERIFY(control);
    const int textWidth = control->fontMetrics().horizontalAdvance(TextOf(control));
    int room = control->width();
    if (auto *box = qobject_cast<QCheckBox *>(control))
        room -= box->sizeHint().width() - textWidth; // the indicator and its spacing
    if (qobject_cast<QPushButton *>(control))
        room -= 8; // the button's own margins
    QVERIFY2(textWidth <= room, qPrintable(QStringLiteral("%1 > %2").arg(textWidth).arg(room)));
}

void TestWindowLayout::windowFrame()
{
    QCOMPARE(window_->objectName(), QStringLiteral("frmMain"));
    QCOMPARE(window_->windowTitle(), QString());
    QCOMPARE(window_->size(), QSize(969, 596));
    QCOMPARE(window_->minimumSize(), QSize(969, 596));
    QCOMPARE(window_->maximumSize(), QSize(969, 596));
    const Qt::WindowFlags flags = window_->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(FontOf(window_.get()), InstalledFace(Face::MsSansSerif) + QStringLiteral(" 13"));
    // The window's face is the application's only while the window is made: dialogs keep theirs.
    QVERIFY(QApplication::font() != window_->font());
    // The system window colour: that of a text area.
    QCOMPARE(window_->palette().color(QPalette::Window),
             QApplication::palette().color(QPalette::Base));

    const QRect screen = window_->screen()->availableGeometry();
    QVERIFY((window_->geometry().center() - screen.center()).manhattanLength() <= 1);

    auto *timer = window_->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 2000);
    QVERIFY(!timer->isActive());
    QVERIFY(!timer->isSingleShot());
}

void TestWindowLayout::hiddenControlsNeverAppear()
{
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    window_->EnableEditing(true);
    for (QWidget *control :
         {Control<QWidget>(*window_, "Label22"), Control<QWidget>(*window_, "Label23"),
          Control<QWidget>(*window_, "btnHelp")}) {
        QVERIFY(!control->isVisible());
        QVERIFY(!window_->rect().intersects(control->geometry()));
    }
}

void TestWindowLayout::tabOrderWhileEditing()
{
    window_ = MakeShownWindow();
    window_->EnableEditing(true);
    Control<QLineEdit>(*window_, "EdtModel")->setFocus();
    QTRY_COMPARE(FocusedControl(), Control<QLineEdit>(*window_, "EdtModel"));

    const QString expected = QStringLiteral(
        "EdtModel EdtVer cbxComm btnOpen btnSet btnRead btnDefault "
        "MEdChannel1 MEdChannel9 MEdChannel2 MEdChannel10 MEdChannel3 MEdChannel11 "
        "MEdChannel4 MEdChannel12 MEdChannel5 MEdChannel13 MEdChannel6 MEdChannel14 "
        "MEdChannel7 MEdChannel15 MEdChannel8 MEdChannel16 "
        "CheckBox1 CbxTxCT CheckBox2 CheckBox3 CheckBox4 CbxSQ CbxTxCD CbxRxCT CbxRxCD "
        "VolSet CbxVol "
        "MEDRChannel1 MEDRChannel9 MEDRChannel2 MEDRChannel10 MEDRChannel3 MEDRChannel11 "
        "MEDRChannel4 MEDRChannel12 MEDRChannel5 MEDRChannel13 MEDRChannel6 MEDRChannel14 "
        "MEDRChannel7 MEDRChannel15 MEDRChannel8 MEDRChannel16 EdtModel");
    QList<QWidget *> visited{FocusedControl()};
    for (qsizetype i = 1; i < expected.count(QLatin1Char(' ')) + 1; ++i) {
        PressTab();
        visited << FocusedControl();
    }
    QCOMPARE(Ids(visited), expected);

    // Shift+Tab walks back the same way.
    PressTab(Qt::ShiftModifier);
    QCOMPARE(FocusedControl(), Control<FrequencyEdit>(*window_, "MEDRChannel16"));
    PressTab(Qt::ShiftModifier);
    QCOMPARE(FocusedControl(), Control<FrequencyEdit>(*window_, "MEDRChannel8"));
}

void TestWindowLayout::tabOrderAtStart()
{
    // With the editing groups disabled only the port selector and OPEN take the focus.
    window_ = MakeShownWindow();
    Control<QComboBox>(*window_, "cbxComm")->setFocus();
    QTRY_COMPARE(FocusedControl(), Control<QComboBox>(*window_, "cbxComm"));
    QList<QWidget *> visited{FocusedControl()};
    for (int i = 0; i < 3; ++i) {
        PressTab();
        visited << FocusedControl();
    }
    QCOMPARE(Ids(visited), QStringLiteral("cbxComm btnOpen cbxComm btnOpen"));
}

void TestWindowLayout::volumeSelectorUsableFromKeyboard()
{
    // VolSet and CbxVol lie below the panel's visible area, yet Tab reaches them and they work.
    window_ = MakeShownWindow();
    window_->EnableEditing(true);
    QVERIFY(Control<QPushButton>(*window_, "VolSet")->y() >=
            Control<QWidget>(*window_, "p3")->height() - 1);
    QVERIFY(Control<QComboBox>(*window_, "CbxVol")->y() >=
            Control<QWidget>(*window_, "p3")->height());

    Control<QComboBox>(*window_, "CbxRxCD")->setFocus();
    QTRY_COMPARE(FocusedControl(), Control<QComboBox>(*window_, "CbxRxCD"));
    PressTab();
    QCOMPARE(FocusedControl(), Control<QPushButton>(*window_, "VolSet"));
    PressTab();
    QCOMPARE(FocusedControl(), Control<QComboBox>(*window_, "CbxVol"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_4);
    QCOMPARE(Control<QComboBox>(*window_, "CbxVol")->currentText(), QStringLiteral("4"));
    QCOMPARE(Control<QComboBox>(*window_, "CbxVol")->currentIndex(), 4);
}

void TestWindowLayout::typingIntoSelectors_data()
{
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("shown");

    QTest::newRow("port com2") << "cbxComm"
                               << "com2" << 1 << "COM2";
    QTest::newRow("port com1") << "cbxComm"
                               << "com1" << 0 << "COM1";
    QTest::newRow("port com25") << "cbxComm"
                                << "com25" << 24 << "Com25";
    QTest::newRow("tx ctcss 1") << "CbxTxCT"
                                << "1" << 1 << "1 ";
    QTest::newRow("tx ctcss 38") << "CbxTxCT"
                                 << "38" << 38 << "38";
    QTest::newRow("rx ctcss 38") << "CbxRxCT"
                                 << "38" << 38 << "38 ";
    QTest::newRow("tx cdcss 75") << "CbxTxCD"
                                 << "75" << 82 << "754I";
    QTest::newRow("rx cdcss 023n") << "CbxRxCD"
                                   << "023n" << 83 << "023N";
}

void TestWindowLayout::typingIntoSelectors()
{
    // The lists as the window fills them, typed into as a user would.
    QFETCH(QString, selector);
    QFETCH(QString, typed);
    QFETCH(int, position);
    QFETCH(QString, shown);

    window_ = MakeShownWindow();
    window_->EnableEditing(true);
    auto *box = window_->findChild<QComboBox *>(selector);
    QVERIFY(box);
    box->setCurrentIndex(5); // any starting row
    box->setFocus();
    QTRY_COMPARE(FocusedControl(), box);
    if (box->isEditable())
        box->lineEdit()->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), typed);
    QCOMPARE(box->currentIndex(), position);
    QCOMPARE(box->currentText(), shown);
}

void TestWindowLayout::startUpState()
{
    for (int channel = 1; channel <= 16; ++channel) {
        const QByteArray expected(DefaultFrequencies[channel - 1]);
        QCOMPARE(Control<FrequencyEdit>(
                     *window_,
                     QStringLiteral("MEdChannel%1").arg(static_cast<std::size_t>(channel - 1) + 1))
                     ->EditText(),
                 expected);
        QCOMPARE(Control<FrequencyEdit>(
                     *window_,
                     QStringLiteral("MEDRChannel%1").arg(static_cast<std::size_t>(channel - 1) + 1))
                     ->EditText(),
                 expected);
    }
    QVERIFY(Control<QCheckBox>(*window_, "CheckBox1")->isChecked());
    QVERIFY(!Control<QCheckBox>(*window_, "CheckBox2")->isChecked());
    QCOMPARE(Control<QComboBox>(*window_, "CbxTxCT")->currentIndex(), 11);
    QCOMPARE(Control<QComboBox>(*window_, "CbxTxCD")->currentIndex(), 0);
    QVERIFY(!Control<QCheckBox>(*window_, "CheckBox3")->isChecked());
    QVERIFY(Control<QCheckBox>(*window_, "CheckBox4")->isChecked());
    QCOMPARE(Control<QComboBox>(*window_, "CbxRxCT")->currentIndex(), 0);
    QCOMPARE(Control<QComboBox>(*window_, "CbxRxCD")->currentIndex(), 86);
    QCOMPARE(Control<QComboBox>(*window_, "CbxSQ")->currentIndex(), 2);
    QCOMPARE(Control<QComboBox>(*window_, "CbxVol")->currentIndex(), 2);

    // Every editing group and each control directly inside it is disabled in its own right.
    for (QWidget *group :
         {Control<QWidget>(*window_, "p1"), Control<QWidget>(*window_, "p2"),
          Control<QWidget>(*window_, "p3"), Control<QWidget>(*window_, "P4"),
          Control<QWidget>(*window_, "btnSet"), Control<QWidget>(*window_, "btnRead"),
          Control<QWidget>(*window_, "btnDefault")}) {
        QVERIFY(group->testAttribute(Qt::WA_ForceDisabled));
        for (QWidget *child : group->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            QVERIFY2(child->testAttribute(Qt::WA_ForceDisabled), qPrintable(child->objectName()));
    }
    QVERIFY(Control<QComboBox>(*window_, "cbxComm")->isEnabled());
    QVERIFY(Control<QPushButton>(*window_, "btnOpen")->isEnabled());
    QCOMPARE(Control<QPushButton>(*window_, "btnOpen")->text(), QStringLiteral("OPEN"));
    QCOMPARE(Control<QComboBox>(*window_, "cbxComm")->currentText(), QStringLiteral("COM1"));
    QCOMPARE(Control<QLabel>(*window_, "lblStatus")->text(), QStringLiteral("Device Not Found !"));
    QCOMPARE(Control<CircleShape>(*window_, "shpLight")->BrushColor(), QColor(128, 128, 128));
    QVERIFY(!Control<QTimer>(*window_, "Timer1")->isActive());
    QVERIFY(!window_->State().deviceFound);
    QVERIFY(!window_->State().portIsOpen);
}

void TestWindowLayout::enableGroupTouchesDirectChildrenOnly()
{
    auto *inner = new QWidget(Control<QWidget>(*window_, "p1"));
    auto *deep = new QPushButton(inner);
    deep->setEnabled(false);

    window_->EnableGroup(Control<QWidget>(*window_, "p1"), true);
    QVERIFY(Control<QWidget>(*window_, "p1")->isEnabled());
    QVERIFY(Control<QLineEdit>(*window_, "EdtModel")->isEnabled());
    QVERIFY(inner->isEnabled());
    QVERIFY(!deep->isEnabled()); // keeps its own state

    deep->setEnabled(true);
    window_->EnableGroup(Control<QWidget>(*window_, "p1"), false);
    QVERIFY(inner->testAttribute(Qt::WA_ForceDisabled));
    QVERIFY(!deep->testAttribute(Qt::WA_ForceDisabled)); // only disabled through its parents

    // A group re-enabled alone leaves its children as EnableGroup set them.
    Control<QWidget>(*window_, "p1")->setEnabled(true);
    QVERIFY(!Control<QLineEdit>(*window_, "EdtModel")->isEnabled());
}

void TestWindowLayout::enableEditingAndSetNotFound()
{
    window_->EnableEditing(true);
    for (QWidget *control :
         {Control<QWidget>(*window_, "EdtVer"), Control<QWidget>(*window_, "MEdChannel16"),
          Control<QWidget>(*window_, "MEDRChannel1"), Control<QWidget>(*window_, "VolSet"),
          Control<QWidget>(*window_, "CbxVol"), Control<QWidget>(*window_, "CheckBox4"),
          Control<QWidget>(*window_, "btnSet"), Control<QWidget>(*window_, "btnDefault")})
        QVERIFY2(control->isEnabled(), qPrintable(control->objectName()));

    // OPEN on a port that leads nowhere ends in the not-found state.
    port::SetDeviceResolver([](const std::string &name) { return "/nonexistent/" + name; });
    Control<QPushButton>(*window_, "btnOpen")->click();
    port::SetDeviceResolver(nullptr);
    QVERIFY(!window_->State().deviceFound && !window_->State().portIsOpen);
    QCOMPARE(Control<QLabel>(*window_, "lblStatus")->text(), QStringLiteral("Device Not Found!"));
    QCOMPARE(Control<QLabel>(*window_, "lblStatus")->size(),
             Control<QLabel>(*window_, "lblStatus")->sizeHint());
    QVERIFY(!Control<QWidget>(*window_, "p3")->isEnabled());
    QVERIFY(!Control<QPushButton>(*window_, "btnRead")->isEnabled());
    QVERIFY(Control<QComboBox>(*window_, "cbxComm")->isEnabled());
}

void TestWindowLayout::webAddressLabelOpensItsText()
{
    QStringList opened;
    const automation::ClassRegistration browser("InternetExplorer.Application",
                                                [&opened](automation::Dispatch *&object) {
                                                    object = new RecordingBrowser(opened);
                                                    return automation::Ok;
                                                });
    window_ = MakeShownWindow();
    QTest::mouseClick(Control<QLabel>(*window_, "Label14"), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(Control<QLabel>(*window_, "Label14"), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(opened, QStringList({"example.com", "example.com"}));

    // The hidden store address, clicked as the label takes a click.
    emit Control<ClickLabel>(*window_, "Label23")->clicked();
    QCOMPARE(opened.last(), QStringLiteral("shop.example.com"));
}

void TestWindowLayout::webLinkErrorGoesToErrorBox()
{
    // Without the browser class the error leaves the handler, shows in the error box, and the
    // window goes on unchanged.
    const automation::ClassRegistration hidden("InternetExplorer.Application", {});
    QStringList boxes;
    SetErrorBoxHook([&boxes](const QString &text) { boxes << text; });
    window_ = MakeShownWindow();
    const std::string before = window_->BuildSetCommand();
    QTest::mouseClick(Control<QLabel>(*window_, "Label14"), Qt::LeftButton, {}, QPoint(5, 5));
    SetErrorBoxHook({});
    QCOMPARE(boxes.size(), 1);
    QVERIFY(!boxes.first().isEmpty());
    QCOMPARE(window_->BuildSetCommand(), before);
    QVERIFY(window_->isVisible());
}

int RunWindowLayoutTests(int argc, char **argv)
{
    TestWindowLayout test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window_layout.moc"
