// How fast a script stops, and how many send/expect rounds it makes a second against a
// modem on a pty. A plain harness: it needs the event loop and a real pty.
//   bench_script [repetitions=20] [rounds=2000]
#include "PtyPair.h"
#include "TCvComPortObj.h"
#include "TCvScriptRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

struct NoHost : TCvScriptHost {
    TCvComPortObj* OpenPort(const QString&, const TCvCommandLine&, QString* error) override
    {
        *error = QStringLiteral("none");
        return nullptr;
    }
    void ScriptMessage(const QString&) override {}
};

void Report(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s min %7.2f ms  median %7.2f ms  max %7.2f ms  (%zu runs)\n", what, ms.front(),
                ms[ms.size() / 2], ms.back(), ms.size());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    PtyPair pty;
    TCvComPortObj port(nullptr, QStringLiteral("Virtual Port (%1)").arg(pty.SlavePath()));
    port.CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                           rfAscii, nullptr, false, false, false, false, true);
    port.Open();
    // The modem: OK to every line.
    QSocketNotifier modem(pty.MasterFd(), QSocketNotifier::Read);
    QObject::connect(&modem, &QSocketNotifier::activated, &modem, [&pty] {
        char buf[4096];
        const ssize_t n = ::read(pty.MasterFd(), buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] == '\r' && ::write(pty.MasterFd(), "\r\nOK\r\n", 6) != 6) std::perror("write");
    });
    NoHost host;

    const char* stops[][2] = {{"stop: while (true) {}", "while (true) {}"},
                              {"stop: sleep(600000)", "sleep(600000);"},
                              {"stop: port.expect(\"never\", 600000)", "port.expect(\"never\", 600000);"}};
    for (const auto& s : stops) {
        std::vector<double> ms;
        for (int i = 0; i < repetitions; ++i) {
            TCvScriptRun run(&host);
            run.Start(QString::fromUtf8(s[1]), QStringLiteral("bench.js"), &port);
            QTest::qWait(100);
            QElapsedTimer clock;
            clock.start();
            run.Stop();
            run.WaitFinished(60000);
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        Report(s[0], ms);
    }

    TCvScriptRun run(&host);
    QElapsedTimer clock;
    clock.start();
    run.Start(
        QStringLiteral("for (var i = 0; i < %1; ++i) { port.send(\"AT\\r\"); port.expect(\"OK\", 5000); }")
            .arg(rounds),
        QStringLiteral("bench.js"), &port);
    run.WaitFinished(600000);
    const double s = double(clock.nsecsElapsed()) / 1e9;
    std::printf("%d send/expect rounds: %.2f s, %.0f rounds/s (%s)\n", rounds, s, rounds / s,
                qPrintable(run.Result().Text()));
    return 0;
}
