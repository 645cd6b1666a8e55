// Network port names come from the user and from the settings file, where anyone may have
// edited them. Whatever the text: a name that parses is valid and reads back as itself, and
// the [NetworkPorts] list loads only valid, distinct names, saves them back as they loaded,
// and keeps every other line of the file.
//
// Input: [mode: 1 byte][text as UTF-8: the rest]; mode bit 0: the text is a whole settings
// file (else one port name, also put into a list).

#include "IniFile.h"
#include "TNetworkAddress.h"
#include "TNetworkPorts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok) std::abort();
}

void CheckName(const QString& name)
{
    const TNetworkAddress a = TNetworkAddress::Parse(name);
    if (a.Kind == TNetworkKind::None) {
        check(a.Host.isEmpty() && a.Port == 0);
        return;
    }
    check(a.IsValid());
    check(TNetworkAddress::IsValidHost(a.Host));
    check(!a.FullName().isEmpty());
    // The name it is written as reads back as the same port.
    check(TNetworkAddress::Parse(a.PortName()) == a);
}

QTemporaryDir& Dir()
{
    // In memory where there is such a folder: saving syncs the file, which a disk makes slow.
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm/fuzz_networkaddress-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_networkaddress-XXXXXX"));
    return dir;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void CheckList(const QByteArray& file)
{
    const QString path = Dir().filePath(QStringLiteral("Corvane.ini"));
    QFile::remove(path);
    {
        QFile f(path);
        check(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    TIniFile before;
    const bool readable = before.Load(path);
    TNetworkPorts ports(path);
    check(ports.Load() == readable);
    const QList<TNetworkAddress> list = ports.Addresses();
    check(list.size() <= 256);
    for (qsizetype i = 0; i < list.size(); ++i) {
        check(list[i].IsValid());
        for (qsizetype j = 0; j < i; ++j) check(!(list[i] == list[j]));
        check(ports.ByFullName(list[i].FullName()).IsValid());
    }
    if (!readable) {
        // Never written over.
        check(!ports.Save());
        check(ReadAll(path) == file);
        return;
    }
    check(ports.Save());
    TNetworkPorts again(path);
    check(again.Load());
    check(again.Addresses() == list);
    // Every other section reads as it did.
    TIniFile after;
    check(after.Load(path));
    const QString mine = QString::fromUtf16(TNetworkPorts::SectionName);
    for (const QString& section : before.Sections()) {
        if (section.compare(mine, Qt::CaseInsensitive) == 0) continue;
        for (const QString& key : before.Keys(section))
            check(after.ReadString(section, key) == before.ReadString(section, key));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 65536) return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (data[0] & 1) {
        CheckList(bytes);
        return 0;
    }
    const QString name = QString::fromUtf8(bytes);
    CheckName(name);
    CheckList("[X]\r\nkeep=1\r\n[NetworkPorts]\r\nCount=3\r\nPort1=" + name.toUtf8() +
              "\r\nPort2=tcp://a:1\r\nPort3=" + name.toUtf8() + "\r\n");
    return 0;
}
