#pragma once

#include <QMainWindow>

class TLogMemo;

// The main window.
class TSplitViewForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TSplitViewForm(QWidget* parent = nullptr);
    ~TSplitViewForm() override;

    TLogMemo* Memo1 = nullptr;
};
