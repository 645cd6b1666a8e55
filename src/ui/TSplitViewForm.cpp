#include "TSplitViewForm.h"

#include "TLogMemo.h"

TSplitViewForm::TSplitViewForm(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("SplitViewForm"));
    setWindowTitle(QStringLiteral("CORVANE 科万串口终端"));
    Memo1 = new TLogMemo(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    setCentralWidget(Memo1);
    resize(1228, 664);
}

TSplitViewForm::~TSplitViewForm() = default;
