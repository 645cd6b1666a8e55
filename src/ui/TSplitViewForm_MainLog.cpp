#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "TLogMemo.h"

void TSplitViewForm::MainLogPrint(const QString& Text)
{
    TLogModel& lines = Memo1->Model();
    qint64 n = lines.LineCount();
    // An empty last line is taken by the new one instead of staying as a gap.
    const bool reuseLast = n > 0 && lines.Line(n - 1).isEmpty();
    if (reuseLast) --n;
    const TCvDisplayOptions d = FPreferences->Display();
    QString line = GetLogLineNumberText(n, d.ShowLineNumber);
    if (d.ShowTime || d.ShowDate) line += GetLogTimeText(d.ShowDate, d.ShowTime, FPreferences->MsTimeStamp());
    line += Text;
    if (reuseLast) lines.ReplaceLine(n, line);
    else lines.Add(line);
    Memo1->ScrollToEnd();
}
