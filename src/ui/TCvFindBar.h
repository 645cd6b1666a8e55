#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class TLogMemo;
class TLogSearch;

struct TCvSettings;

// The find bar under the log pages (PanelFind): searches the log view of the selected page
// from its selection, or from what is on screen, in the background; hidden until asked for.
class TCvFindBar : public QWidget {
    Q_OBJECT
public:
    explicit TCvFindBar(QWidget* parent = nullptr);

    // The log view searched: that of the selected page.
    void SetCurrentLog(std::function<TLogMemo*()> Provider) { FCurrentLog = std::move(Provider); }

    void ShowBar();
    void CloseBar();
    void Find(bool Forward);
    // A search running for a view that is no longer shown is given up.
    void CancelSearch();
    // Esc, Enter and Shift+Enter typed in the bar; true when taken.
    bool BarKey(QWidget* Target, const QKeyEvent* Key);
    void ApplyCaptions(const QString& Lang);
    // CheckBoxFindCase, which Corvane.ini keeps.
    bool MatchCase() const;
    void SetMatchCase(bool On);
    // Its part of Corvane.ini: whether find matches case.
    void LoadSettings(const TCvSettings& s);
    void SaveSettings(TCvSettings& s) const;

private:
    void SetStatus(const QString& Text, bool Failure);

    QLabel* FLabelFind;
    QLineEdit* FEditFind;
    QPushButton* FButtonFindPrev;
    QPushButton* FButtonFindNext;
    QCheckBox* FCheckBoxFindCase;
    QLabel* FLabelFindStatus;
    QPushButton* FButtonFindClose;
    TLogSearch* FLogSearch;
    std::function<TLogMemo*()> FCurrentLog;
};
