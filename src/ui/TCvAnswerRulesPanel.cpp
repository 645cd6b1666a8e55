#include "TCvAnswerRulesPanel.h"

#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCvAnswerRules.h"
#include "TCvComPortObj.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

const TCaption kHeaders[] = {
    {u"启用"_s, u"On"_s},    {u"条件"_s, u"When"_s},       {u"匹配内容"_s, u"Match"_s},
    {u"发送"_s, u"Send"_s},  {u"应答内容"_s, u"Answer"_s}, {u"延时"_s, u"Delay"_s},
    {u"状态"_s, u"State"_s},
};
const TCaption kWhen[] = {{u"包含文本"_s, u"contains"_s},
                          {u"匹配正则表达式"_s, u"matches RegExp"_s},
                          {u"含十六进制字节"_s, u"has hex bytes"_s}};
const TCaption kSend[] = {{u"文本"_s, u"text"_s}, {u"十六进制"_s, u"hex"_s}};
const TCaption kAdd{u"添加规则"_s, u"Add Rule"_s};
const TCaption kRemove{u"删除规则"_s, u"Remove Rule"_s};
const TCaption kRulesOf{u"%1 的应答规则"_s, u"Answer rules of %1"_s};
const TCaption kNoPort{u"请先在设备列表中选择一个串口。"_s,
                       u"Select a serial port in the device list first."_s};
const TCaption kAnswered{u"已应答 %1 次"_s, u"answered %1 times"_s};
const TCaption kTip{
    u"文本中可用 \\r \\n \\t \\e \\0 \\\\ \\xHH 表示控制字符；每条规则每秒最多应答 %1 次。"_s,
    u"In texts, \\r \\n \\t \\e \\0 \\\\ \\xHH stand for control characters; a rule answers at most "
    u"%1 times a second."_s};

QString RowName(const QString& kind, int row)
{
    return kind + u'_' + QString::number(row + 1);
}

} // namespace

TCvAnswerRulesPanel::TCvAnswerRulesPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(u"AnswerRulesPanel"_s);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    FLabelRulesPort = NewLabel(u"LabelRulesPort"_s, QString());
    FLabelRulesPort->setWordWrap(true);
    column->addWidget(FLabelRulesPort);
    FTableRules = Named(new QTableWidget(0, ColumnCount), u"TableRules"_s);
    FTableRules->verticalHeader()->setDefaultSectionSize(24);
    FTableRules->horizontalHeader()->setStretchLastSection(true);
    FTableRules->setColumnWidth(ColOn, 40);
    FTableRules->setColumnWidth(ColWhen, 110);
    FTableRules->setColumnWidth(ColMatch, 120);
    FTableRules->setColumnWidth(ColSend, 70);
    FTableRules->setColumnWidth(ColAnswer, 120);
    FTableRules->setColumnWidth(ColDelay, 80);
    column->addWidget(FTableRules, 1);
    auto* buttons = new QHBoxLayout;
    FButtonRuleAdd = NewButton(u"ButtonRuleAdd"_s, QString());
    FButtonRuleRemove = NewButton(u"ButtonRuleRemove"_s, QString());
    buttons->addWidget(FButtonRuleAdd);
    buttons->addWidget(FButtonRuleRemove);
    buttons->addStretch(1);
    column->addLayout(buttons);

    connect(FButtonRuleAdd, &QPushButton::clicked, this, &TCvAnswerRulesPanel::ButtonRuleAddClick);
    connect(FButtonRuleRemove, &QPushButton::clicked, this, &TCvAnswerRulesPanel::ButtonRuleRemoveClick);
    connect(FTableRules, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!FFilling && item->column() != ColState) Commit();
    });
    ApplyCaptions(u"CN"_s);
    ShowPort(nullptr);
}

void TCvAnswerRulesPanel::ApplyCaptions(const QString& Lang)
{
    FLang = Lang;
    QStringList headers;
    for (const TCaption& c : kHeaders) headers << Pick(c, Lang);
    FTableRules->setHorizontalHeaderLabels(headers);
    FButtonRuleAdd->setText(Pick(kAdd, Lang));
    FButtonRuleRemove->setText(Pick(kRemove, Lang));
    FTableRules->setToolTip(Pick(kTip, Lang).arg(TCvAnswerRules::kMaxPerSecond));
    FLabelRulesPort->setText(FPort ? Pick(kRulesOf, Lang).arg(FPort->FComportFullName) : Pick(kNoPort, Lang));
    const bool filling = FFilling;
    FFilling = true;
    for (int r = 0; r < FTableRules->rowCount(); ++r) {
        if (auto* when = qobject_cast<QComboBox*>(FTableRules->cellWidget(r, ColWhen)))
            for (int i = 0; i < when->count(); ++i) when->setItemText(i, Pick(kWhen[i], Lang));
        if (auto* send = qobject_cast<QComboBox*>(FTableRules->cellWidget(r, ColSend)))
            for (int i = 0; i < send->count(); ++i) send->setItemText(i, Pick(kSend[i], Lang));
    }
    FFilling = filling;
    ShowStates();
}

void TCvAnswerRulesPanel::ShowPort(TCvComPortObj* Obj)
{
    // The same port again (the window shows the selection after every open and close): a
    // cell being edited stays as it is.
    if (Obj && Obj == FPort) {
        ShowStates();
        return;
    }
    if (FPort) disconnect(&FPort->AnswerRules(), nullptr, this, nullptr);
    FPort = Obj;
    FFilling = true;
    FTableRules->setRowCount(0);
    if (Obj) {
        for (const TCvAnswerRule& r : Obj->AnswerRules().Rules()) AddRow(r);
        connect(&Obj->AnswerRules(), &TCvAnswerRules::StateChanged, this, &TCvAnswerRulesPanel::ShowStates);
    }
    FFilling = false;
    setEnabled(Obj != nullptr);
    // The page stays readable when nothing is selected: only its controls are off.
    FLabelRulesPort->setEnabled(true);
    FLabelRulesPort->setText(Obj ? Pick(kRulesOf, FLang).arg(Obj->FComportFullName) : Pick(kNoPort, FLang));
    ShowStates();
}

