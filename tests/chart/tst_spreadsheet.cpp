#include "CvChartDialogs.h"
#include "CvMessageBox.h"
#include "TCvChart.h"
#include "TCvChartPanel.h"
#include "TCvComPortObj.h"
#include "TCvExcelApp.h"
#include "TCvFastLineSeries.h"
#include "TCvSheetModel.h"
#include "XlsxCells.h"

#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

// Every non-empty cell of a sheet, numbers written the shortest way.
Cells SheetCells(const TCvSheetModel* sheet)
{
    Cells out;
    for (int r = 1; r <= sheet->UsedRows(); ++r)
        for (int c = 1; c <= sheet->UsedColumns(); ++c) {
            const QVariant v = sheet->Value(r, c);
            if (!v.isValid()) continue;
            out[TCvSheetModel::ColumnName(c) + QString::number(r)] =
                v.metaType().id() == QMetaType::Double ? QString::number(v.toDouble(), 'g', 17)
                                                       : v.toString();
        }
    return out;
}

struct ExportRig {
    QWidget window;
    TCvChart* chart = new TCvChart(&window);
    TCvChartPanel* panel = new TCvChartPanel(chart, &window);
    QList<QPointer<TCvExcelApp>> apps;

    ExportRig()
    {
        window.show();
        SetExcelAppFactory([this](QWidget* parent) {
            auto* app = new TCvExcelApp(parent);
            apps << app;
            return app;
        });
        SetSaveFileNamePrompt([](QWidget*, const QString&, const QString&, const QString&) {
            return QStringLiteral("/nowhere/wave.xls");
        });
    }
    ~ExportRig()
    {
        for (const QPointer<TCvExcelApp>& a : std::as_const(apps)) delete a.data();
    }
};

} // namespace

class TstSpreadsheet : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        SetInformationPresenter(
            [this](const QString& c, const QString& t) { boxes << c + QLatin1Char('|') + t; });
    }
    void cleanup()
    {
        SetInformationPresenter({});
        SetSaveFileNamePrompt({});
        SetExcelAppFactory({});
        SetSaveChangesPrompt({});
        boxes.clear();
    }

    void startSequence();
    void startFails();
    void chartExport_data();
    void chartExport();
    void exportStopsWhenDialogCancelled();
    void captureChunks_data();
    void captureChunks();
    void captureWithoutApplication();
    void spreadsheetNames_data();
    void spreadsheetNames();
    void cellLimits_data();
    void cellLimits();
    void cellsShowLive();
    void savesXlsx();
    void savesCsv();
    void saveFailureIsShown();
    void closingAsksForUnsavedCells_data();
    void closingAsksForUnsavedCells();

private:
    QStringList boxes;
};

void TstSpreadsheet::startSequence()
{
    QPointer<TCvExcelApp> app = ExcelStartApplication(nullptr, QStringLiteral("CORVANE 科万串口终端"));
    QVERIFY(app);
    QVERIFY(app->Visible());
    QCOMPARE(app->Caption(), QStringLiteral("CORVANE 科万串口终端"));
    QCOMPARE(app->WorkBooks().Count(), 1);
    QVERIFY(app->ActiveSheet());
    QCOMPARE(app->ActiveSheet()->UsedRows(), 0);
    QVERIFY(!app->Worksheets(2).IsValid());
    QVERIFY(!app->Worksheets(2).Activate());
    // A second workbook becomes the one written to.
    QVERIFY(app->WorkBooks().Add());
    QVERIFY(app->Worksheets(1).Activate());
    QVERIFY(app->Cells(1, 1).SetValue(5));
    QCOMPARE(app->Workbook(1)->Value(1, 1), QVariant(5.0));
    QCOMPARE(app->Workbook(0)->UsedRows(), 0);
    delete app;
    // Before a workbook there is no cell to write.
    TCvExcelApp bare;
    QVERIFY(!bare.Cells(1, 1).SetValue(1));
}

void TstSpreadsheet::startFails()
{
    SetExcelAppFactory([](QWidget*) { return nullptr; });
    QCOMPARE(ExcelStartApplication(nullptr, QStringLiteral("t")), nullptr);
    ExportRig rig;
    SetExcelAppFactory([](QWidget*) { return nullptr; });
    QCOMPARE(rig.panel->Page()->Button20Click(), nullptr);
    QVERIFY(boxes.isEmpty());
}

