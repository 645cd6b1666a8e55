#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QVariant>

#include <functional>

class QTabWidget;
class QTableView;
class TCvExcelApp;
class TCvSheetModel;

// The program's own spreadsheet application: a window that takes the calls the waveform
// export and the capture target make (create, Visible, Caption, WorkBooks.Add,
// Worksheets(1).Activate, Cells(row, column).Value), shows the cells as they are written,
// and saves a workbook as .xlsx or .csv only when the user asks.

// A cell of the active sheet, as Cells(row, column) gives it.
class TCvCell {
public:
    // False when there is no active sheet or the cell lies outside the sheet.
    bool SetValue(const QVariant& value) const;
    QVariant Value() const;

private:
    friend class TCvExcelApp;
    TCvCell(TCvSheetModel* sheet, int row, int column) : FSheet(sheet), FRow(row), FColumn(column) {}
    TCvSheetModel* FSheet;
    int FRow;
    int FColumn;
};

// Worksheets(index) of the active workbook; each workbook has the one sheet "Sheet1".
class TCvWorksheet {
public:
    bool IsValid() const { return FSheet != nullptr; }
    // Makes this sheet the one that Cells writes to; false for a sheet that does not exist.
    bool Activate() const;

private:
    friend class TCvExcelApp;
    TCvWorksheet(TCvExcelApp* app, TCvSheetModel* sheet) : FApp(app), FSheet(sheet) {}
    TCvExcelApp* FApp;
    TCvSheetModel* FSheet;
};

class TCvWorkBooks {
public:
    // A new, empty workbook, which becomes the active one.
    bool Add() const;
    int Count() const;

private:
    friend class TCvExcelApp;
    explicit TCvWorkBooks(TCvExcelApp* app) : FApp(app) {}
    TCvExcelApp* FApp;
};

class TCvExcelApp : public QMainWindow {
    Q_OBJECT
public:
    // With a parent it is still a window of its own; it is deleted when the user closes it.
    explicit TCvExcelApp(QWidget* parent = nullptr);
    ~TCvExcelApp() override;

    void SetVisible(bool visible);
    bool Visible() const { return isVisible(); }
    void SetCaption(const QString& caption);
    QString Caption() const { return windowTitle(); }
    TCvWorkBooks WorkBooks() { return TCvWorkBooks(this); }
    TCvWorksheet Worksheets(int index);
    TCvCell Cells(int row, int column) { return TCvCell(FActiveSheet, row, column); }

    TCvSheetModel* ActiveSheet() const { return FActiveSheet; }
    TCvSheetModel* Workbook(int index) const;
    QTableView* View(int index) const;
    // The name offered first when the user saves.
    void SetSuggestedFileName(const QString& name) { FSuggested = name; }
    QString SuggestedFileName() const { return FSuggested; }

    // Asks for a name (.xlsx or .csv; another ending gets ".xlsx") and saves the workbook
    // shown. A failure is shown in a message box.
    bool SaveWorkbookAs(int index = -1);
    // Saves a workbook under a name, the format chosen by its ending.
    bool SaveWorkbook(int index, const QString& fileName, QString* error = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class TCvWorkBooks;
    friend class TCvWorksheet;
    bool AddWorkbook();

    struct TBook {
        TCvSheetModel* sheet;
        QTableView* view;
    };
    QTabWidget* FTabs;
    QList<TBook> FBooks;
    TCvSheetModel* FActiveSheet = nullptr;
    QString FSuggested;
    int FNextBook = 1;
};

// Creates the spreadsheet application; tests replace it (a factory that gives none stands
// for a spreadsheet application that cannot be started).
using TExcelAppFactory = std::function<TCvExcelApp*(QWidget* parent)>;
TCvExcelApp* CreateExcelApp(QWidget* parent);
// Returns the previous factory; an empty function restores the default.
TExcelAppFactory SetExcelAppFactory(TExcelAppFactory factory);

// The start sequence: create, Visible, Caption, WorkBooks.Add, Worksheets(1).Activate.
// None when a step fails.
TCvExcelApp* ExcelStartApplication(QWidget* parent, const QString& caption);

// Writes Count bytes into column 2 from row Row on (0 counts as 1) and returns the next
// free row. Without an application, or at a cell it refuses, the writing stops there:
// the row reached is returned and *ok is false.
qint64 ExcelWriteBytes(TCvExcelApp* app, const quint8* bytes, int Count, qint64 Row, bool* ok = nullptr);

// A capture file name that selects the spreadsheet target: ".xls" or ".xlsx" in any
// letter case, after surrounding blanks are removed.
bool IsSpreadsheetFileName(const QString& name);
