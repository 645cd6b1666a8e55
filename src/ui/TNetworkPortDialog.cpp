#include "TNetworkPortDialog.h"

#include "CvMessages.h"
#include "CvWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {
// The kinds in the order the list shows them.
constexpr TNetworkKind kKinds[] = {TNetworkKind::TcpClient, TNetworkKind::TcpServer, TNetworkKind::Rfc2217};
} // namespace

TNetworkPortDialog::TNetworkPortDialog(QWidget* parent, const QString& Lang)
    : QDialog(parent), FEnglish(Lang == u"EN"_s)
{
    setObjectName(u"NetworkPortDialog"_s);
    const bool en = FEnglish;
    setWindowTitle(en ? u"Add Network Port"_s : u"添加网络端口"_s);
    ComboNetKind = NewComboBox(
        u"ComboNetKind"_s, en ? QStringList{u"TCP client"_s, u"TCP server"_s, u"RFC 2217 (Telnet COM port)"_s}
                              : QStringList{u"TCP 客户端"_s, u"TCP 服务器"_s, u"RFC 2217（Telnet 串口）"_s});
    EditNetHost = Named(new QLineEdit, u"EditNetHost"_s);
    EditNetHost->setPlaceholderText(en ? u"host name or address"_s : u"主机名或地址"_s);
    EditNetHost->setMaxLength(253);
    SpinNetPort = Named(new QSpinBox, u"SpinNetPort"_s);
    SpinNetPort->setRange(1, 65535);
    SpinNetPort->setValue(5000);
    CheckNetOtherAddress = NewCheckBox(u"CheckNetOtherAddress"_s,
                                       en ? u"Listen on another address than this machine's loopback"_s
                                          : u"在本机回环以外的地址上监听"_s,
                                       false);
    CheckNetOtherAddress->setToolTip(en ? u"Other machines on the network can then connect to the port"_s
                                        : u"这样网络上的其他计算机也可以连接此端口"_s);
    EditNetBind = Named(new QLineEdit(u"0.0.0.0"_s), u"EditNetBind"_s);
    EditNetBind->setMaxLength(64);
    LabelNetHost = NewLabel(u"LabelNetHost"_s, en ? u"Host"_s : u"主机"_s);
    LabelNetError = NewLabel(u"LabelNetError"_s, QString());
    LabelNetError->setWordWrap(true);
    ButtonNetOk = NewButton(u"ButtonNetOk"_s, en ? u"Add"_s : u"添加"_s);
    ButtonNetCancel = NewButton(u"ButtonNetCancel"_s, en ? u"Cancel"_s : u"取消"_s);
    ButtonNetOk->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(NewLabel(u"LabelNetKind"_s, en ? u"Kind"_s : u"类型"_s), ComboNetKind);
    form->addRow(LabelNetHost, EditNetHost);
    form->addRow(NewLabel(u"LabelNetPort"_s, en ? u"Port"_s : u"端口"_s), SpinNetPort);
    form->addRow(CheckNetOtherAddress);
    form->addRow(NewLabel(u"LabelNetBind"_s, en ? u"Address"_s : u"地址"_s), EditNetBind);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ButtonNetOk);
    buttons->addWidget(ButtonNetCancel);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(LabelNetError);
    column->addLayout(buttons);

    connect(ComboNetKind, &QComboBox::currentIndexChanged, this, &TNetworkPortDialog::KindChanged);
    connect(CheckNetOtherAddress, &QCheckBox::toggled, this, &TNetworkPortDialog::KindChanged);
    connect(ButtonNetOk, &QPushButton::clicked, this, &TNetworkPortDialog::accept);
    connect(ButtonNetCancel, &QPushButton::clicked, this, &TNetworkPortDialog::reject);
    KindChanged();
}

void TNetworkPortDialog::KindChanged()
{
    const bool server = kKinds[std::max(0, ComboNetKind->currentIndex())] == TNetworkKind::TcpServer;
    EditNetHost->setEnabled(!server);
    LabelNetHost->setEnabled(!server);
    CheckNetOtherAddress->setVisible(server);
    // Loopback unless another address is chosen on purpose.
    EditNetBind->setEnabled(server && CheckNetOtherAddress->isChecked());
    EditNetBind->setVisible(server);
    LabelNetError->clear();
}

TNetworkAddress TNetworkPortDialog::Address() const
{
    TNetworkAddress a;
    a.Kind = kKinds[std::max(0, ComboNetKind->currentIndex())];
    a.Port = static_cast<quint16>(SpinNetPort->value());
    if (a.Kind == TNetworkKind::TcpServer)
        a.Host = CheckNetOtherAddress->isChecked() ? EditNetBind->text().trimmed()
                                                   : TNetworkAddress::LoopbackHost();
    else a.Host = EditNetHost->text().trimmed();
    // "[::1]" as typed is the address inside.
    if (a.Host.startsWith(u'[') && a.Host.endsWith(u']')) a.Host = a.Host.mid(1, a.Host.size() - 2);
    return a.IsValid() ? a : TNetworkAddress{};
}

void TNetworkPortDialog::accept()
{
    if (Address().Kind == TNetworkKind::None) {
        LabelNetError->setText(
            Msg(u"Can not add network port: %1"_s, FEnglish ? u"EN"_s : u"CN"_s)
                .arg(Msg(u"the host is not a valid name or address"_s, FEnglish ? u"EN"_s : u"CN"_s)));
        return;
    }
    QDialog::accept();
}