void TstSpreadsheet::chartExport_data()
{
    QTest::addColumn<bool>("withSeries");
    QTest::addColumn<QList<double>>("ys");
    QTest::addColumn<Cells>("expected");
    QTest::newRow("three points") << true << QList<double>{5, 7, 9}
                                  << Cells{{"A1", "X"}, {"B1", "Y"}, {"A2", "0"}, {"B2", "5"},
                                           {"A3", "1"}, {"B3", "7"}, {"A4", "2"}, {"B4", "9"}};
    QTest::newRow("fractions") << true << QList<double>{0.1, -2.5}
                               << Cells{{"A1", "X"}, {"B1", "Y"},
                                        {"A2", "0"}, {"B2", "0.10000000000000001"},
                                        {"A3", "1"}, {"B3", "-2.5"}};
    QTest::newRow("empty series") << true << QList<double>{} << Cells{{"A1", "X"}, {"B1", "Y"}};
    QTest::newRow("no series") << false << QList<double>{} << Cells{{"A1", "X"}, {"B1", "Y"}};
}

void TstSpreadsheet::chartExport()
{
    QFETCH(bool, withSeries);
    QFETCH(QList<double>, ys);
    QFETCH(Cells, expected);
    ExportRig rig;
    rig.chart->CharResetSeries();
    if (withSeries) {
        TCvFastLineSeries* s = rig.chart->CharAddSeries(0, QStringLiteral("first"), Qt::red);
        rig.chart->CharAppendBuffData(s, 0, ys.constData(), int(ys.size()));
        // Only the first series is exported.
        rig.chart->CharAppendData(rig.chart->CharAddSeries(0, QStringLiteral("second"), Qt::blue), 0, 42);
    }
    qApp->setApplicationDisplayName(QStringLiteral("CORVANE 科万串口终端"));
    TCvExcelApp* app = rig.panel->Page()->Button20Click();
    QVERIFY(app);
    QCOMPARE(rig.apps.size(), 1);
    QVERIFY(app->Visible());
    QCOMPARE(app->Caption(), QStringLiteral("CORVANE 科万串口终端"));
    QCOMPARE(SheetCells(app->ActiveSheet()), expected);
    // Nothing is saved on its own; the chosen name is only offered for saving.
    QVERIFY(app->ActiveSheet()->Modified());
    QString offered;
    SetSaveFileNamePrompt([&](QWidget*, const QString&, const QString&, const QString& suggested) {
        offered = suggested;
        return QString();
    });
    QVERIFY(!app->SaveWorkbookAs());
    QCOMPARE(offered, QStringLiteral("/nowhere/wave.xlsx"));
    QVERIFY(boxes.isEmpty());
}

void TstSpreadsheet::exportStopsWhenDialogCancelled()
{
    ExportRig rig;
    SetSaveFileNamePrompt([](QWidget*, const QString&, const QString&, const QString&) { return QString(); });
    QCOMPARE(rig.panel->Page()->Button20Click(), nullptr);
    QVERIFY(rig.apps.isEmpty());
}

void TstSpreadsheet::captureChunks_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<qint64>("startRow");
    QTest::addColumn<qint64>("nextRow");
    QTest::addColumn<Cells>("expected");
    QTest::newRow("3 then 2 bytes")
        << QList<QByteArray>{QByteArray("\x01\x02\x03"), QByteArray("\xfe\xff")} << qint64(0) << qint64(6)
        << Cells{{"B1", "1"}, {"B2", "2"}, {"B3", "3"}, {"B4", "254"}, {"B5", "255"}};
    QTest::newRow("0 bytes from row 0")
        << QList<QByteArray>{QByteArray()} << qint64(0) << qint64(1) << Cells{};
    QTest::newRow("0 bytes from row 7")
        << QList<QByteArray>{QByteArray()} << qint64(7) << qint64(7) << Cells{};
    QTest::newRow("from row 4") << QList<QByteArray>{QByteArray("\x00", 1)} << qint64(4) << qint64(5)
                                << Cells{{"B4", "0"}};
}

void TstSpreadsheet::captureChunks()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(qint64, startRow);
    QFETCH(qint64, nextRow);
    QFETCH(Cells, expected);
    TCvComPortObj port(nullptr, QStringLiteral("Virtual Port (/dev/null)"));
    QCOMPARE(port.FExcelAppRows, qint64(0));
    port.FExcelAppRows = startRow;
    QPointer<TCvExcelApp> app = ExcelStartApplication(nullptr, QStringLiteral("t"));
    for (const QByteArray& chunk : std::as_const(chunks)) {
        bool ok = false;
        port.FExcelAppRows = ExcelWriteBytes(app, reinterpret_cast<const quint8*>(chunk.constData()),
                                             int(chunk.size()), port.FExcelAppRows, &ok);
        QVERIFY(ok);
    }
    QCOMPARE(port.FExcelAppRows, nextRow);
    QCOMPARE(SheetCells(app->ActiveSheet()), expected);
    delete app;
}

