// Draws the main window into a PNG for the documentation:
//   ui_screenshot <zh_CN|en_US> <file.png> [theme] [left page] [scene]
// The left page is the index of the side panel's tab (0 settings, 1 preferences, ...).
// Scenes with a device: "esp32" opens the simulator's coloured ESP32 log; "console" shows
// `less` of a coloured log in a port's console (less runs on a pty of its own behind the
// port's pty). Runs against a throw-away data folder so that no real settings are read or
// written.

#include "TCvConsole.h"
#include "TSplitView.h"
#include "TSplitViewForm.h"
#include "TTabSet.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Selects a listed (or newly added) port by its path and opens it as the open button does.
bool OpenPort(TSplitViewForm& form, const QString& path)
{
    const QString name = QStringLiteral("Virtual Port (%1)").arg(path);
    auto* list = form.findChild<QComboBox*>(QStringLiteral("ComboBoxEx1"));
    if (list->findText(name) < 0 && !form.AddVirtualPort(path)) return false;
    list->setCurrentIndex(list->findText(name));
    form.ComboBoxEx1Change();
    form.findChild<QPushButton*>(QStringLiteral("Button2"))->click();
    return true;
}

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Copies what one side of a pty pair says to the other.
void Relay(int from, int to, QObject* owner)
{
    auto* n = new QSocketNotifier(from, QSocketNotifier::Read, owner);
    QObject::connect(n, &QSocketNotifier::activated, owner, [from, to, n] {
        char buf[4096];
        const ssize_t got = ::read(from, buf, sizeof buf);
        if (got <= 0) {
            n->setEnabled(false);
            return;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t w = ::write(to, buf + done, size_t(got - done));
            if (w <= 0) return;
            done += w;
        }
    });
}

QByteArray ColouredLog()
{
    QByteArray b;
    const char* const levels[] = {"\x1b[0;32mI", "\x1b[0;32mI", "\x1b[0;33mW", "\x1b[0;32mI", "\x1b[0;31mE"};
    const char* const texts[] = {"wifi: connected to ap SSID:lab-2g, channel 6", "main: sensor 23.5 C, 45 %",
                                 "wifi: bcn_timeout, ap_probe_send_start", "mqtt: published, msg_id=%d",
                                 "sensor: read failed (ESP_ERR_TIMEOUT)"};
    for (int i = 0; i < 80; ++i) {
        QByteArray text = texts[i % 5];
        text.replace("%d", QByteArray::number(4000 + i));
        b +=
            levels[i % 5] + QByteArray(" (") + QByteArray::number(1000 + i * 137) + ") " + text + "\x1b[0m\n";
    }
    return b;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3 || argc > 6) {
        std::fprintf(stderr, "usage: %s <locale> <file.png> [theme] [left page] [esp32|console]\n", argv[0]);
        return 2;
    }
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("HOME", data.path().toUtf8());
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    TSplitViewForm form{QLocale(QString::fromLatin1(argv[1]))};
    if (argc >= 4 && argv[3][0] != '\0') {
        const QString theme = QString::fromLocal8Bit(argv[3]);
        if (!form.GetStyleNames().contains(theme)) {
            std::fprintf(stderr, "no theme named %s\n", argv[3]);
            return 2;
        }
        TSplitViewForm::ApplyStyleByName(theme);
    }
    const QByteArray scene = argc == 6 ? QByteArray(argv[5]) : QByteArray();
    if (!scene.isEmpty() && scene != "esp32" && scene != "console") {
        std::fprintf(stderr, "no scene named %s\n", argv[5]);
        return 2;
    }
    form.show();
    form.SV_L->Open();
    // With a device the right panel stays closed: the log or the console is the picture.
    if (scene.isEmpty()) form.SV_R->Open();
    if (argc >= 5 && argv[4][0] != '\0') {
        auto* tabs = form.findChild<TTabSet*>(QStringLiteral("TabSet1"));
        const int page = QString::fromLatin1(argv[4]).toInt();
        if (!tabs || page < 0 || page >= tabs->count()) {
            std::fprintf(stderr, "no left page %s\n", argv[4]);
            return 2;
        }
        tabs->setCurrentIndex(page);
    }

    QProcess sim;
    pid_t less = -1;
    if (scene == "esp32") {
        const QString link = data.filePath(QStringLiteral("esp32"));
        sim.start(QStringLiteral(CORVANE_SIM),
                  {QStringLiteral("--link"), link, QStringLiteral("--esp-log"), QStringLiteral("150")});
        for (int i = 0; i < 50 && !QFile::exists(link); ++i) Wait(100);
        if (!QFile::exists(link) || !OpenPort(form, link)) {
            std::fprintf(stderr, "the simulator could not be opened\n");
            return 1;
        }
        Wait(2500);
    } else if (scene == "console") {
        int portMaster = -1, portSlave = -1;
        char portName[256] = {};
        if (::openpty(&portMaster, &portSlave, portName, nullptr, nullptr) != 0) return 1;
        if (!OpenPort(form, QString::fromLocal8Bit(portName))) return 1;
        form.findChild<QCheckBox*>(QStringLiteral("CheckBoxConsole"))->click();
        Wait(300);
        auto* console = form.findChild<TCvConsole*>(QStringLiteral("Console"));
        if (!console) {
            std::fprintf(stderr, "no console\n");
            return 1;
        }
        QFile log(data.filePath(QStringLiteral("boot.log")));
        if (!log.open(QIODevice::WriteOnly) || log.write(ColouredLog()) < 0) return 1;
        log.close();
        winsize size{};
        size.ws_row = static_cast<unsigned short>(console->Rows());
        size.ws_col = static_cast<unsigned short>(console->Columns());
        int lessMaster = -1;
        less = ::forkpty(&lessMaster, nullptr, nullptr, &size);
        if (less == 0) {
            ::setenv("TERM", "xterm-256color", 1);
            ::setenv("LANG", "C.UTF-8", 1);
            ::setenv("LESS", "", 1);
            ::setenv("LESSHISTFILE", "-", 1);
            if (::chdir(data.path().toLocal8Bit().constData()) != 0) ::_exit(127);
            ::execlp("less", "less", "-R", "boot.log", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (less < 0) return 1;
        Relay(portMaster, lessMaster, &form);
        Relay(lessMaster, portMaster, &form);
        Wait(1500);
    }

    const QString file = QString::fromLocal8Bit(argv[2]);
    int rc = 1;
    QTimer::singleShot(1500, &form, [&] {
        rc = form.grab().save(file) ? 0 : 1;
        app.quit();
    });
    app.exec();
    if (less > 0) {
        ::kill(less, SIGTERM);
        ::waitpid(less, nullptr, 0);
    }
    if (sim.state() != QProcess::NotRunning) {
        sim.terminate();
        sim.waitForFinished(3000);
    }
    return rc;
}
