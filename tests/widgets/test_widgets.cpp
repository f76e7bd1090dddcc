#include "KeyScript.h"
#include "widgets/CircleShape.h"
#include "widgets/ErrorBox.h"
#include "widgets/Selectors.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <stdexcept>

namespace {
QStringList CtcssItems(bool lastWithBlank)
{
    QStringList items;
    for (int tone = 0; tone <= 38; ++tone)
        items << QString::number(tone) +
                     (tone < 38 || lastWithBlank ? QStringLiteral(" ") : QString());
    return items;
}

QStringList CdcssItems()
{
    const QString codes = QStringLiteral(
        "023 025 026 031 032 043 047 051 054 065 071 072 073 074 114 115 116 125 131 132 134 143 "
        "152 155 156 162 165 172 174 205 223 226 243 244 245 251 261 263 265 271 306 311 315 331 "
        "343 346 351 364 365 371 411 412 413 423 431 432 445 464 465 466 503 506 516 532 546 565 "
        "606 612 624 627 631 632 654 662 664 703 712 723 731 732 734 743 754");
    QStringList items;
    for (const QString &suffix : {QStringLiteral("I"), QStringLiteral("N")}) {
        for (const QString &code : codes.split(u' '))
            items << code + suffix;
    }
    return items;
}

QStringList PortItems()
{
    QStringList items;
    for (int port = 1; port <= 30; ++port)
        items << (port < 20 ? QStringLiteral("COM") : QStringLiteral("Com")) +
                     QString::number(port);
    return items;
}

QStringList ItemsOf(const QString &list)
{
    if (list == QLatin1String("ctcss tx"))
        return CtcssItems(false);
    if (list == QLatin1String("ctcss rx"))
        return CtcssItems(true);
    if (list == QLatin1String("cdcss"))
        return CdcssItems();
    if (list == QLatin1String("ports"))
        return PortItems();
    return {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
}

// A window with an edit before the selector, so that it is entered with a real Tab press.
template <typename Box> struct Form
{
    QWidget window;
    QLineEdit *before = new QLineEdit(&window);
    Box *box = new Box(&window);

    explicit Form(const QStringList &items)
    {
        auto *layout = new QVBoxLayout(&window);
        layout->addWidget(before);
        layout->addWidget(box);
        box->addItems(items);
        window.show();
        window.activateWindow();
        QApplication::setActiveWindow(&window);
        (void)QTest::qWaitForWindowActive(&window);
        before->setFocus();
        QTest::keyClick(before, Qt::Key_Tab);
    }
};

struct Handlers : QObject
{
    int calls = 0;
    void btnReadClick()
    {
        ++calls;
        throw std::runtime_error("Read failed");
    }
    void Toggled(bool checked)
    {
        ++calls;
        if (checked)
            throw std::runtime_error("checked");
    }
};
} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

    QStringList boxTexts_;

private slots:
    void init()
    {
        boxTexts_.clear();
        SetErrorBoxHook([this](const QString &text) { boxTexts_ << text; });
    }
    void cleanup() { SetErrorBoxHook(nullptr); }