void TstSpreadsheet::captureWithoutApplication()
{
    QPointer<TCvExcelApp> app = ExcelStartApplication(nullptr, QStringLiteral("t"));
    const quint8 bytes[] = {9, 8};
    bool ok = false;
    // The last row of a sheet takes one byte; the next has no cell.
    QCOMPARE(ExcelWriteBytes(app, bytes, 2, TCvSheetModel::kMaxRows, &ok),
             qint64(TCvSheetModel::kMaxRows) + 1);
    QVERIFY(!ok);
    QCOMPARE(app->ActiveSheet()->Value(TCvSheetModel::kMaxRows, 2), QVariant(9.0));
    // The user closes the spreadsheet window: later bytes have nowhere to go.
    SetSaveChangesPrompt([](QWidget*, const QString&) { return TSaveChangesAnswer::Discard; });
    app->close();
    QTRY_VERIFY(app.isNull());
    ok = true;
    QCOMPARE(ExcelWriteBytes(app, bytes, 2, 3, &ok), qint64(3));
    QVERIFY(!ok);
    QCOMPARE(ExcelWriteBytes(app, bytes, 0, 0, &ok), qint64(1));
    QVERIFY(ok);
}

void TstSpreadsheet::spreadsheetNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("spreadsheet");
    QTest::newRow(".xlsx") << "/tmp/a.xlsx" << true;
    QTest::newRow(".XLSX") << "/tmp/a.XLSX" << true;
    QTest::newRow(".Xls") << "/tmp/a.Xls" << true;
    QTest::newRow("surrounding blanks") << " /tmp/a.xls " << true;
    QTest::newRow(".txt") << "/tmp/a.txt" << false;
    QTest::newRow(".xlsm") << "/tmp/a.xlsm" << false;
    QTest::newRow("empty") << "" << false;
}

void TstSpreadsheet::spreadsheetNames()
{
    QFETCH(QString, name);
    QFETCH(bool, spreadsheet);
    QCOMPARE(IsSpreadsheetFileName(name), spreadsheet);
}

void TstSpreadsheet::cellLimits_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("first cell") << 1 << 1 << QVariant(1) << true;
    QTest::newRow("last cell") << TCvSheetModel::kMaxRows << TCvSheetModel::kMaxColumns << QVariant(2.5)
                               << true;
    QTest::newRow("row 0") << 0 << 1 << QVariant(1) << false;
    QTest::newRow("column 0") << 1 << 0 << QVariant(1) << false;
    QTest::newRow("below the last row") << TCvSheetModel::kMaxRows + 1 << 1 << QVariant(1) << false;
    QTest::newRow("right of the last column") << 1 << TCvSheetModel::kMaxColumns + 1 << QVariant(1) << false;
    QTest::newRow("not a number") << 1 << 1 << QVariant(std::nan("")) << false;
    QTest::newRow("text") << 3 << 2 << QVariant(QStringLiteral("a,\"b\"")) << true;
}

void TstSpreadsheet::cellLimits()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QVariant, value);
    QFETCH(bool, accepted);
    TCvSheetModel sheet(QStringLiteral("Sheet1"));
    QCOMPARE(sheet.SetValue(row, column, value), accepted);
    QCOMPARE(sheet.Value(row, column).isValid(), accepted);
    if (accepted) QCOMPARE(sheet.Value(row, column).toString(), value.toString());
}

void TstSpreadsheet::cellsShowLive()
{
    QPointer<TCvExcelApp> app = ExcelStartApplication(nullptr, QStringLiteral("t"));
    QTableView* view = app->View(0);
    QAbstractItemModel* model = view->model();
    QVERIFY(app->Cells(150, 30).SetValue(QStringLiteral("late")));
    QVERIFY(app->Cells(2, 2).SetValue(12.5));
    // Within a moment the view has grown to the cell and shows both values.
    QTRY_COMPARE(model->rowCount(), 150);
    QCOMPARE(model->columnCount(), 30);
    QCOMPARE(model->data(model->index(149, 29)).toString(), QStringLiteral("late"));
    QCOMPARE(model->data(model->index(1, 1)).toString(), QLocale().toString(12.5));
    QCOMPARE(model->headerData(29, Qt::Horizontal).toString(), QStringLiteral("AD"));
    QCOMPARE(model->headerData(149, Qt::Vertical).toInt(), 150);
    delete app;
}

