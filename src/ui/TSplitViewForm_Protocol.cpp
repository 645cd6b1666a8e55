#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "TCvComPortObj.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

// Passes typed characters of an address box through its key handler; a character the
// handler turns into CR is not inserted.
class TKeyPressFilter : public QObject {
public:
    TKeyPressFilter(QObject* parent, std::function<void(QChar&)> handler)
        : QObject(parent), FHandler(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        // Return and Enter would add the text to the box's list.
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) return true;
        const QString text = key->text();
        // Keys that type no character (cursor keys, Delete, Tab, shortcuts) keep their meaning.
        if (text.isEmpty() || key->key() == Qt::Key_Delete || key->key() == Qt::Key_Tab ||
            key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ControlModifier))
            return false;
        for (QChar ch : text) {
            FHandler(ch);
            if (ch == QChar(13)) return true;
        }
        return false;
    }

private:
    std::function<void(QChar&)> FHandler;
};

void DigitsOnly(QChar& Key) {
    if (Key != QChar(8) && !(Key >= u'0' && Key <= u'9')) Key = QChar(13);
}

} // namespace

void TSplitViewForm::ComboBox10KeyPress(QChar& Key) {
    DigitsOnly(Key);
}
void TSplitViewForm::ComboBox11KeyPress(QChar& Key) {
    DigitsOnly(Key);
}

void TSplitViewForm::ConnectProtocolPage() {
    ComboBox10->setInsertPolicy(QComboBox::NoInsert);
    ComboBox11->setInsertPolicy(QComboBox::NoInsert);
    ComboBox10->lineEdit()->installEventFilter(
        new TKeyPressFilter(ComboBox10, [this](QChar& k) { ComboBox10KeyPress(k); }));
    ComboBox11->lineEdit()->installEventFilter(
        new TKeyPressFilter(ComboBox11, [this](QChar& k) { ComboBox11KeyPress(k); }));
    connect(Button16, &QPushButton::clicked, this, &TSplitViewForm::Button16Click);
}

void TSplitViewForm::Button16Click() {
    std::array<quint8, ProtocolAddressBufferSize> addressBuffer{};
    std::array<quint8, ProtocolDataBufferSize> dataBuffer{};
    const QString addressText =
        ComboBox10->currentText().trimmed() + u',' + ComboBox11->currentText().trimmed();
    int addressDropped = 0;
    const int A =
        HexStrToBuffer(addressText, addressBuffer.data(), int(addressBuffer.size()), &addressDropped);

    TCvComPortObj* port = GetDeciceByFullName(GetCurrentDeviceName());
    if (!port) return;
    // Text beyond a buffer is cut there; the user learns how much was left out.
    if (addressDropped > 0)
        port->Log(Msg(u"Address text longer than %1 bytes: %2 bytes dropped"_s)
                      .arg(QString::number(addressBuffer.size()), QString::number(addressDropped)));

    const QString bus = ComboBox9->currentText();
    const QString operation = ComboBox12->currentText();
    const QPointer<TCvComPortObj> target = port;
    std::function<void()> send;
    if (operation == u"Connect"_s) {
        send = [target] {
            if (target) target->RequestProtocolConnection();
        };
    } else if (operation == u"Read"_s) {
        const quint16 type = bus == u"I2C"_s ? 50 : bus == u"SPI"_s ? 52 : 101;
        send = [target, addressBuffer, A, type] {
            if (target)
                target->SendProtocolData(addressBuffer.data(), int(addressBuffer.size()), A, type, false);
        };
    } else if (operation == u"Write"_s) {
        const quint16 type = bus == u"I2C"_s ? 51 : bus == u"SPI"_s ? 53 : 101;
        // The lines joined as the text box holds them: CR LF between lines.
        QByteArray written;
        QString why;
        if (!ParseHexText(Memo5->toPlainText(), &written, &why)) {
            port->Log(Msg(u"Protocol write: %1 Nothing was sent."_s).arg(why));
            return;
        }
        const int D = int(std::min<qsizetype>(written.size(), qsizetype(dataBuffer.size())));
        const int dataDropped = int(written.size() - D);
        std::copy_n(reinterpret_cast<const quint8*>(written.constData()), D, dataBuffer.begin());
        if (dataDropped > 0)
            port->Log(Msg(u"Data text longer than %1 bytes: %2 bytes dropped"_s)
                          .arg(QString::number(dataBuffer.size()), QString::number(dataDropped)));
        send = [target, dataBuffer, D, type] {
            if (target) target->SendProtocolData(dataBuffer.data(), int(dataBuffer.size()), D, type, false);
        };
    }
    // Packets are not mixed into a file being sent: they wait for its end.
    if (send && !HoldWhileSendingFile(port, send)) send();
}
