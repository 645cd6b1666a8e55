#include "PtyPair.h"
#include "THidApiBackend.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdarg>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// The backend users run (hidapi over hidraw) opening, reading, writing and closing a node.
// Without /dev/uhid no hidraw node can be made here, so the node is a pseudo-terminal that
// answers the one request that tells hidapi a node is a hidraw device (its report
// descriptor size); reads and writes then go through the real descriptor, unchanged.
class tst_HidApiBackend : public QObject {
    Q_OBJECT

private slots:
    void openWriteReadClose();
    void readTimesOutEmpty();
    void unpluggedWhileReading();
    void openFailureSaysWhy_data();
    void openFailureSaysWhy();
};

namespace {

// The device numbers of the nodes that act as hidraw devices.
dev_t gHidrawLike = 0;
constexpr int kDescriptorSize = 34;

bool IsHidrawLike(int fd)
{
    struct stat st {};
    return gHidrawLike != 0 && ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == gHidrawLike;
}

dev_t DeviceOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_rdev : 0;
}

// Descriptors of this process open on that node.
int OpenCount(dev_t node)
{
    int n = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == node)
            ++n;
    }
    ::closedir(dir);
    return n;
}

struct TNode {
    PtyPair pty;
    TNode() { gHidrawLike = DeviceOf(pty.SlavePath()); }
    ~TNode() { gHidrawLike = 0; }
    QByteArray Path() const { return QFile::encodeName(pty.SlavePath()); }
};

} // namespace

// hidapi asks the node for its report descriptor size; a hidraw-like node answers.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (request == HIDIOCGRDESCSIZE && IsHidrawLike(fd)) {
        *static_cast<int*>(arg) = kDescriptorSize;
        return 0;
    }
    using TIoctl = int (*)(int, unsigned long, ...);
    static const auto real = reinterpret_cast<TIoctl>(::dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, arg);
}

void tst_HidApiBackend::openWriteReadClose()
{
    TNode node;
    QVERIFY(node.pty.IsValid());
    THidApiBackend backend;
    const int before = OpenCount(gHidrawLike);
    int error = -1;
    THidHandle* handle = backend.Open(node.Path(), &error);
    QVERIFY(handle);
    QCOMPARE(OpenCount(gHidrawLike), before + 1);

    // An output report goes out as written, report id first.
    const QByteArray report = QByteArray::fromHex("01020304") + QByteArray(60, '\0');
    QCOMPARE(backend.Write(handle, reinterpret_cast<const quint8*>(report.constData()), int(report.size())),
             int(report.size()));
    QCOMPARE(node.pty.Read(int(report.size())), report);

    // An input report the device sends is read whole.
    QVERIFY(node.pty.Write(QByteArray::fromHex("1112131415161718")));
    quint8 buffer[64] = {};
    QString why;
    int n = 0;
    for (int tries = 0; tries < 50 && n == 0; ++tries)
        n = backend.Read(handle, buffer, int(sizeof buffer), 100, &why);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), n), QByteArray::fromHex("1112131415161718"));

    backend.Close(handle);
    QCOMPARE(OpenCount(gHidrawLike), before);
}

void tst_HidApiBackend::readTimesOutEmpty()
{
    TNode node;
    THidApiBackend backend;
    THidHandle* handle = backend.Open(node.Path(), nullptr);
    QVERIFY(handle);
    quint8 buffer[8] = {};
    QString why;
    QCOMPARE(backend.Read(handle, buffer, int(sizeof buffer), 20, &why), 0);
    QVERIFY(why.isEmpty());
    backend.Close(handle);
}

void tst_HidApiBackend::unpluggedWhileReading()
{
    TNode node;
    THidApiBackend backend;
    THidHandle* handle = backend.Open(node.Path(), nullptr);
    QVERIFY(handle);
    node.pty.CloseMaster();
    quint8 buffer[8] = {};
    QString why;
    QCOMPARE(backend.Read(handle, buffer, int(sizeof buffer), 1000, &why), -1);
    QVERIFY(!why.isEmpty());
    // The handle of a vanished node still closes.
    const int before = OpenCount(gHidrawLike);
    backend.Close(handle);
    QCOMPARE(OpenCount(gHidrawLike), before - 1);
}

void tst_HidApiBackend::openFailureSaysWhy_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<int>("error");
    QTest::newRow("no such node") << QString() << ENOENT;
    QTest::newRow("not a hidraw node") << QStringLiteral("pty") << ENOTTY;
    // Root opens anything: the refusal a user meets can only be seen by one.
    if (::geteuid() != 0) QTest::newRow("root-only node") << QStringLiteral("file") << EACCES;
}

void tst_HidApiBackend::openFailureSaysWhy()
{
    QFETCH(QString, node);
    QFETCH(int, error);
    QTemporaryDir dir;
    PtyPair other; // a terminal: it opens, but does not answer as hidraw
    QString path = dir.filePath(QStringLiteral("hidraw0"));
    if (node == QStringLiteral("pty")) {
        path = other.SlavePath();
    } else if (node == QStringLiteral("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(QFileDevice::Permissions()));
    }
    const int before = OpenCount(DeviceOf(other.SlavePath()));
    THidApiBackend backend;
    int code = 0;
    QVERIFY(!backend.Open(QFile::encodeName(path), &code));
    QCOMPARE(code, error);
    QCOMPARE(OpenCount(DeviceOf(other.SlavePath())), before);
}

QTEST_GUILESS_MAIN(tst_HidApiBackend)
#include "tst_hidapibackend.moc"