void TstSpreadsheet::savesXlsx()
{
    if (QStandardPaths::findExecutable(QStringLiteral("unzip")).isEmpty()) QSKIP("unzip is not installed");
    QTemporaryDir dir;
    QPointer<TCvExcelApp> app = ExcelStartApplication(nullptr, QStringLiteral("t"));
    app->Cells(1, 1).SetValue(QStringLiteral("X"));
    app->Cells(1, 2).SetValue(QStringLiteral("Y ü"));
    app->Cells(2, 1).SetValue(0);
    app->Cells(2, 2).SetValue(-0.1);
    app->Cells(5, 3).SetValue(255);
    const Cells written = SheetCells(app->ActiveSheet());
    SetSaveFileNamePrompt([&](QWidget*, const QString&, const QString& filter, const QString&) {
        return filter.contains(QLatin1String("*.xlsx")) ? dir.filePath(QStringLiteral("book")) : QString();
    });
    QVERIFY(app->SaveWorkbookAs());
    const QString file = dir.filePath(QStringLiteral("book.xlsx"));
    QVERIFY(QFile::exists(file));
    QCOMPARE(XlsxCells(file), written);
    QVERIFY(!app->ActiveSheet()->Modified());
    QVERIFY(boxes.isEmpty());
    delete app;
}

void TstSpreadsheet::savesCsv()
{
    QTemporaryDir dir;
    QPointer<TCvExcelApp> app = ExcelStartApplication(nullptr, QStringLiteral("t"));
    app->Cells(1, 1).SetValue(QStringLiteral("X"));
    app->Cells(1, 2).SetValue(QStringLiteral("a,\"b\""));
    app->Cells(2, 1).SetValue(1);
    app->Cells(2, 2).SetValue(0.1);
    app->Cells(3, 3).SetValue(7);
    const QString file = dir.filePath(QStringLiteral("book.CSV"));
    SetSaveFileNamePrompt([&](QWidget*, const QString&, const QString&, const QString&) { return file; });
    QVERIFY(app->SaveWorkbookAs());
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("X,\"a,\"\"b\"\"\",\r\n1,0.1,\r\n,,7\r\n"));
    delete app;
}

void TstSpreadsheet::saveFailureIsShown()
{
    QPointer<TCvExcelApp> app = ExcelStartApplication(nullptr, QStringLiteral("Title"));
    app->Cells(1, 1).SetValue(1);
    SetSaveFileNamePrompt([](QWidget*, const QString&, const QString&, const QString&) {
        return QStringLiteral("/nonexistent-folder/book.xlsx");
    });
    QVERIFY(!app->SaveWorkbookAs());
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes.first().startsWith(QStringLiteral("Title|Can not save /nonexistent-folder/book.xlsx: ")));
    QVERIFY(app->ActiveSheet()->Modified());
    delete app;
}

void TstSpreadsheet::closingAsksForUnsavedCells_data()
{
    QTest::addColumn<bool>("written");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("asked");
    QTest::newRow("nothing written") << false << int(TSaveChangesAnswer::Cancel) << true << false;
    QTest::newRow("discard") << true << int(TSaveChangesAnswer::Discard) << true << true;
    QTest::newRow("cancel") << true << int(TSaveChangesAnswer::Cancel) << false << true;
    QTest::newRow("save, dialog cancelled") << true << int(TSaveChangesAnswer::Save) << false << true;
}

void TstSpreadsheet::closingAsksForUnsavedCells()
{
    QFETCH(bool, written);
    QFETCH(int, answer);
    QFETCH(bool, closed);
    QFETCH(bool, asked);
    QPointer<TCvExcelApp> app = ExcelStartApplication(nullptr, QStringLiteral("t"));
    if (written) app->Cells(1, 1).SetValue(1);
    bool wasAsked = false;
    SetSaveChangesPrompt([&](QWidget*, const QString& book) {
        wasAsked = true;
        return book == QStringLiteral("Book1") ? TSaveChangesAnswer(answer) : TSaveChangesAnswer::Cancel;
    });
    SetSaveFileNamePrompt([](QWidget*, const QString&, const QString&, const QString&) { return QString(); });
    app->close();
    QCOMPARE(wasAsked, asked);
    if (closed) QTRY_VERIFY(app.isNull()); // deleted on close
    else QVERIFY(app && app->isVisible());
    delete app;
}

QTEST_MAIN(TstSpreadsheet)
#include "tst_spreadsheet.moc"
