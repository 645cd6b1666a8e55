#include "TCvInstance.h"

#include "CvHidText.h"
#include "THidApiBackend.h"
#include "TNetworkPorts.h"
#include "TVirtualPorts.h"
#include "cvPcDeviceMgt.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

TCvInstanceServer::TCvInstanceServer(QObject* parent) : QObject(parent), FServer(new QLocalServer(this))
{
    // Only this user may connect (the runtime folder is the user's alone, too).
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = FServer->nextPendingConnection()) Take(s);
    });
}

TCvInstanceServer::~TCvInstanceServer() = default;

QString TCvInstanceServer::SocketPath(const QString& cfgDir)
{
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) runtime = QDir::tempPath();
    // Windows of other configuration folders (another XDG_DATA_HOME) are other windows.
    const QByteArray hash =
        QCryptographicHash::hash(QDir::cleanPath(cfgDir).toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return runtime + u"/corvane-"_s + QString::fromLatin1(hash) + u".socket"_s;
}

bool TCvInstanceServer::Listening() const
{
    return FServer->isListening();
}

bool TCvInstanceServer::Listen(const QString& cfgDir)
{
    FError.clear();
    const QString path = SocketPath(cfgDir);
    // Asked first: listening with access options puts a new socket over an existing one.
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(1000)) {
        probe.abort();
        FError = u"another Corvane window listens on %1"_s.arg(path);
        return false;
    }
    // Left behind by a window that did not end in order.
    QLocalServer::removeServer(path);
    if (FServer->listen(path)) return true;
    FError = FServer->errorString();
    return false;
}

void TCvInstanceServer::Take(QLocalSocket* socket)
{
    socket->setParent(this);
    // A client that says nothing is not waited for forever.
    auto* timer = new QTimer(socket);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, socket, [socket] { socket->abort(); });
    timer->start(kTimeoutMs);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (socket->property("answered").toBool()) return;
        QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        if (request.size() > kMaxRequestBytes) {
            socket->abort();
            return;
        }
        const qsizetype end = request.indexOf('\n');
        if (end < 0) {
            socket->setProperty("request", request);
            return;
        }
        socket->setProperty("answered", true);
        const QJsonDocument doc = QJsonDocument::fromJson(request.left(end));
        QStringList args;
        bool valid = doc.isObject() && doc.object().value(u"args"_s).isArray();
        for (const QJsonValue& v : doc.object().value(u"args"_s).toArray()) {
            valid = valid && v.isString();
            args << v.toString();
        }
        TCvCommandLineResult r;
        if (valid) r = ParseCommandLine(args);
        else r.Error = u"not a request of Corvane"_s;
        const QByteArray answer = r.Ok()
                                      ? "ok " + QByteArray::number(QCoreApplication::applicationPid()) + '\n'
                                      : "error " + r.Error.toUtf8() + '\n';
        socket->write(answer);
        socket->flush();
        socket->disconnectFromServer();
        // Answered first: what the window does with it is told in its own log.
        if (r.Ok() && !r.Options.Device.isEmpty()) emit Requested(r.Options);
    });
}

THandOver HandOver(const QString& cfgDir, const QStringList& arguments, QString* reply, int timeoutMs)
{
    QLocalSocket s;
    s.connectToServer(TCvInstanceServer::SocketPath(cfgDir));
    if (!s.waitForConnected(timeoutMs)) return THandOver::NoWindow;
    const QJsonObject request{{u"args"_s, QJsonArray::fromStringList(arguments)}};
    s.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    s.flush();
    QByteArray answer;
    while (!answer.contains('\n') && (s.bytesAvailable() > 0 || s.waitForReadyRead(timeoutMs)))
        answer += s.readAll();
    const QString text = QString::fromUtf8(answer).trimmed();
    if (text.startsWith(u"ok "_s)) {
        if (reply) *reply = text.mid(3);
        return THandOver::Taken;
    }
    if (text.startsWith(u"error "_s)) {
        if (reply) *reply = text.mid(6);
        return THandOver::Refused;
    }
    if (reply) *reply = u"the running Corvane window did not answer"_s;
    return THandOver::NoAnswer;
}

QString ListDevicesText(const QString& sysRoot, const QString& devRoot, const QString& settingsFile,
                        bool withHid)
{
    TVirtualPorts virtualPorts(settingsFile);
    virtualPorts.Load();
    QList<TSerialDeviceInfo> devices = EnumClassDevices(sysRoot, &virtualPorts, devRoot);
    TNetworkPorts network(settingsFile);
    network.Load();
    devices += network.Devices();
    if (withHid) {
        THidApiBackend hid;
        QStringList seen;
        for (const THidDeviceInfo& info : hid.Enumerate()) {
            TSerialDeviceInfo d;
            d.FullName =
                HidDeviceName(HidCleanProductString(info.ProductString), info.VendorID, info.ProductID);
            // One line per name, as the window lists it.
            if (seen.contains(d.FullName)) continue;
            seen << d.FullName;
            d.DevicePath = QString::fromLocal8Bit(info.Path);
            d.Kind = TSerialPortKind::Usb;
            d.VendorId = info.VendorID;
            d.ProductId = info.ProductID;
            devices += d;
        }
    }
    return DeviceListText(devices);
}