void TCvAnswerRulesPanel::AddRow(const TCvAnswerRule& rule)
{
    const bool filling = FFilling;
    FFilling = true;
    const int row = FTableRules->rowCount();
    FTableRules->insertRow(row);
    auto* on = new QTableWidgetItem;
    on->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    on->setCheckState(rule.Enabled ? Qt::Checked : Qt::Unchecked);
    FTableRules->setItem(row, ColOn, on);
    auto* when = NewComboBox(QString());
    for (const TCaption& c : kWhen) when->addItem(Pick(c, FLang));
    when->setCurrentIndex(int(rule.When));
    FTableRules->setCellWidget(row, ColWhen, when);
    FTableRules->setItem(row, ColMatch, new QTableWidgetItem(rule.Match));
    auto* send = NewComboBox(QString());
    for (const TCaption& c : kSend) send->addItem(Pick(c, FLang));
    send->setCurrentIndex(int(rule.Send));
    FTableRules->setCellWidget(row, ColSend, send);
    FTableRules->setItem(row, ColAnswer, new QTableWidgetItem(rule.Answer));
    auto* delay = new QSpinBox;
    delay->setRange(0, TCvAnswerRules::kMaxDelayMs);
    delay->setSuffix(u" ms"_s);
    delay->setValue(std::clamp(rule.DelayMs, 0, TCvAnswerRules::kMaxDelayMs));
    FTableRules->setCellWidget(row, ColDelay, delay);
    auto* state = new QTableWidgetItem;
    state->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    FTableRules->setItem(row, ColState, state);
    Renumber();
    connect(when, &QComboBox::currentIndexChanged, this, [this] {
        if (!FFilling) Commit();
    });
    connect(send, &QComboBox::currentIndexChanged, this, [this] {
        if (!FFilling) Commit();
    });
    connect(delay, &QSpinBox::valueChanged, this, [this] {
        if (!FFilling) Commit();
    });
    FFilling = filling;
}

void TCvAnswerRulesPanel::Renumber()
{
    for (int r = 0; r < FTableRules->rowCount(); ++r) {
        if (QWidget* w = FTableRules->cellWidget(r, ColWhen))
            w->setObjectName(RowName(u"ComboRuleWhen"_s, r));
        if (QWidget* w = FTableRules->cellWidget(r, ColSend))
            w->setObjectName(RowName(u"ComboRuleSend"_s, r));
        if (QWidget* w = FTableRules->cellWidget(r, ColDelay))
            w->setObjectName(RowName(u"SpinRuleDelay"_s, r));
    }
}

QList<TCvAnswerRule> TCvAnswerRulesPanel::TableRules() const
{
    QList<TCvAnswerRule> rules;
    for (int r = 0; r < FTableRules->rowCount(); ++r) {
        TCvAnswerRule rule;
        rule.Enabled = FTableRules->item(r, ColOn)->checkState() == Qt::Checked;
        rule.When = TCvAnswerRule::TWhen(
            qobject_cast<QComboBox*>(FTableRules->cellWidget(r, ColWhen))->currentIndex());
        rule.Match = FTableRules->item(r, ColMatch)->text();
        rule.Send = TCvAnswerRule::TSend(
            qobject_cast<QComboBox*>(FTableRules->cellWidget(r, ColSend))->currentIndex());
        rule.Answer = FTableRules->item(r, ColAnswer)->text();
        rule.DelayMs = qobject_cast<QSpinBox*>(FTableRules->cellWidget(r, ColDelay))->value();
        rules << rule;
    }
    return rules;
}

void TCvAnswerRulesPanel::Commit()
{
    if (!FPort) return;
    FPort->AnswerRules().SetRules(TableRules());
    if (FSettingsPath) FPort->StoreSettings(stIniFile, FSettingsPath(FPort));
    ShowStates();
}

void TCvAnswerRulesPanel::ShowStates()
{
    if (!FPort) return;
    const TCvAnswerRules& rules = FPort->AnswerRules();
    const QStringList states = rules.States();
    const bool filling = FFilling;
    FFilling = true;
    for (int r = 0; r < FTableRules->rowCount() && r < states.size(); ++r) {
        QTableWidgetItem* item = FTableRules->item(r, ColState);
        const bool wrong = !states[r].isEmpty();
        const bool on = rules.Rules().value(r).Enabled;
        item->setText(wrong ? states[r] : on ? Pick(kAnswered, FLang).arg(rules.AnswerCount(r)) : QString());
        item->setToolTip(item->text());
        item->setForeground(wrong ? QBrush(Qt::red) : QBrush());
    }
    FFilling = filling;
}

void TCvAnswerRulesPanel::ButtonRuleAddClick()
{
    if (!FPort || FTableRules->rowCount() >= TCvAnswerRules::kMaxRules) return;
    AddRow(TCvAnswerRule{});
    FTableRules->setCurrentCell(FTableRules->rowCount() - 1, ColMatch);
    Commit();
}

void TCvAnswerRulesPanel::ButtonRuleRemoveClick()
{
    if (!FPort || FTableRules->rowCount() == 0) return;
    const int row = FTableRules->currentRow() >= 0 ? FTableRules->currentRow() : FTableRules->rowCount() - 1;
    FFilling = true;
    FTableRules->removeRow(row);
    Renumber();
    FFilling = false;
    Commit();
}
