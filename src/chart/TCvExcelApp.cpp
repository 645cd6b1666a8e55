#include "TCvExcelApp.h"

#include "CvChartDialogs.h"
#include "CvMessageBox.h"
#include "CvMessages.h"
#include "TCvSheetModel.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolBar>

namespace {

TExcelAppFactory& Factory()
{
    static TExcelAppFactory f;
    return f;
}

} // namespace

bool TCvCell::SetValue(const QVariant& value) const
{
    return FSheet && FSheet->SetValue(FRow, FColumn, value);
}

QVariant TCvCell::Value() const
{
    return FSheet ? FSheet->Value(FRow, FColumn) : QVariant();
}

bool TCvWorksheet::Activate() const
{
    if (!FSheet) return false;
    FApp->FActiveSheet = FSheet;
    return true;
}

bool TCvWorkBooks::Add() const
{
    return FApp->AddWorkbook();
}

int TCvWorkBooks::Count() const
{
    return int(FApp->FBooks.size());
}

TCvExcelApp::TCvExcelApp(QWidget* parent) : QMainWindow(parent), FTabs(new QTabWidget(this))
{
    setObjectName(QStringLiteral("ExcelApp"));
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setCentralWidget(FTabs);
    resize(720, 520);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* save = file->addAction(QStringLiteral("&Save As..."), this, [this] { SaveWorkbookAs(); });
    save->setObjectName(QStringLiteral("ActionSave"));
    save->setShortcut(QKeySequence::Save);
    file->addSeparator();
    file->addAction(QStringLiteral("&Close"), this, &QWidget::close);
    QToolBar* bar = addToolBar(QStringLiteral("File"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->addAction(save);
}

TCvExcelApp::~TCvExcelApp() = default;

void TCvExcelApp::SetVisible(bool visible)
{
    setVisible(visible);
    if (visible) raise();
}

void TCvExcelApp::SetCaption(const QString& caption)
{
    setWindowTitle(caption);
}

bool TCvExcelApp::AddWorkbook()
{
    const QString name = QStringLiteral("Book%1").arg(FNextBook++);
    auto* sheet = new TCvSheetModel(QStringLiteral("Sheet1"), this);
    auto* view = new QTableView(FTabs);
    view->setModel(sheet);
    // Fixed row heights keep a view of a million rows quick.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    FBooks.append({sheet, view});
    FTabs->setCurrentIndex(FTabs->addTab(view, name));
    FActiveSheet = sheet;
    return true;
}

TCvWorksheet TCvExcelApp::Worksheets(int index)
{
    // The active workbook is the one added last; its only sheet is number 1.
    TCvSheetModel* sheet = index == 1 && !FBooks.isEmpty() ? FBooks.last().sheet : nullptr;
    return TCvWorksheet(this, sheet);
}

TCvSheetModel* TCvExcelApp::Workbook(int index) const
{
    return index >= 0 && index < FBooks.size() ? FBooks.at(index).sheet : nullptr;
}

QTableView* TCvExcelApp::View(int index) const
{
    return index >= 0 && index < FBooks.size() ? FBooks.at(index).view : nullptr;
}

bool TCvExcelApp::SaveWorkbook(int index, const QString& fileName, QString* error)
{
    TCvSheetModel* sheet = Workbook(index);
    if (!sheet) {
        if (error) *error = QStringLiteral("there is no workbook");
        return false;
    }
    const bool csv = fileName.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
    const bool saved = csv ? sheet->SaveCsv(fileName, error) : sheet->SaveXlsx(fileName, error);
    if (saved) {
        sheet->SetModified(false);
        FTabs->setTabText(index, QFileInfo(fileName).fileName());
        statusBar()->showMessage(Msg(QStringLiteral("Saved %1")).arg(fileName), 5000);
    }
    return saved;
}

bool TCvExcelApp::SaveWorkbookAs(int index)
{
    if (index < 0) index = FTabs->currentIndex();
    if (!Workbook(index)) return false;
    QString suggested = FSuggested;
    if (!suggested.isEmpty()) {
        const QString lower = suggested.toLower();
        // Only .xlsx and .csv are written; an .xls name is offered as .xlsx.
        if (!lower.endsWith(QLatin1String(".xlsx")) && !lower.endsWith(QLatin1String(".csv")))
            suggested = QFileInfo(suggested).path() + QLatin1Char('/') +
                        QFileInfo(suggested).completeBaseName() + QStringLiteral(".xlsx");
    }
    QString name = PromptSaveFileName(
        this, Msg(QStringLiteral("Save Workbook")),
        QStringLiteral("Excel Workbook (*.xlsx);;CSV (Comma delimited) (*.csv)"), suggested);
    if (name.isEmpty()) return false;
    const QString lower = name.toLower();
    if (!lower.endsWith(QLatin1String(".xlsx")) && !lower.endsWith(QLatin1String(".csv")))
        name += QStringLiteral(".xlsx");
    QString error;
    if (SaveWorkbook(index, name, &error)) return true;
    ShowInformation(windowTitle(), Msg(QStringLiteral("Can not save %1: %2")).arg(name, error));
    return false;
}

void TCvExcelApp::closeEvent(QCloseEvent* event)
{
    for (int i = 0; i < FBooks.size(); ++i) {
        if (!FBooks.at(i).sheet->Modified()) continue;
        FTabs->setCurrentIndex(i);
        const TSaveChangesAnswer answer = PromptSaveChanges(this, FTabs->tabText(i));
        if (answer == TSaveChangesAnswer::Cancel ||
            (answer == TSaveChangesAnswer::Save && !SaveWorkbookAs(i))) {
            event->ignore();
            return;
        }
    }
    event->accept();
}

TCvExcelApp* CreateExcelApp(QWidget* parent)
{
    if (Factory()) return Factory()(parent);
    return new TCvExcelApp(parent);
}

TExcelAppFactory SetExcelAppFactory(TExcelAppFactory factory)
{
    return std::exchange(Factory(), std::move(factory));
}

TCvExcelApp* ExcelStartApplication(QWidget* parent, const QString& caption)
{
    TCvExcelApp* app = CreateExcelApp(parent);
    if (!app) return nullptr;
    app->SetVisible(true);
    app->SetCaption(caption);
    if (!app->WorkBooks().Add() || !app->Worksheets(1).Activate()) {
        delete app;
        return nullptr;
    }
    return app;
}

qint64 ExcelWriteBytes(TCvExcelApp* app, const quint8* bytes, int Count, qint64 Row, bool* ok)
{
    if (Row == 0) Row = 1;
    if (ok) *ok = true;
    for (int i = 0; i < Count; ++i) {
        if (!app || Row > TCvSheetModel::kMaxRows || !app->Cells(int(Row), 2).SetValue(int(bytes[i]))) {
            if (ok) *ok = false;
            return Row;
        }
        ++Row;
    }
    return Row;
}

bool IsSpreadsheetFileName(const QString& name)
{
    const QString n = name.trimmed();
    return n.endsWith(QLatin1String(".xls"), Qt::CaseInsensitive) ||
           n.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive);
}
