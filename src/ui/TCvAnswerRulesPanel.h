#pragma once

#include "TCvComPortObj.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QTableWidget;
struct TCvAnswerRule;

// The answer rules page: the rules of the selected port in a table (TableRules; per row
// ComboRuleWhen_N, ComboRuleSend_N and SpinRuleDelay_N, N from 1), ButtonRuleAdd,
// ButtonRuleRemove and LabelRulesPort. Every change is applied to the port at once and
// kept in its settings file; the last column tells why a rule does nothing, or how often
// it answered.
class TCvAnswerRulesPanel : public QWidget {
    Q_OBJECT
public:
    enum TColumn { ColOn, ColWhen, ColMatch, ColSend, ColAnswer, ColDelay, ColState, ColumnCount };

    explicit TCvAnswerRulesPanel(QWidget* parent = nullptr);

    // Where a port's settings file is.
    void SetSettingsPath(std::function<QString(const TCvComPortObj*)> Provider)
    {
        FSettingsPath = std::move(Provider);
    }
    // The rules of this port (none: the page is empty and disabled).
    void ShowPort(TCvComPortObj* Obj);
    TCvComPortObj* Port() const { return FPort.data(); }
    void ApplyCaptions(const QString& Lang);

    void ButtonRuleAddClick();
    void ButtonRuleRemoveClick();

private:
    void AddRow(const TCvAnswerRule& rule);
    // The table to the port and its file.
    void Commit();
    void ShowStates();
    void Renumber();
    QList<TCvAnswerRule> TableRules() const;

    QLabel* FLabelRulesPort;
    QTableWidget* FTableRules;
    QPushButton* FButtonRuleAdd;
    QPushButton* FButtonRuleRemove;
    QPointer<TCvComPortObj> FPort;
    std::function<QString(const TCvComPortObj*)> FSettingsPath;
    QString FLang = QStringLiteral("CN");
    // The table is being filled: its changes are not the user's.
    bool FFilling = false;
};
