#include "TCvChartPanel.h"

#include "CvChartDialogs.h"
#include "TCvChart.h"
#include "TCvComPortObj.h"
#include "TCvExcelApp.h"
#include "TCvFastLineSeries.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <climits>

TCvChartPage::TCvChartPage(TCvChart* chart, const TCvChartControls& controls, QObject* parent)
    : QObject(parent), FChart(chart), FControls(controls)
{
    // The colour buttons start with the colours of the demonstration lines.
    SetButtonColor(0, QColor(255, 0, 255));
    SetButtonColor(1, QColor(255, 255, 0));
    const TCvChartControls& c = FControls;
    // clicked (not toggled): only the user's click redraws the demonstration chart.
    if (c.CheckBox11) connect(c.CheckBox11, &QCheckBox::clicked, this, &TCvChartPage::CheckBox11Click);
    auto bind = [this](QPushButton* button, auto handler) {
        if (button) connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    bind(c.Button15, &TCvChartPage::Button15Click);
    bind(c.Button18, &TCvChartPage::Button18Click);
    bind(c.Button19, &TCvChartPage::Button19Click);
    bind(c.ButtonColor1, &TCvChartPage::ButtonColor1Click);
    bind(c.ButtonColor2, &TCvChartPage::ButtonColor2Click);
    bind(c.Button20, &TCvChartPage::Button20Click);
    bind(c.Button21, &TCvChartPage::Button21Click);
    bind(c.Button22, &TCvChartPage::Button22Click);
    if (chart) chart->SetReadOutLabels(c.Label16, c.Label17);
}

QWidget* TCvChartPage::DialogParent() const
{
    if (FControls.Button20) return FControls.Button20->window();
    return FChart ? FChart->window() : nullptr;
}

void TCvChartPage::SetButtonColor(int index, const QColor& color)
{
    index = index == 1 ? 1 : 0;
    FColors[index] = color;
    QPushButton* button = index == 0 ? FControls.ButtonColor1 : FControls.ButtonColor2;
    if (!button) return;
    QPixmap swatch(16, 16);
    swatch.fill(color);
    QPainter(&swatch).drawRect(0, 0, 15, 15);
    button->setIcon(QIcon(swatch));
}

void TCvChartPage::ChartFollow(int Count)
{
    if (FChart && FControls.CheckBox10 && FControls.CheckBox10->isChecked()) FChart->CharMoveSeries(0, Count);
}

void TCvChartPage::CheckBox11Click()
{
    if (FChart) FChart->CharInit(FControls.CheckBox11 && FControls.CheckBox11->isChecked());
}

void TCvChartPage::Button15Click()
{
    if (FControls.CheckBox10) FControls.CheckBox10->setChecked(false);
    if (!FChart) return;
    FChart->SetBottomAxisAutomatic(true);
    FChart->Refresh();
}

void TCvChartPage::Button18Click()
{
    if (FChart) FChart->CharZoomSeries(-10);
}

void TCvChartPage::Button19Click()
{
    if (FChart) FChart->CharZoomSeries(10);
}

void TCvChartPage::ColorClick(int index)
{
    const std::optional<QColor> color = PromptColor(DialogParent(), FColors[index]);
    if (!color || !color->isValid()) return;
    SetButtonColor(index, *color);
    if (FChart) FChart->CharSeriesSetColor(index, *color);
}

void TCvChartPage::ButtonColor1Click()
{
    ColorClick(0);
}

void TCvChartPage::ButtonColor2Click()
{
    ColorClick(1);
}

TCvExcelApp* TCvChartPage::Button20Click()
{
    const QString name = PromptSaveFileName(
        DialogParent(), QString(),
        QStringLiteral("Excel Workbook (*.xlsx);;Excel 97-2003 Workbook (*.xls);;All files (*)"));
    if (name.isEmpty()) return nullptr;
    TCvExcelApp* app = ExcelStartApplication(
        DialogParent(), FTitle.isEmpty() ? QApplication::applicationDisplayName() : FTitle);
    if (!app) return nullptr;
    // The chosen name is where the workbook is offered to be saved; nothing is saved here.
    app->SetSuggestedFileName(name);
    ExcelExportSeries(app, FChart ? FChart->CharGetSeries2(0) : nullptr);
    return app;
}

void TCvChartPage::Button21Click()
{
    ClearPortSeries(FCurrentPort ? FCurrentPort() : nullptr);
}

QString TCvChartPage::Button22Click()
{
    if (!FChart) return QString();
    const QString name =
        BmpFileName(PromptSaveFileName(DialogParent(), QString(), QStringLiteral("Bitmap (*.bmp)")));
    if (name.isEmpty() || !FChart->SavePicture(name)) return QString();
    return name;
}

TCvChartPanel::TCvChartPanel(TCvChart* chart, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ChartPanel"));
    auto named = [](auto* w, const char* name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };
    // As the window's right panel shows it: the readings and options in GroupBox10, the
    // buttons in Panel15 below them.
    auto* group = named(new QGroupBox(this), "GroupBox10");
    auto* box = new QVBoxLayout(group);
    Label16 = named(new QLabel(QStringLiteral("X:")), "Label16");
    Label17 = named(new QLabel(QStringLiteral("Y: ")), "Label17");
    CheckBox10 = named(new QCheckBox(QStringLiteral("图形跟随向左滚动 ")), "CheckBox10");
    CheckBox10->setChecked(true);
    CheckBox11 = named(new QCheckBox(QStringLiteral("图形叠加在一起")), "CheckBox11");
    for (QWidget* w : std::initializer_list<QWidget*>{Label16, Label17, CheckBox10, CheckBox11})
        box->addWidget(w);
    auto* buttons = named(new QWidget, "Panel15");
    auto* column = new QVBoxLayout(buttons);
    column->setContentsMargins(0, 0, 0, 0);
    Button15 = named(new QPushButton(QStringLiteral("全屏显示所有数据")), "Button15");
    Button18 = named(new QPushButton(QStringLiteral("放大图形 ZOOM OUT")), "Button18");
    Button19 = named(new QPushButton(QStringLiteral("缩小图形 ZOOM IN")), "Button19");
    ButtonColor1 = named(new QPushButton(QStringLiteral("设置图形 1 的颜色")), "ButtonColor1");
    ButtonColor2 = named(new QPushButton(QStringLiteral("设置图形 2 的颜色")), "ButtonColor2");
    Button20 = named(new QPushButton(QStringLiteral("将数据导出到EXCEL")), "Button20");
    Button21 = named(new QPushButton(QStringLiteral("清除图表数据")), "Button21");
    Button22 = named(new QPushButton(QStringLiteral("将图形保存为图片")), "Button22");
    for (QPushButton* b :
         {Button15, Button18, Button19, ButtonColor1, ButtonColor2, Button20, Button21, Button22})
        column->addWidget(b);
    box->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(group);
    layout->addStretch(1);
    FPage = new TCvChartPage(chart,
                             {CheckBox10, CheckBox11, Button15, Button18, Button19, ButtonColor1,
                              ButtonColor2, Button20, Button21, Button22, Label16, Label17},
                             this);
}

bool ExcelExportSeries(TCvExcelApp* app, const TCvFastLineSeries* series)
{
    if (!app) return false;
    if (!app->Cells(1, 1).SetValue(QStringLiteral("X")) || !app->Cells(1, 2).SetValue(QStringLiteral("Y")))
        return false;
    if (!series) return true;
    // The chart kept only the newest points: the caption row says where the export starts.
    if (series->FirstX() > 0 &&
        !app->Cells(1, 3).SetValue(
            QStringLiteral("Older points were dropped by the chart; the first X here is %1")
                .arg(series->FirstX())))
        return false;
    const qint64 n = series->Count();
    for (qint64 i = 0; i < n; ++i) {
        const int row = int(std::min<qint64>(i + 2, qint64(INT_MAX)));
        if (!app->Cells(row, 1).SetValue(series->XValue(i)) ||
            !app->Cells(row, 2).SetValue(series->YValue(i)))
            return false;
    }
    return true;
}

void ClearPortSeries(TCvComPortObj* port)
{
    if (!port) return;
    if (auto* series = qobject_cast<TCvFastLineSeries*>(port->Series())) series->Clear();
}
