#pragma once

// A fresh data, config and home folder for each window a test creates, so that the
// settings, language files, logs and the desktop launcher stay inside the test.

#include "CvMessageBox.h"
#include "TSplitViewForm.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

struct UiTestEnv {
    QTemporaryDir tmp;
    QStringList boxes;

    UiTestEnv()
    {
        qputenv("XDG_DATA_HOME", (tmp.path() + "/data").toUtf8());
        qputenv("XDG_CONFIG_HOME", (tmp.path() + "/config").toUtf8());
        qputenv("HOME", (tmp.path() + "/home").toUtf8());
        QDir().mkpath(DesktopDir());
        // No serial port of the machine shows: tests add the ports they need.
        QDir().mkpath(tmp.path() + "/sys/class/tty");
        FOldSysRoot = TSplitViewForm::DefaultSysRoot();
        TSplitViewForm::SetDefaultSysRoot(tmp.path() + "/sys");
        SetInformationPresenter([this](const QString& c, const QString& t) { boxes << c + "|" + t; });
    }
    ~UiTestEnv()
    {
        SetInformationPresenter({});
        TSplitViewForm::SetDefaultSysRoot(FOldSysRoot);
    }
    QString FOldSysRoot;

    QString DesktopDir() const { return tmp.path() + "/home/Desktop"; }
    QString CfgDir() const { return tmp.path() + "/data/My Corvane/"; }
    QString SettingDir() const { return CfgDir() + "Setting/"; }

    // Writes a file under the settings folder before the window starts.
    void WriteSetting(const QString& name, const QByteArray& text) const
    {
        QDir().mkpath(SettingDir());
        QFile f(SettingDir() + name);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

    static std::unique_ptr<TSplitViewForm> Start(const char* locale)
    {
        return std::make_unique<TSplitViewForm>(QLocale(QString::fromLatin1(locale)));
    }
};

inline QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The keys of one section in file order.
inline QStringList KeysInOrder(const QByteArray& text, const QString& section)
{
    QStringList keys;
    bool inside = false;
    for (const QString& line : QString::fromUtf8(text).split(QStringLiteral("\r\n"))) {
        if (line.startsWith(u'[')) {
            inside = line == u'[' + section + u']';
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (inside && eq > 0) keys << line.left(eq);
    }
    return keys;
}
