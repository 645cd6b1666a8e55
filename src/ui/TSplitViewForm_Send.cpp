#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "TCvBlockSendPanel.h"
#include "CvMessageBox.h"
#include "CvMessages.h"
#include "TCvComPortObj.h"
#include "TJvHidDevice.h"
#include "TStringGrid.h"
#include "TUpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// Column 1 of StringGrid1: the tick glyphs, and no editor.
class TTickDelegate : public QStyledItemDelegate {
public:
    TTickDelegate(const TSplitViewForm* form, QObject* parent) : QStyledItemDelegate(parent), FForm(form) {}

    void paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const override
    {
        const QRect r = opt.rect;
        p->fillRect(r, opt.palette.color(QPalette::Base));
        const QPixmap& glyph = index.data().toString() == u"1"_s ? FForm->FCheck : FForm->FNoCheck;
        if (glyph.isNull()) return;
        const qreal dpr = glyph.devicePixelRatio() > 0 ? glyph.devicePixelRatio() : 1.0;
        const int gw = int(glyph.width() / dpr), gh = int(glyph.height() / dpr);
        const int left = r.left(), right = r.left() + r.width();
        const int top = r.top(), bottom = r.top() + r.height();
        p->drawPixmap((left + right - gw) / 2 - 2, (top + bottom - gh) / 2, glyph);
    }
    QWidget* createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex&) const override
    {
        return nullptr;
    }

private:
    const TSplitViewForm* FForm;
};

// Edit5KeyPress and Edit22KeyPress.
class TLoopKeyFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto* k = static_cast<QKeyEvent*>(event);
            const QString text = k->text();
            // Keys without a character (arrows, Home) are not key presses in this sense.
            if (!text.isEmpty() && !TSplitViewForm::LoopKeyAccepted(text.at(0).unicode())) return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void TSplitViewForm::ConnectSendHandlers()
{
    connect(FBlockSendPanel, &TCvBlockSendPanel::SendClicked, this, &TSplitViewForm::Button8Click);
    connect(FBlockSendPanel, &TCvBlockSendPanel::ClearClicked, this, &TSplitViewForm::Button7Click);
    // The text tools read and write text in the selected port's encoding (UTF-8 without one).
    FBlockSendPanel->SetEncoding([this] {
        const TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
        return obj ? obj->TextEncoding() : kDefaultTextEncoding;
    });
    connect(Button1, &QPushButton::clicked, this, &TSplitViewForm::Button1Click);
    connect(Button3, &QPushButton::clicked, this, &TSplitViewForm::Button3Click);
    connect(Timer1, &QTimer::timeout, this, &TSplitViewForm::Timer1Timer);
    connect(UpDown1, &QSpinBox::valueChanged, this, [this](int v) { Timer1->setInterval(v); });
    connect(UpDown3, &QSpinBox::valueChanged, this, [this](int v) { FTimer1Timer_Count = v; });
    auto* keys = new TLoopKeyFilter(this);
    UpDown1->Edit()->installEventFilter(keys);
    UpDown3->Edit()->installEventFilter(keys);

    StringGrid1->setItemDelegateForColumn(0, new TTickDelegate(this, StringGrid1));
    connect(StringGrid1, &QTableWidget::cellPressed, this,
            [this](int row, int col) { StringGrid1MouseDown(col + 1, row + 1); });
    connect(StringGrid1, &QTableWidget::currentCellChanged, this, [this](int row, int col, int, int) {
        if (row >= 0 && col >= 0) StringGrid1SelectCell(col + 1, row + 1);
    });
    connect(StringGrid1->verticalHeader(), &QHeaderView::sectionClicked, this,
            [this](int row) { StringGrid1FixedCellClick(0, row + 1); });
    connect(StringGrid1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int col) { StringGrid1FixedCellClick(col + 1, 0); });
}

bool TSplitViewForm::LoopKeyAccepted(int Key)
{
    return (Key >= '0' && Key <= '9') || Key == 8;
}

void TSplitViewForm::Button8Click()
{
    if (ComboBoxEx1->count() == 0) return;
    const QString device = ComboBoxEx1->currentText();
    const QString text = FBlockSendPanel->Text();
    const int format = ComboBox6->currentIndex();
    const TSendEnding ending = FBlockSendPanel->Ending();
    const auto send = [this, device, text, format, ending] {
        if (TJvHidDevice* hid = FDevices->CheckHID(device)) {
            FDevices->HidBlockSend(hid, text);
            return;
        }
        TCvComPortObj* obj = GetDeciceByFullName(device);
        if (!obj) return;
        obj->TorvinComSendData_MultiTimes(TrimControl(text), format, ending);
    };
    // A file being sent is not interleaved with other data: this send waits for its end.
    if (HoldWhileSendingFile(GetDeciceByFullName(device), send)) return;
    send();
}

