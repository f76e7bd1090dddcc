#include "desktop/Automation.h"
#include "desktop/HelpDocument.h"
#include "desktop/WebLink.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QTest>
#include <QUrl>

#include <thread>

using namespace automation;

namespace {

const std::string BrowserClass = "InternetExplorer.Application";

// What the recording browser was asked, and how it is to misbehave.
struct Recording
{
    QStringList log;
    int instances = 0;
    HResult creationFailure = Ok;
    QString unknownName;
    HResult navigateResult = Ok;
    ExceptionInfo navigateException;
};

class RecordingBrowser final : public Dispatch
{
public:
    explicit RecordingBrowser(Recording &recording)
        : recording_(recording), number_(++recording.instances)
    {
        Log(QStringLiteral("create"));
    }
    ~RecordingBrowser() override { Log(QStringLiteral("release")); }

    HResult GetIdOfName(const std::string &name, DispId &id) override
    {
        const QString wanted = QString::fromStdString(name);
        if (wanted == recording_.unknownName || !Members.contains(wanted))
            return UnknownName;
        id = DispId(Members.indexOf(wanted));
        return Ok;
    }

    HResult Invoke(DispId id, InvokeKind kind, const Variant &argument,
                   ExceptionInfo &exception) override
    {
        const QString value = std::holds_alternative<bool>(argument)
                                  ? QVariant(std::get<bool>(argument)).toString()
                                  : QString::fromStdString(std::get<std::string>(argument));
        Log(QStringList{kind == InvokeKind::PropertyPut ? "put" : "call", Members[id], value}.join(
            ' '));
        if (Members[id] != "Navigate")
            return Ok;
        exception = recording_.navigateException;
        return recording_.navigateResult;
    }

private:
    inline static const QStringList Members{"Visible", "Navigate"};

    void Log(const QString &event)
    {
        recording_.log << QStringLiteral("#%1 %2").arg(number_).arg(event);
    }

    Recording &recording_;
    int number_;
};

Factory RecordingClass(Recording &recording)
{
    return [&recording](Dispatch *&object) {
        if (recording.creationFailure != Ok)
            return recording.creationFailure;
        object = new RecordingBrowser(recording);
        return Ok;
    };
}

} // namespace

// Stands in for the desktop's URL handlers.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
    QStringList folders;

public slots:
    void open(const QUrl &url)
    {
        urls << url;
        folders << QDir::currentPath();
    }
};

class TestWebLink : public QObject
{
    Q_OBJECT

private slots:
    void oneInstancePerPage()
    {
        Recording recording;
        const ClassRegistration registration(BrowserClass, RecordingClass(recording));
        OpenWebPage("www.example.com");
        QCOMPARE(recording.log, QStringList({"#1 create", "#1 put Visible true",
                                             "#1 call Navigate www.example.com", "#1 release"}));
        OpenWebPage("www.example.com/store");
        QCOMPARE(recording.log.mid(4),
                 QStringList({"#2 create", "#2 put Visible true",
                              "#2 call Navigate www.example.com/store", "#2 release"}));
    }

