#include "TCvLoopPanel.h"

#include "CvCodecs.h"
#include "CvLanguage.h"
#include "CvMessages.h"
#include "CvSettings.h"
#include "CvWidgets.h"
#include "TCvComPortObj.h"
#include "TCvFileSender.h"
#include "TStringGrid.h"
#include "TUpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

// Column 1 of StringGrid1: the tick glyphs, and no editor.
class TTickDelegate : public QStyledItemDelegate {
public:
    TTickDelegate(const TCvLoopPanel* panel, QObject* parent) : QStyledItemDelegate(parent), FPanel(panel) {}

    void paint(QPainter* p, const QStyleOptionViewItem& opt, const QModelIndex& index) const override
    {
        const QRect r = opt.rect;
        p->fillRect(r, opt.palette.color(QPalette::Base));
        const QPixmap& glyph = FPanel->CheckGlyph(index.data().toString() == u"1"_s);
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
    const TCvLoopPanel* FPanel;
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
            if (!text.isEmpty() && !TCvLoopPanel::LoopKeyAccepted(text.at(0).unicode())) return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

void AddRow(QGridLayout* grid, QLabel* label, QWidget* field)
{
    const int r = grid->rowCount();
    grid->addWidget(label, r, 0);
    grid->addWidget(field, r, 1);
}

} // namespace

TCvLoopPanel::TCvLoopPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(u"LoopPanel"_s);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    FStringGrid1 = Named(new TStringGrid(4, 1000), u"StringGrid1"_s);
    FStringGrid1->SetColWidth(0, 50);
    FStringGrid1->SetColWidth(1, 25);
    FStringGrid1->SetColWidth(2, 217);
    FStringGrid1->SetColWidth(3, 205);
    FStringGrid1->verticalHeader()->setDefaultSectionSize(22);
    column->addWidget(FStringGrid1, 1);
    FPanel4 = Named(new QWidget, u"Panel4"_s);
    auto* loopRow = new QHBoxLayout(FPanel4);
    loopRow->setContentsMargins(0, 0, 0, 0);
    // What ends an ASCII send of a grid row.
    FComboBoxEndGrid = NewComboBox(u"ComboBoxEndGrid"_s, SendEndingItems());
    FComboBoxEndGrid->setCurrentIndex(int(TSendEnding::CrLf));
    FButton3 = NewButton(u"Button3"_s, u"停止循环"_s);
    FButton1 = NewButton(u"Button1"_s, u"循环发送选中的内容"_s);
    loopRow->addWidget(FComboBoxEndGrid);
    loopRow->addWidget(FButton3);
    loopRow->addWidget(FButton1, 1);
    column->addWidget(FPanel4);
    FTimer1 = Named(new QTimer(this), u"Timer1"_s);

    FGroupBox6 = Named(new QGroupBox(this), u"GroupBox6"_s);
    auto* loop = new QGridLayout(FGroupBox6);
    FUpDown1 = new TUpDown(u"UpDown1"_s, u"Edit5"_s, 1, 360000, 1000);
    FUpDown1->setGroupSeparatorShown(true);
    FUpDown1->setToolTip(u"ms"_s);
    FUpDown3 = new TUpDown(u"UpDown3"_s, u"Edit22"_s, 0, 360000, 1);
    FUpDown3->Edit()->setReadOnly(true);
    FUpDown3->setToolTip(u"0 For Loop Always"_s);
    AddRow(loop, NewLabel(u"Label4"_s, u"循环发送的毫秒间隔"_s), FUpDown1);
    AddRow(loop, NewLabel(u"Label14"_s, u"循环发送的次数设置      "_s), FUpDown3);
    FCheckBox19 = NewCheckBox(u"CheckBox19"_s, u"循环发送使能开关，启用循环发送功能"_s, true);
    loop->addWidget(FCheckBox19, loop->rowCount(), 0, 1, 2);
    loop->setColumnStretch(1, 1);

