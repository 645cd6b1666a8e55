#include "TCvTransferBox.h"

#include "CvMessages.h"
#include "CvSettings.h"
#include "CvTransfer.h"
#include "CvWidgets.h"

#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

TCvTransferBox::TCvTransferBox(QWidget* parent) : QGroupBox(parent)
{
    setObjectName(u"GroupBoxTransfer"_s);
    auto* grid = new QGridLayout(this);
    FLabelProtocol = NewLabel(u"LabelTransferProtocol"_s, QString());
    QStringList items;
    for (int i = 0; i < TransferProtocolCount; ++i) items << TransferProtocolName(TCvTransferProtocol(i));
    FComboProtocol = NewComboBox(u"ComboTransferProtocol"_s, items);
    FComboProtocol->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FComboProtocol->setMinimumContentsLength(8);
    FButtonReceive = NewButton(u"ButtonReceiveFile"_s, QString());
    FButtonFolder = NewButton(u"ButtonReceiveFolder"_s, QString());
    FLabelFolder = NewLabel(u"LabelReceiveFolder"_s, QString());
    // A deep folder shortens rather than widens the side panel; the tool tip shows it whole.
    FLabelFolder->setMinimumWidth(40);
    FLabelFolder->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    FLabelProgress = NewLabel(u"LabelTransferProgress"_s, QString());
    FLabelProgress->setWordWrap(true);
    FButtonCancel = NewButton(u"ButtonTransferCancel"_s, QString());
    FButtonCancel->hide();
    grid->addWidget(FLabelProtocol, 0, 0);
    grid->addWidget(FComboProtocol, 0, 1);
    grid->addWidget(FButtonReceive, 1, 0, 1, 2);
    grid->addWidget(FButtonFolder, 2, 0);
    grid->addWidget(FLabelFolder, 2, 1);
    grid->addWidget(FLabelProgress, 3, 0, 1, 2);
    grid->addWidget(FButtonCancel, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    connect(FComboProtocol, &QComboBox::currentIndexChanged, this, &TCvTransferBox::ProtocolChosen);
    connect(FButtonReceive, &QPushButton::clicked, this, &TCvTransferBox::ReceiveClicked);
    connect(FButtonFolder, &QPushButton::clicked, this, &TCvTransferBox::FolderClicked);
    connect(FButtonCancel, &QPushButton::clicked, this, &TCvTransferBox::CancelClicked);
    ProtocolChosen();
    ApplyCaptions(u"CN"_s);
}

int TCvTransferBox::Protocol() const
{
    return FComboProtocol->currentIndex();
}

void TCvTransferBox::SetProtocol(int Protocol)
{
    FComboProtocol->setCurrentIndex(qBound(0, Protocol, TransferProtocolCount - 1));
}

void TCvTransferBox::ProtocolChosen()
{
    // Raw has nothing to receive with: that is the capture's job (Button13).
    FButtonReceive->setEnabled(TransferProtocolReceives(TCvTransferProtocol(Protocol())));
}

void TCvTransferBox::SetFolder(const QString& Folder)
{
    FFolder = Folder;
    ShowFolder();
}

void TCvTransferBox::ShowFolder()
{
    const bool en = FLang == u"EN"_s;
    FLabelFolder->setText(FFolder.isEmpty() ? (en ? u"(not chosen)"_s : u"（未选择）"_s)
                                            : QDir::toNativeSeparators(FFolder));
    FLabelFolder->setToolTip(FFolder);
}

void TCvTransferBox::SetProgress(const QString& Text)
{
    FLabelProgress->setText(Text);
}

void TCvTransferBox::SetRunning(bool Running)
{
    FButtonCancel->setVisible(Running);
    FButtonCancel->setEnabled(Running);
    if (!Running) ProtocolChosen();
}

QList<QWidget*> TCvTransferBox::LockedWhileRunning() const
{
    return {FComboProtocol, FButtonReceive, FButtonFolder};
}

void TCvTransferBox::ApplyCaptions(const QString& Lang)
{
    FLang = Lang;
    const bool en = Lang == u"EN"_s;
    setTitle(en ? u"File transfer"_s : u"文件传输"_s);
    FLabelProtocol->setText(en ? u"Protocol"_s : u"传输协议"_s);
    FComboProtocol->setItemText(0, en ? u"Raw (no protocol)"_s : u"原始数据（无协议）"_s);
    FComboProtocol->setToolTip(en ? u"How the loaded file is sent, and how files are received"_s
                                  : u"载入的文件用什么协议发送，以及用什么协议接收文件"_s);
    FButtonReceive->setText(en ? u"Receive File"_s : u"接收文件"_s);
    FButtonFolder->setText(en ? u"Folder…"_s : u"接收文件夹…"_s);
    FButtonFolder->setToolTip(en ? u"Where received files are saved"_s : u"接收到的文件保存在哪个文件夹"_s);
    FButtonCancel->setText(en ? u"Cancel Transfer"_s : u"取消传输"_s);
    ShowFolder();
}

void TCvTransferBox::LoadSettings(const TCvSettings& s)
{
    SetProtocol(s.Pref.TRANSFERPROTOCOL);
    SetFolder(s.Pref.RECEIVEFOLDER);
}

void TCvTransferBox::SaveSettings(TCvSettings& s) const
{
    s.Pref.TRANSFERPROTOCOL = Protocol();
    s.Pref.RECEIVEFOLDER = FFolder;
}