void TSplitViewForm::Button7Click()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (obj && obj->Connected()) obj->ClearLog();
}

void TSplitViewForm::StringGrid1MouseDown(int, int)
{
    if (StringGrid1->Col() != 1 || StringGrid1->Row() < 1) return;
    const int row = StringGrid1->Row();
    StringGrid1->SetCells(1, row, StringGrid1->Cells(1, row).isEmpty() ? u"1"_s : QString());
}

void TSplitViewForm::StringGrid1SelectCell(int ACol, int)
{
    // The tick column is toggled by clicks, never typed into.
    StringGrid1->setEditTriggers(ACol == 1 ? QAbstractItemView::NoEditTriggers
                                           : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                                 QAbstractItemView::AnyKeyPressed);
}

void TSplitViewForm::StringGrid1FixedCellClick(int, int ARow)
{
    if (ARow <= 0 || ARow >= StringGrid1->RowCount()) return;
    int col = StringGrid1->Col();
    if (col < 1 || col > 2) col = 2;
    StringGrid1->SelectCell(col, ARow);
    const QString text = StringGrid1->Cells(2, ARow).trimmed();
    QPointer<TCvComPortObj> obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (text.isEmpty() || !obj) return;
    const int format = ComboBox6->currentIndex();
    const TSendEnding ending = TSendEnding(ComboBoxEndGrid->currentIndex());
    const auto send = [obj, text, format, ending] {
        if (obj) obj->TorvinComSendData_Common(text, format, ending);
    };
    if (HoldWhileSendingFile(obj, send)) return;
    send();
}

void TSplitViewForm::Button1Click()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj) return;
    if (!CheckBox19->isChecked()) {
        obj->Log(Msg(u"The Loop enable switch is not be checked."_s));
        return;
    }
    if (!obj->Connected()) {
        obj->Log(Msg(u"The device was closed,please open a device."_s));
        return;
    }
    LoopStringList.clear();
    for (int row = 1; row < StringGrid1->RowCount(); ++row)
        if (StringGrid1->Cells(1, row).trimmed() == u"1"_s) LoopStringList << StringGrid1->Cells(2, row).trimmed();
    FTimer1Timer_Count = UpDown3->Position();
    LoopTargetPort = obj;
    FLoopBusyTold = false;
    if (LoopStringList.isEmpty()) {
        obj->Log(Msg(u"No data to send, please select data item by click checkbox item."_s));
        return;
    }
    if (FTimer1Timer_Count > 0)
        obj->Log(Msg(u"The following data will be sent to device periodic,Loop Count: %1"_s).arg(FTimer1Timer_Count));
    for (const QString& s : std::as_const(LoopStringList)) obj->Log(s);
    Timer1->stop();
    Timer1->setInterval(UpDown1->Position());
    Timer1->start();
}

void TSplitViewForm::Button3Click() { Timer1->stop(); }

void TSplitViewForm::Timer1Timer() {
    if (!LoopTargetPort || !LoopTargetPort->Connected()) return;
    // A file being sent is not interleaved with loop texts: the turn is skipped, and said so.
    if (SendingFile()) {
        if (FFileSender->SkipTurn())
            LoopTargetPort->Log(Msg(u"Loop sending skips its turns while a file is being sent."_s));
        return;
    }
    // The device has not yet taken what the last turn queued: no pile-up behind it.
    if (LoopTargetPort->PendingWrites() > 0) {
        if (!FLoopBusyTold) {
            FLoopBusyTold = true;
            LoopTargetPort->Log(
                Msg(u"Loop turn skipped: the device has not taken the data of the last turn yet."_s));
        }
        return;
    }
    if (FTimer1Timer_Count != 0) LoopTargetPort->Log(Msg(u"Loop Count --> %1"_s).arg(FTimer1Timer_Count));
    if (FTimer1Timer_Count == 1) Timer1->stop();
    for (const QString& s : std::as_const(LoopStringList)) {
        if (s.isEmpty()) continue;
        if (!LoopTargetPort) break;
        LoopTargetPort->TorvinComSendData_MultiTimes(s, ComboBox6->currentIndex(),
                                                     TSendEnding(ComboBoxEndGrid->currentIndex()));
    }
    if (FTimer1Timer_Count > 1) --FTimer1Timer_Count;
}