    void failuresCarryCodeAndText_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("code");
        QTest::addColumn<QStringList>("log");
        const QStringList upToNavigate{"#1 create", "#1 put Visible true",
                                       "#1 call Navigate www.example.com", "#1 release"};
        QTest::newRow("no class registered")
            << "no class"
            << "Invalid class string" << 0x800401F3u << QStringList();
        QTest::newRow("instance not created")
            << "no instance"
            << "Not enough memory resources are available to complete this operation" << 0x8007000Eu
            << QStringList();
        QTest::newRow("Visible unknown") << "Visible unknown"
                                         << "Method 'Visible' not supported by automation object"
                                         << 0x80020006u << QStringList({"#1 create", "#1 release"});
        QTest::newRow("Navigate unknown")
            << "Navigate unknown"
            << "Method 'Navigate' not supported by automation object" << 0x80020006u
            << QStringList({"#1 create", "#1 put Visible true", "#1 release"});
        QTest::newRow("code with a message") << "type mismatch"
                                             << "Type mismatch" << 0x80020005u << upToNavigate;
        QTest::newRow("code without a message")
            << "unknown code"
            << "OLE error 8004dead" << 0x8004DEADu << upToNavigate;
        QTest::newRow("object describes its failure")
            << "described"
            << "The address could not be reached" << 0x800C0005u << upToNavigate;
        QTest::newRow("object gives no description")
            << "undescribed"
            << "Exception occurred" << 0x80020009u << upToNavigate;
    }
    void failuresCarryCodeAndText()
    {
        QFETCH(QString, fault);
        QFETCH(QString, text);
        QFETCH(uint, code);
        QFETCH(QStringList, log);

        Recording recording;
        recording.creationFailure = fault == "no instance" ? OutOfMemory : Ok;
        recording.unknownName = fault.endsWith(" unknown") ? fault.section(' ', 0, 0) : QString();
        if (fault == "type mismatch")
            recording.navigateResult = TypeMismatch;
        else if (fault == "unknown code")
            recording.navigateResult = 0x8004DEAD;
        else if (fault == "described" || fault == "undescribed")
            recording.navigateResult = ExceptionOccurred;
        if (fault == "described")
            recording.navigateException = {0x800C0005, "The address could not be reached.  "};
        const ClassRegistration registration(
            BrowserClass, fault == "no class" ? Factory() : RecordingClass(recording));

        try {
            OpenWebPage("www.example.com");
            QFAIL("no error raised");
        } catch (const EOleError &error) {
            QCOMPARE(QString::fromStdString(error.what()), text);
            QCOMPARE(error.code(), code);
        }
        QCOMPARE(recording.log, log);
    }

    void layerNeedsInitialisedThread()
    {
        HResult before = Ok, outer = Ok, inner = Ok, afterInner = Ok, afterOuter = Ok;
        std::string refusal;
        std::thread([&] {
            ClassId id;
            before = ClassIdFromProgId(BrowserClass, id);
            try {
                OpenWebPage("www.example.com");
            } catch (const EOleError &error) {
                refusal = error.what();
            }
            {
                const AutomationSession session;
                outer = session.result();
                {
                    const AutomationSession nested;
                    inner = nested.result();
                }
                afterInner = ClassIdFromProgId(BrowserClass, id);
            }
            afterOuter = ClassIdFromProgId(BrowserClass, id);
        }).join();
        QCOMPARE(before, NotInitialised);
        QCOMPARE(refusal, "CoInitialize has not been called");
        QCOMPARE(outer, Ok);
        QCOMPARE(inner, AlreadyInitialised);
        QCOMPARE(afterInner, Ok);
        QCOMPARE(afterOuter, NotInitialised);
    }

    void defaultClassHandsAddressToDesktop_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QUrl>("url");
        QTest::newRow("bare address") << "www.example.com" << QUrl("http://www.example.com");
        QTest::newRow("with scheme")
            << "https://shop.example.com/radio" << QUrl("https://shop.example.com/radio");
        QTest::newRow("blanks around") << " www.example.com/support?lang=en "
                                       << QUrl("http://www.example.com/support?lang=en");
    }
    void defaultClassHandsAddressToDesktop()
    {
        QFETCH(QString, address);
        QFETCH(QUrl, url);
        UrlRecorder desktop;
        QDesktopServices::setUrlHandler("http", &desktop, "open");
        QDesktopServices::setUrlHandler("https", &desktop, "open");
        OpenWebPage(address.toStdString());
        QDesktopServices::unsetUrlHandler("http");
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(desktop.urls, QList<QUrl>{url});
    }

    void defaultClassReportsRefusals_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("code");
        QTest::newRow("no address") << " "
                                    << "The parameter is incorrect" << 0x80070057u;
        // The offscreen platform has no browser to start.
        QTest::newRow("desktop cannot open it")
            << "www.example.com"
            << "The desktop could not open http://www.example.com" << 0x80004005u;
    }
    void defaultClassReportsRefusals()
    {
        QFETCH(QString, address);
        QFETCH(QString, text);
        QFETCH(uint, code);
        try {
            OpenWebPage(address.toStdString());
            QFAIL("no error raised");
        } catch (const EOleError &error) {
            QCOMPARE(QString::fromStdString(error.what()), text);
            QCOMPARE(error.code(), code);
        }
    }

    void helpDocumentBesideExecutable_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("folder");
        QTest::newRow("with extension") << "/opt/nmct/bin/nmct.bin"
                                        << "/opt/nmct/bin/nmct.pdf"
                                        << "/opt/nmct/bin/";
        QTest::newRow("without extension") << "/opt/nmct/bin/nmct"
                                           << "/opt/nmct/bin/nmct.pdf"
                                           << "/opt/nmct/bin/";
        QTest::newRow("dot only in a folder") << "/opt/nmct-1.2/bin/nmct"
                                              << "/opt/nmct-1.2/bin/nmct.pdf"
                                              << "/opt/nmct-1.2/bin/";
        QTest::newRow("last dot counts") << "/opt/nmct.tar.gz"
                                         << "/opt/nmct.tar.pdf"
                                         << "/opt/";
        QTest::newRow("bare name") << "nmct.exe"
                                   << "nmct.pdf"
                                   << "";
    }
    void helpDocumentBesideExecutable()
    {
        QFETCH(QString, executable);
        QFETCH(QString, document);
        QFETCH(QString, folder);
        const HelpDocument help = HelpDocumentFor(executable);
        QCOMPARE(help.path, document);
        QCOMPARE(help.workingFolder, folder);
    }

    void helpDocumentOpenedFromItsFolder()
    {
        const QString before = QDir::currentPath();
        UrlRecorder desktop;
        QDesktopServices::setUrlHandler("file", &desktop, "open");
        OpenHelpDocument();
        QDesktopServices::unsetUrlHandler("file");
        const QString folder = QCoreApplication::applicationDirPath();
        QCOMPARE(desktop.urls, QList<QUrl>{QUrl::fromLocalFile(folder + "/test_desktop.pdf")});
        QCOMPARE(desktop.folders, QStringList{folder});
        QCOMPARE(QDir::currentPath(), before);
        OpenHelpDocument(); // nobody to open it: nothing reported, nothing thrown
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    // As the program entry: the automation layer is up for the main thread throughout.
    const AutomationSession session;
    TestWebLink tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "test_web_link.moc"
