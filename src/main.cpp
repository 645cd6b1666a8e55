#include "CvCommandLine.h"
#include "CvMessages.h"
#include "TCvHeadlessRun.h"
#include "TCvInstance.h"
#include "TSplitViewForm.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

void Print(FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

// True when a running window took the device; *code is what this process ends with then,
// or when the window refused it.
bool HandedOver(const QString& cfgDir, const TCvCommandLine& o, int* code)
{
    QString reply;
    switch (HandOver(cfgDir, o.Arguments(), &reply)) {
    case THandOver::Taken:
        Print(stdout, u"corvane: %1 opens in the running Corvane window (pid %2).\n"_s.arg(o.Device, reply));
        *code = 0;
        return true;
    case THandOver::Refused:
        Print(stderr, u"corvane: %1\n"_s.arg(reply));
        *code = kExitBadArguments;
        return true;
    case THandOver::NoAnswer:
        Print(stderr, u"corvane: %1\n"_s.arg(reply));
        *code = 1;
        return true;
    case THandOver::NoWindow: break;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    // Everything the command line can get wrong is told before any window.
    const TCvCommandLineResult parsed = ParseCommandLine(args);
    if (!parsed.Ok()) {
        Print(stderr, u"corvane: %1\nTry 'corvane --help' for more information.\n"_s.arg(parsed.Error));
        return kExitBadArguments;
    }
    const TCvCommandLine& o = parsed.Options;
    if (o.Help) {
        Print(stdout, CommandLineHelp());
        return 0;
    }
    if (o.Version) {
        Print(stdout, CommandLineVersion());
        return 0;
    }
    if (!o.Script.isEmpty()) {
        // A test bench's run: no window, no display; the log goes to standard output.
        if (!o.Language.isEmpty()) SetMessageLanguage(o.Language);
        return RunHeadlessScript(o, argc, argv);
    }
    const QString cfgDir = TSplitViewForm::ConfigFolder();
    if (o.List) {
        // No display is needed for this.
        Print(stdout, ListDevicesText(u"/sys"_s, u"/dev"_s, cfgDir + u"Setting/Corvane.ini"_s, true));
        return 0;
    }
    const bool handOver = !o.Device.isEmpty() && !o.NewWindow;
    if (handOver) {
        // The local socket wants an event dispatcher; the window's application comes later.
        QCoreApplication probe(argc, argv);
        int code = 0;
        if (HandedOver(cfgDir, o, &code)) return code;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Corvane"_s);
    QApplication::setApplicationDisplayName(u"CORVANE 科万串口终端"_s);
    TCvInstanceServer server;
    if (!server.Listen(cfgDir) && handOver) {
        // Another window started meanwhile and listens now: it takes the device.
        int code = 0;
        if (HandedOver(cfgDir, o, &code)) return code;
    }
    const QLocale locale = o.Language == u"EN"_s   ? QLocale(QLocale::English, QLocale::UnitedStates)
                           : o.Language == u"CN"_s ? QLocale(QLocale::Chinese, QLocale::China)
                                                   : QLocale::system();
    TSplitViewForm form(locale);
    form.TakeRequestsFrom(&server);
    form.show();
    if (!o.Device.isEmpty()) form.OpenFromCommandLine(o);
    return app.exec();
}