    connect(FButton1, &QPushButton::clicked, this, &TCvLoopPanel::Button1Click);
    connect(FButton3, &QPushButton::clicked, this, &TCvLoopPanel::Button3Click);
    connect(FTimer1, &QTimer::timeout, this, &TCvLoopPanel::Timer1Timer);
    connect(FUpDown1, &QSpinBox::valueChanged, this, [this](int v) { FTimer1->setInterval(v); });
    connect(FUpDown3, &QSpinBox::valueChanged, this, [this](int v) { FTimer1Timer_Count = v; });
    auto* keys = new TLoopKeyFilter(this);
    FUpDown1->Edit()->installEventFilter(keys);
    FUpDown3->Edit()->installEventFilter(keys);

    FStringGrid1->setItemDelegateForColumn(0, new TTickDelegate(this, FStringGrid1));
    connect(FStringGrid1, &QTableWidget::cellPressed, this,
            [this](int row, int col) { StringGrid1MouseDown(col + 1, row + 1); });
    connect(FStringGrid1, &QTableWidget::currentCellChanged, this, [this](int row, int col, int, int) {
        if (row >= 0 && col >= 0) StringGrid1SelectCell(col + 1, row + 1);
    });
    connect(FStringGrid1->verticalHeader(), &QHeaderView::sectionClicked, this,
            [this](int row) { StringGrid1FixedCellClick(0, row + 1); });
    connect(FStringGrid1->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int col) { StringGrid1FixedCellClick(col + 1, 0); });
}

void TCvLoopPanel::PrepareGrid()
{
    QStyleOptionButton opt;
    const int w = style()->pixelMetric(QStyle::PM_IndicatorWidth);
    const int h = style()->pixelMetric(QStyle::PM_IndicatorHeight);
    opt.rect = QRect(0, 0, w, h);
    opt.palette = palette();
    for (const bool on : {false, true}) {
        QPixmap glyph(w, h);
        glyph.fill(Qt::transparent);
        QPainter p(&glyph);
        opt.state = QStyle::State_Enabled | (on ? QStyle::State_On : QStyle::State_Off);
        style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &opt, &p);
        p.end();
        (on ? FCheck : FNoCheck) = glyph;
    }

    for (int r = 1; r < FStringGrid1->RowCount(); ++r)
        FStringGrid1->SetCells(0, r, u"%1 "_s.arg(r, 4, 10, QLatin1Char('0')));
    FStringGrid1->SelectCell(2, 2);
}

void TCvLoopPanel::ApplyCaptions(const QString& Lang)
{
    const TFixedTexts& t = FixedTexts(Lang);
    for (int c = 0; c < t.GridHeader.size(); ++c) FStringGrid1->SetCells(c, 0, t.GridHeader[c]);
    CaptionSendEnding(FComboBoxEndGrid, Lang);
}

void TCvLoopPanel::LoadSettings(const TCvSettings& s)
{
    for (int r = 1; r <= TCvSettings::GridRows; ++r) {
        FStringGrid1->SetCells(2, r, s.Content[r - 1]);
        FStringGrid1->SetCells(3, r, s.Comment[r - 1]);
    }
    FUpDown3->SetPosition(s.Pref.LOOPCOUNT);
    FComboBoxEndGrid->setCurrentIndex(s.Pref.ENDGRID);
}

void TCvLoopPanel::SaveSettings(TCvSettings& s) const
{
    for (int r = 1; r <= TCvSettings::GridRows; ++r) {
        s.Content[r - 1] = FStringGrid1->Cells(2, r);
        s.Comment[r - 1] = FStringGrid1->Cells(3, r);
    }
    s.Pref.LOOPCOUNT = FUpDown3->Position();
    s.Pref.ENDGRID = FComboBoxEndGrid->currentIndex();
}

void TCvLoopPanel::FitContentColumn()
{
    if (QLayout* l = FPanel4->layout()) l->activate();
    const int w = FButton1->width();
    FStringGrid1->SetColWidth(2, w <= 240 ? w - 15 : 240 + (w - 240) / 2);
}

TCvLoopPanel::~TCvLoopPanel() = default;

TCvComPortObj* TCvLoopPanel::LoopTarget() const
{
    return LoopTargetPort;
}

