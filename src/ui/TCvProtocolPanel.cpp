#include "TCvProtocolPanel.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCvComPortObj.h"

#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

// Passes typed characters of an address box through its key handler; a character the
// handler turns into CR is not inserted.
class TKeyPressFilter : public QObject {
public:
    TKeyPressFilter(QObject* parent, std::function<void(QChar&)> handler)
        : QObject(parent), FHandler(std::move(handler))
    {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
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

QString SampleHexLines()
{
    QStringList lines;
    for (int i = 0; i < 27; ++i) {
        QString line;
        const int pairs = 3 + i % 2;
        for (int k = 0; k < pairs; ++k)
            line += u"%1 "_s.arg((i * 4 + k) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
        lines << line.trimmed();
    }
    return lines.join(u'\n');
}

} // namespace

void TCvProtocolPanel::AddressKeyPress(QChar& Key)
{
    if (Key != QChar(8) && !(Key >= u'0' && Key <= u'9')) Key = QChar(13);
}

TCvProtocolPanel::TCvProtocolPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(u"ProtocolPanel"_s);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    FComboBox9 = NewComboBox(u"ComboBox9"_s, {u"I2C"_s, u"SPI"_s, u"RS232"_s, u"RS485"_s, u"RS422"_s,
                                              u"CAN"_s, u"IRDA"_s, u"ZigBee"_s, u"Wireless"_s, u"ModBus"_s});
    FComboBox10 = NewComboBox(u"ComboBox10"_s, {}, true);
    FComboBox10->setEditText(u"0x00000040"_s);
    FComboBox11 = NewComboBox(u"ComboBox11"_s, {}, true);
    FComboBox11->setEditText(u"0x00000000"_s);
    FComboBox12 = NewComboBox(u"ComboBox12"_s, {u"Connect"_s, u"Read"_s, u"Write"_s});
    const std::pair<QLabel*, QComboBox*> rows[] = {
        {NewLabel(u"Label7"_s, u"通讯协议"_s), FComboBox9},
        {NewLabel(u"Label8"_s, u"器件地址"_s), FComboBox10},
        {NewLabel(u"Label11"_s, u"内部地址"_s), FComboBox11},
        {NewLabel(u"Label18"_s, u"操作类型"_s), FComboBox12},
    };
    for (int r = 0; r < 4; ++r) {
        grid->addWidget(rows[r].first, r, 0);
        grid->addWidget(rows[r].second, r, 1);
    }
    column->addLayout(grid);
    FMemo5 = Named(new QPlainTextEdit(SampleHexLines()), u"Memo5"_s);
    FMemo5->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    column->addWidget(FMemo5, 1);
    FButton16 = NewButton(u"Button16"_s, u"发送操作"_s);
    column->addWidget(FButton16);

    for (QComboBox* box : {FComboBox10, FComboBox11}) {
        box->setInsertPolicy(QComboBox::NoInsert);
        box->lineEdit()->installEventFilter(new TKeyPressFilter(box, &TCvProtocolPanel::AddressKeyPress));
    }
    connect(FButton16, &QPushButton::clicked, this, &TCvProtocolPanel::Button16Click);
}

void TCvProtocolPanel::Button16Click()
{
    std::array<quint8, AddressBufferSize> addressBuffer{};
    std::array<quint8, DataBufferSize> dataBuffer{};
    const QString addressText =
        FComboBox10->currentText().trimmed() + u',' + FComboBox11->currentText().trimmed();
    int addressDropped = 0;
    const int A =
        HexStrToBuffer(addressText, addressBuffer.data(), int(addressBuffer.size()), &addressDropped);

    TCvComPortObj* port = FCurrentPort ? FCurrentPort() : nullptr;
    if (!port) return;
    // Text beyond a buffer is cut there; the user learns how much was left out.
    if (addressDropped > 0)
        port->Log(Msg(u"Address text longer than %1 bytes: %2 bytes dropped"_s)
                      .arg(QString::number(addressBuffer.size()), QString::number(addressDropped)));

    const QString bus = FComboBox9->currentText();
    const QString operation = FComboBox12->currentText();
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
        if (!ParseHexText(FMemo5->toPlainText(), &written, &why)) {
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
    if (send && !(FGate && FGate(port, send))) send();
}
