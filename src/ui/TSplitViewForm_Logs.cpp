#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "TCvChart.h"
#include "TCvComPortObj.h"
#include "TCvExcelApp.h"
#include "TCvFastLineSeries.h"
#include "TCvPlotPage.h"
#include "TCvSheetModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QPushButton>
#include <QTimer>

#include <sys/file.h>

using namespace Qt::Literals::StringLiterals;

namespace {

bool IsTextCaptureName(const QString& name)
{
    const QString lower = name.trimmed().toLower();
    return lower.endsWith(u".txt"_s) || lower.endsWith(u".log"_s);
}

QString DefaultSaveDialog(QWidget* parent)
{
    const QStringList filters = {u".txt 文本文件 (*.txt)"_s,
                                 u".log 日志文件 (*.log)"_s,
                                 u".xls 2003 Excell 文件 (*.xls)"_s,
                                 u".xlsx 新版Excell 文件 (*.xlsx)"_s,
                                 u".dat (*.dat)"_s,
                                 u".bin (*.bin)"_s,
                                 u".hex (*.hex)"_s,
                                 u".crv Corvane 加密文件 (*.crv)"_s,
                                 u"*.* 所有文件 (*)"_s};
    QFileDialog dlg(parent);
    dlg.setObjectName(u"SaveDialog1"_s);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(u"txt"_s);
    dlg.setNameFilters(filters);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().constFirst();
}

} // namespace

void TSplitViewForm::ConnectLogHandlers()
{
    SaveDialog1 = [this] { return DefaultSaveDialog(this); };
    connect(FPortSettings, &TCvPortSettingsPanel::ClearLogClicked, this, &TSplitViewForm::Button10Click);
    connect(FPortSettings, &TCvPortSettingsPanel::ReceiveFormatChosen, this,
            &TSplitViewForm::ComboBox7Change);
    connect(FPortSettings, &TCvPortSettingsPanel::CaptureClicked, this, &TSplitViewForm::Button13Click);
    connect(FPortSettings, &TCvPortSettingsPanel::CloseCaptureClicked, this, &TSplitViewForm::Button14Click);
}

QString TSplitViewForm::PortLogFileName(const TCvComPortObj* Obj) const
{
    return FDevices->LogPathOf(Obj);
}

void TSplitViewForm::Button10Click()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (obj && obj->Connected()) obj->ClearLog();
}

void TSplitViewForm::Button5Click()
{
    if (FPortSettings->DeviceCount() == 0) return;
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj || !obj->Connected()) return;
    obj->ClearLog();
    obj->ClearInternalBuff(100);
}

std::unique_ptr<TCvSheetWriter> TSplitViewForm::SpreadsheetCapture(TCvComPortObj* Obj, TCvExcelApp* App)
{
    class TCapture : public TCvSheetWriter {
    public:
        TCapture(TSplitViewForm* form, TCvComPortObj* obj, TCvExcelApp* app) : Form(form), Obj(obj), App(app)
        {}

        qint64 WriteBytes(const quint8* bytes, int count, qint64 row) override
        {
            int done = 0;
            while (done < count) {
                const qint64 from = row <= 0 ? 1 : row;
                bool ok = true;
                row = ExcelWriteBytes(App.data(), bytes + done, count - done, from, &ok);
                done += int(row - from);
                if (ok) break;
                // The sheet is full, or its window was closed: go on in a new workbook, or a new
                // window, rather than drop what arrives.
                const bool closed = !App;
                const bool freshRefused = !closed && from == 1 && row == 1;
                if (closed && Form) App = ExcelStartApplication(Form, Form->FApplicationTitle);
                else if (!closed &&
                         (freshRefused || !App->WorkBooks().Add() || !App->Worksheets(1).Activate()))
                    App = nullptr;
                if (!App) {
                    if (!DropTold && Obj)
                        Obj->Log(
                            u"The spreadsheet capture can not go on: received bytes are not written to it."_s);
                    DropTold = true;
                    return row;
                }
                row = 1;
                if (Obj)
                    Obj->Log(
                        closed
                            ? u"The spreadsheet window was closed: the capture goes on in a new one, from row 1."_s
                            : u"The sheet is full (%1 rows): the capture goes on in a new workbook, from row 1."_s
                                  .arg(TCvSheetModel::kMaxRows));
            }
            return row;
        }

    private:
        const QPointer<TSplitViewForm> Form;
        const QPointer<TCvComPortObj> Obj;
        QPointer<TCvExcelApp> App;
        bool DropTold = false;
    };
    return std::make_unique<TCapture>(this, Obj, App);
}

void TSplitViewForm::ComboBox7Change()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj) return;
    if (FPortSettings->Lines().ReceiveFormat == rfFile && !obj->FileStream()) {
        const QString name = SaveDialog1 ? SaveDialog1() : QString();
        if (name.trimmed().isEmpty()) {
            FPortSettings->SetReceiveFormat(rfAscii);
        } else {
            SaveDialog1FileName = name;
            if (IsSpreadsheetFileName(name)) {
                TCvExcelApp* app = ExcelStartApplication(this, FApplicationTitle);
                // A new workbook starts at its first row.
                obj->FExcelAppRows = 0;
                if (!app) {
                    obj->SetSheetWriter(nullptr);
                    obj->Log(Msg(u"Do not find Excel Application "_s));
                } else {
                    obj->SetSheetWriter(SpreadsheetCapture(obj, app));
                }
            } else if (!IsTextCaptureName(name)) {
                auto f = std::make_unique<QFile>(name.trimmed());
                // Not shared: a second capture (ours or another program's) into the same file is refused.
                // Unbuffered: a full disk shows at the write of the chunk that did not fit, not at close.
                if (f->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) &&
                    ::flock(f->handle(), LOCK_EX | LOCK_NB) == 0) {
                    obj->SetFileStream(std::move(f));
                } else {
                    const QString why = f->isOpen() ? Msg(u"the file is in use"_s) : f->errorString();
                    obj->Log(Msg(u"Can not write file %1: %2"_s).arg(name.trimmed(), why));
                }
            }
            // Said only of a file that takes the data: after a refusal it would claim what did not happen.
            if (IsTextCaptureName(name) || (IsSpreadsheetFileName(name) && obj->SheetWriter()) ||
                obj->FileStream())
                obj->Log(Msg(u"Data file save to %1"_s).arg(name));
            obj->FFileStreamName = name.trimmed();
        }
    }
    if (FPortSettings->Lines().ReceiveFormat == rfGraphic)
        if (auto* chart = qobject_cast<TCvChart*>(Chart1)) obj->SetSeries(chart->CharInitSeries(false));
    UpdateCvComPortObjAtrribute();
    if (FPlotPages) FPlotPages->PortChanged(obj);
}

void TSplitViewForm::Button13Click()
{
    FPortSettings->SetReceiveFormat(rfFile);
    ComboBox7Change();
}

void TSplitViewForm::Button14Click()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj) return;
    FPortSettings->SetReceiveFormat(rfAscii);
    ComboBox7Change();
    // The spreadsheet stays open in its own window; it is neither saved nor closed here.
    obj->FFileStreamName.clear();
    obj->SetSheetWriter(nullptr);
    obj->CloseFileStream();
}

void TSplitViewForm::Timer2Timer()
{
    FDevices->SaveOpenLogs();
}