void TCvLoopPanel::ForgetTarget()
{
    LoopTargetPort = nullptr;
}

bool TCvLoopPanel::HoldWhileSendingFile(TCvComPortObj* Obj, std::function<void()> Send)
{
    return FFileSender && FFileSender->Hold(Obj, std::move(Send));
}

bool TCvLoopPanel::LoopKeyAccepted(int Key)
{
    return (Key >= '0' && Key <= '9') || Key == 8;
}

void TCvLoopPanel::StringGrid1MouseDown(int, int)
{
    if (FStringGrid1->Col() != 1 || FStringGrid1->Row() < 1) return;
    const int row = FStringGrid1->Row();
    FStringGrid1->SetCells(1, row, FStringGrid1->Cells(1, row).isEmpty() ? u"1"_s : QString());
}

void TCvLoopPanel::StringGrid1SelectCell(int ACol, int)
{
    // The tick column is toggled by clicks, never typed into.
    FStringGrid1->setEditTriggers(ACol == 1
                                      ? QAbstractItemView::NoEditTriggers
                                      : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                            QAbstractItemView::AnyKeyPressed);
}

void TCvLoopPanel::StringGrid1FixedCellClick(int, int ARow)
{
    if (ARow <= 0 || ARow >= FStringGrid1->RowCount()) return;
    int col = FStringGrid1->Col();
    if (col < 1 || col > 2) col = 2;
    FStringGrid1->SelectCell(col, ARow);
    const QString text = FStringGrid1->Cells(2, ARow).trimmed();
    QPointer<TCvComPortObj> obj = Current();
    if (text.isEmpty() || !obj) return;
    const int format = SendFormat();
    const TSendEnding ending = TSendEnding(FComboBoxEndGrid->currentIndex());
    const auto send = [obj, text, format, ending] {
        if (obj) obj->TorvinComSendData_Common(text, format, ending);
    };
    if (HoldWhileSendingFile(obj, send)) return;
    send();
}

void TCvLoopPanel::Button1Click()
{
    TCvComPortObj* obj = Current();
    if (!obj) return;
    if (!FCheckBox19->isChecked()) {
        obj->Log(Msg(u"The Loop enable switch is not be checked."_s));
        return;
    }
    if (!obj->Connected()) {
        obj->Log(Msg(u"The device was closed,please open a device."_s));
        return;
    }
    LoopStringList.clear();
    for (int row = 1; row < FStringGrid1->RowCount(); ++row)
        if (FStringGrid1->Cells(1, row).trimmed() == u"1"_s)
            LoopStringList << FStringGrid1->Cells(2, row).trimmed();
    FTimer1Timer_Count = FUpDown3->Position();
    LoopTargetPort = obj;
    FLoopBusyTold = false;
    if (LoopStringList.isEmpty()) {
        obj->Log(Msg(u"No data to send, please select data item by click checkbox item."_s));
        return;
    }
    if (FTimer1Timer_Count > 0)
        obj->Log(Msg(u"The following data will be sent to device periodic,Loop Count: %1"_s)
                     .arg(FTimer1Timer_Count));
    for (const QString& s : std::as_const(LoopStringList)) obj->Log(s);
    FTimer1->stop();
    FTimer1->setInterval(FUpDown1->Position());
    FTimer1->start();
}

void TCvLoopPanel::Button3Click()
{
    FTimer1->stop();
}

void TCvLoopPanel::Timer1Timer()
{
    if (!LoopTargetPort || !LoopTargetPort->Connected()) return;
    // A file being sent is not interleaved with loop texts: the turn is skipped, and said so.
    if (FFileSender && FFileSender->Sending()) {
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
    if (FTimer1Timer_Count == 1) FTimer1->stop();
    for (const QString& s : std::as_const(LoopStringList)) {
        if (s.isEmpty()) continue;
        if (!LoopTargetPort) break;
        LoopTargetPort->TorvinComSendData_MultiTimes(s, SendFormat(),
                                                     TSendEnding(FComboBoxEndGrid->currentIndex()));
    }
    if (FTimer1Timer_Count > 1) --FTimer1Timer_Count;
}
