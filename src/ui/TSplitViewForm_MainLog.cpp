#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "TLogMemo.h"

#include <QCheckBox>

void TSplitViewForm::MainLogPrint(const QString& Text)
{
    TLogModel& lines = Memo1->Model();
    qint64 n = lines.LineCount();
    // An empty last line is taken by the new one instead of staying as a gap.
    const bool reuseLast = n > 0 && lines.Line(n - 1).isEmpty();
    if (reuseLast) --n;
    QString line = GetLogLineNumberText(n, CheckBox4->isChecked());
    if (CheckBox25->isChecked() || CheckBox3->isChecked())
        line += GetLogTimeText(CheckBox3->isChecked(), CheckBox25->isChecked(),
                               CheckBoxMsTime && CheckBoxMsTime->isChecked());
    line += Text;
    if (reuseLast) lines.ReplaceLine(n, line);
    else lines.Add(line);
    Memo1->ScrollToEnd();
}