    void completing_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("completion"); // the selected part of the shown text
        // clang-format off
        QTest::newRow("tone 1") << "ctcss tx" << "1" << 1 << "1 " << " ";
        QTest::newRow("tone 15") << "ctcss tx" << "15" << 15 << "15 " << " ";
        QTest::newRow("last tone, no blank") << "ctcss tx" << "38" << 38 << "38" << "";
        QTest::newRow("last tone, blank") << "ctcss rx" << "38" << 38 << "38 " << " ";
        QTest::newRow("code 7") << "cdcss" << "7" << 75 << "703I" << "03I";
        QTest::newRow("code 75") << "cdcss" << "75" << 82 << "754I" << "4I";
        QTest::newRow("letter case of the item") << "cdcss" << "754n" << 165 << "754N" << "";
        QTest::newRow("port c") << "ports" << "c" << 0 << "COM1" << "OM1";
        QTest::newRow("port com2") << "ports" << "com2" << 1 << "COM2" << "";
        QTest::newRow("no match stays typed") << "squelch" << "12" << -1 << "12" << "";
        QTest::newRow("no match at all") << "cdcss" << "9" << -1 << "9" << "";
        QTest::newRow("Backspace keeps the item") << "cdcss" << "75<BS>" << 82 << "75" << "";
        QTest::newRow("Backspace to empty") << "cdcss" << "7<BS><BS>" << -1 << "" << "";
        QTest::newRow("typing resumes") << "cdcss" << "75<BS>4" << 82 << "754I" << "I";
        QTest::newRow("typing in the middle selects, never completes") << "cdcss" << "02<BS><Left>3" << 4 << "032" << "";
        // clang-format on
    }
    void completing()
    {
        QFETCH(QString, list);
        QFETCH(QString, keys);
        QFETCH(int, index);
        QFETCH(QString, shown);
        QFETCH(QString, completion);
        Form<CompletingComboBox> form(ItemsOf(list));
        QVERIFY(form.box->hasFocus());
        TypeScript(form.box, keys);
        QCOMPARE(form.box->currentIndex(), index);
        QCOMPARE(form.box->currentText(), shown);
        QCOMPARE(form.box->lineEdit()->selectedText(), completion);
        QCOMPARE(form.box->count(), ItemsOf(list).size()); // typing never adds items
    }

    void completingSelectsOnEachKey()
    {
        Form<CompletingComboBox> form(CdcssItems());
        QList<int> changes;
        connect(form.box, &QComboBox::currentIndexChanged, this, [&](int row) { changes << row; });
        TypeScript(form.box, QStringLiteral("75<Enter>"));
        QCOMPARE(changes, (QList<int>{75, 82}));
    }

    void portSearch_data()
    {
        QTest::addColumn<int>("startRow");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QList<int>>("gaps"); // ms before each key
        QTest::addColumn<int>("index");
        const QList<int> quick{0, 100, 100, 100, 100};
        // clang-format off
        QTest::newRow("com1 from the top") << 0 << "com1" << quick << 0;
        QTest::newRow("com1 from COM10") << 9 << "com1" << quick << 0;
        QTest::newRow("com1 from the bottom") << 29 << "com1" << quick << 0;
        QTest::newRow("com2") << 5 << "com2" << quick << 1;
        QTest::newRow("com25") << 0 << "com25" << quick << 24;
        QTest::newRow("COM30") << 0 << "COM30" << quick << 29;
        QTest::newRow("no match keeps the row") << 8 << "com9x" << quick << 8;
        QTest::newRow("pause starts anew") << 5 << "co" << QList<int>{0, 600} << 0;
        QTest::newRow("just under the pause") << 0 << "com2" << QList<int>{0, 499, 499, 499} << 1;
        QTest::newRow("at the pause") << 0 << "com2" << QList<int>{0, 100, 100, 500} << 0;
        // clang-format on
    }
    void portSearch()
    {
        QFETCH(int, startRow);
        QFETCH(QString, keys);
        QFETCH(QList<int>, gaps);
        QFETCH(int, index);
        Form<PortComboBox> form(PortItems());
        std::chrono::milliseconds now{100000};
        form.box->SetClock([&now] { return now; });
        form.box->setCurrentIndex(startRow);
        for (qsizetype i = 0; i < keys.size(); ++i) {
            now += std::chrono::milliseconds(gaps.value(i, 100));
            QTest::keyClick(form.box, keys[i].toLatin1());
            QVERIFY(PortItems().contains(form.box->currentText()));
        }
        QCOMPARE(form.box->currentIndex(), index);
        QVERIFY(!form.box->isEditable());
    }

    void portSearchInOpenList()
    {
        Form<PortComboBox> form(PortItems());
        std::chrono::milliseconds now{0};
        form.box->SetClock([&now] { return now; });
        form.box->setCurrentIndex(9);
        form.box->showPopup();
        QTRY_VERIFY(form.box->view()->isVisible());
        for (const char key : {'c', 'o', 'm', '1'}) {
            now += std::chrono::milliseconds(100);
            QTest::keyClick(form.box->view(), key);
        }
        QCOMPARE(form.box->view()->currentIndex().row(), 0);
        QTest::keyClick(form.box->view(), Qt::Key_Return);
        QTRY_VERIFY(!form.box->view()->isVisible());
        QCOMPARE(form.box->currentText(), QStringLiteral("COM1"));
    }

    void errorBoxText_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("text");
        // clang-format off
        QTest::newRow("letter") << QByteArray("Access denied") << "Access denied.";
        QTest::newRow("digit") << QByteArray("value 5") << "value 5.";
        QTest::newRow("colon") << QByteArray("port COM3:") << "port COM3:.";
        QTest::newRow("slash") << QByteArray("/dev/") << "/dev/.";
        QTest::newRow("point") << QByteArray("Done.") << "Done.";
        QTest::newRow("exclamation") << QByteArray("Device Not Found!") << "Device Not Found!";
        QTest::newRow("minus") << QByteArray("a -") << "a -";
        QTest::newRow("blank") << QByteArray("a ") << "a ";
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("8-bit last") << QByteArray("caf\xE9") << QString::fromUtf8("caf\xC3\xA9.");
        QTest::newRow("UTF-8") << QByteArray("caf\xC3\xA9") << QString::fromUtf8("caf\xC3\xA9.");
        QTest::newRow("8-bit bytes") << QByteArray("'\xFF\xFE' is not a valid integer value")
                                     << QString::fromUtf8("'\xC3\xBF\xC3\xBE' is not a valid integer value.");
        QTest::newRow("zero byte inside") << QByteArray("bad\0tail", 8) << "bad";
        QTest::newRow("zero byte last") << QByteArray("bad\0", 4) << "bad";
        QTest::newRow("zero byte first") << QByteArray("\0x", 2) << "";
        // clang-format on
    }
    void errorBoxText()
    {
        QFETCH(QByteArray, message);
        QFETCH(QString, text);
        QCOMPARE(ErrorBoxText(message.toStdString()), text);
    }

    void errorBoxIsACriticalBox()
    {
        SetErrorBoxHook(nullptr);
        QString seen;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = box->windowTitle() + u'|' + box->text();
            QCOMPARE(box->icon(), QMessageBox::Critical);
            QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(box->textFormat(), Qt::PlainText);
            box->button(QMessageBox::Ok)->click();
        });
        closer.start(10);
        ShowErrorBox("<i>Port busy</i>");
        QCOMPARE(seen, QStringLiteral("Network Module Communication Tools|<i>Port busy</i>."));
    }

    void runGuardedReportsAndGoesOn()
    {
        bool ran = false;
        RunGuarded([&] { ran = true; });
        QVERIFY(ran);
        QVERIFY(boxTexts_.isEmpty());
        RunGuarded([] { throw std::invalid_argument("'x' is not a valid integer value"); });
        QCOMPARE(boxTexts_, QStringList{QStringLiteral("'x' is not a valid integer value.")});
    }

    void connectGuarded()
    {
        QPushButton button;
        QPushButton toggle;
        toggle.setCheckable(true);
        auto handlers = std::make_unique<Handlers>();
        ConnectGuarded(&button, &QAbstractButton::clicked, handlers.get(), &Handlers::btnReadClick);
        ConnectGuarded(&toggle, &QAbstractButton::toggled, handlers.get(), &Handlers::Toggled);
        int lambdaCalls = 0;
        ConnectGuarded(&button, &QAbstractButton::clicked, handlers.get(), [&](bool) {
            ++lambdaCalls;
            throw std::runtime_error("second");
        });
        button.show();
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::mouseClick(&button, Qt::LeftButton); // the program went on
        toggle.setChecked(true);
        toggle.setChecked(false);
        QCOMPARE(handlers->calls, 4);
        QCOMPARE(lambdaCalls, 2);
        QCOMPARE(boxTexts_,
                 (QStringList{"Read failed.", "second.", "Read failed.", "second.", "checked."}));
        handlers.reset(); // the connections end with their receiver
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(boxTexts_.size(), 5);
    }

    void circle_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("penWidth");
        QTest::addColumn<QPoint>("pixel");
        QTest::addColumn<QString>("expected"); // "fill", "pen" or "none"
        // clang-format off
        QTest::newRow("tall: centre") << QSize(17, 25) << 1 << QPoint(8, 12) << "fill";
        QTest::newRow("tall: above") << QSize(17, 25) << 1 << QPoint(8, 2) << "none";
        QTest::newRow("tall: top rim") << QSize(17, 25) << 1 << QPoint(8, 4) << "pen";
        QTest::newRow("tall: left rim") << QSize(17, 25) << 1 << QPoint(0, 12) << "pen";
        QTest::newRow("tall: corner") << QSize(17, 25) << 1 << QPoint(1, 5) << "none";
        QTest::newRow("wide: left of it") << QSize(40, 10) << 1 << QPoint(12, 5) << "none";
        QTest::newRow("wide: rim") << QSize(40, 10) << 1 << QPoint(15, 5) << "pen";
        QTest::newRow("wide: centre") << QSize(40, 10) << 1 << QPoint(20, 5) << "fill";
        QTest::newRow("thick rim") << QSize(20, 20) << 3 << QPoint(10, 1) << "pen";
        QTest::newRow("inside thick rim") << QSize(20, 20) << 3 << QPoint(10, 4) << "fill";
        QTest::newRow("no pen") << QSize(20, 20) << 0 << QPoint(10, 0) << "fill";
        // clang-format on
    }
    void circle()
    {
        QFETCH(QSize, size);
        QFETCH(int, penWidth);
        QFETCH(QPoint, pixel);
        QFETCH(QString, expected);
        CircleShape shape;
        shape.resize(size);
        shape.SetBrushColor(Qt::red);
        shape.SetPenColor(Qt::blue);
        shape.SetPenWidth(penWidth);
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        shape.render(&image, {}, {}, QWidget::DrawChildren);
        const QColor color = image.pixelColor(pixel);
        if (expected == QLatin1String("none"))
            QCOMPARE(color.alpha(), 0);
        else if (expected == QLatin1String("fill"))
            QVERIFY2(color.red() > 200 && color.blue() < 60,
                     qPrintable(color.name(QColor::HexArgb)));
        else
            QVERIFY2(color.blue() > 150 && color.red() < 100,
                     qPrintable(color.name(QColor::HexArgb)));
    }
};

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
