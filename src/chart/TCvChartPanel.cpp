#include "TCvChartPanel.h"

#include "CvChartDialogs.h"
#include "TCvChart.h"
#include "TCvComPortObj.h"
#include "TCvExcelApp.h"
#include "TCvFastLineSeries.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

TCvColorButton::TCvColorButton(const QString& caption, const QColor& color, QWidget* parent) : QPushButton(caption, parent)
{
    SetColor(color);
}

void TCvColorButton::SetColor(const QColor& color)
{
    FColor = color;
    QPixmap swatch(16, 16);
    swatch.fill(color);
    QPainter(&swatch).drawRect(0, 0, 15, 15);
    setIcon(QIcon(swatch));
}

TCvChartPanel::TCvChartPanel(TCvChart* chart, QWidget* parent) : QWidget(parent), FChart(chart)
{
    setObjectName(QStringLiteral("ChartPanel"));
    auto make = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    Label16 = new QLabel(QStringLiteral("X:"), this);
    Label16->setObjectName(QStringLiteral("Label16"));
    Label17 = new QLabel(QStringLiteral("Y: "), this);
    Label17->setObjectName(QStringLiteral("Label17"));
    CheckBox10 = new QCheckBox(QStringLiteral("图形跟随向左滚动 "), this);
    CheckBox10->setObjectName(QStringLiteral("CheckBox10"));
    CheckBox10->setChecked(true);
    CheckBox11 = new QCheckBox(QStringLiteral("图形叠加在一起"), this);
    CheckBox11->setObjectName(QStringLiteral("CheckBox11"));
    Button15 = make("Button15", QStringLiteral("全屏显示所有数据"));
    Button18 = make("Button18", QStringLiteral("放大图形 ZOOM OUT"));
    Button19 = make("Button19", QStringLiteral("缩小图形 ZOOM IN"));
    ButtonColor1 = new TCvColorButton(QStringLiteral("设置图形 1 的颜色"), QColor(255, 0, 255), this);
    ButtonColor1->setObjectName(QStringLiteral("ButtonColor1"));
    ButtonColor2 = new TCvColorButton(QStringLiteral("设置图形 2 的颜色"), QColor(255, 255, 0), this);
    ButtonColor2->setObjectName(QStringLiteral("ButtonColor2"));
    Button20 = make("Button20", QStringLiteral("将数据导出到EXCEL"));
    Button21 = make("Button21", QStringLiteral("清除图表数据"));
    Button22 = make("Button22", QStringLiteral("将图形保存为图片"));

    auto* layout = new QVBoxLayout(this);
    for (QWidget* w : std::initializer_list<QWidget*>{Label16, Label17, CheckBox10, CheckBox11, Button15, Button18,
                                                      Button19, ButtonColor1, ButtonColor2, Button20, Button21,
                                                      Button22})
        layout->addWidget(w);
    layout->addStretch();

    // clicked (not toggled): only the user's click redraws the demonstration chart.
    connect(CheckBox11, &QCheckBox::clicked, this, &TCvChartPanel::CheckBox11Click);
    connect(Button15, &QPushButton::clicked, this, &TCvChartPanel::Button15Click);
    connect(Button18, &QPushButton::clicked, this, &TCvChartPanel::Button18Click);
    connect(Button19, &QPushButton::clicked, this, &TCvChartPanel::Button19Click);
    connect(ButtonColor1, &QPushButton::clicked, this, &TCvChartPanel::ButtonColor1Click);
    connect(ButtonColor2, &QPushButton::clicked, this, &TCvChartPanel::ButtonColor2Click);
    connect(Button20, &QPushButton::clicked, this, [this] { Button20Click(); });
    connect(Button21, &QPushButton::clicked, this, &TCvChartPanel::Button21Click);
    connect(Button22, &QPushButton::clicked, this, [this] { Button22Click(); });
    if (chart) chart->SetReadOutLabels(Label16, Label17);
}

QString TCvChartPanel::ApplicationTitle() const
{
    return FTitle.isEmpty() ? QApplication::applicationDisplayName() : FTitle;
}

void TCvChartPanel::ChartFollow(int Count)
{
    if (FChart && CheckBox10->isChecked()) FChart->CharMoveSeries(0, Count);
}

void TCvChartPanel::CheckBox11Click()
{
    if (FChart) FChart->CharInit(CheckBox11->isChecked());
}

void TCvChartPanel::Button15Click()
{
    CheckBox10->setChecked(false);
    if (!FChart) return;
    FChart->SetBottomAxisAutomatic(true);
    FChart->Refresh();
}

void TCvChartPanel::Button18Click()
{
    if (FChart) FChart->CharZoomSeries(-10);
}

void TCvChartPanel::Button19Click()
{
    if (FChart) FChart->CharZoomSeries(10);
}

void TCvChartPanel::ColorClick(TCvColorButton* button, int index)
{
    const std::optional<QColor> color = PromptColor(this, button->Color());
    if (!color || !color->isValid()) return;
    button->SetColor(*color);
    if (FChart) FChart->CharSeriesSetColor(index, *color);
}

void TCvChartPanel::ButtonColor1Click()
{
    ColorClick(ButtonColor1, 0);
}

void TCvChartPanel::ButtonColor2Click()
{
    ColorClick(ButtonColor2, 1);
}

TCvExcelApp* TCvChartPanel::Button20Click()
{
    const QString name = PromptSaveFileName(
        this, QString(), QStringLiteral("Excel Workbook (*.xlsx);;Excel 97-2003 Workbook (*.xls);;All files (*)"));
    if (name.isEmpty()) return nullptr;
    TCvExcelApp* app = ExcelStartApplication(window(), ApplicationTitle());
    if (!app) return nullptr;
    // The chosen name is where the workbook is offered to be saved; nothing is saved here.
    app->SetSuggestedFileName(name);
    ExcelExportSeries(app, FChart ? FChart->CharGetSeries2(0) : nullptr);
    return app;
}

void TCvChartPanel::Button21Click()
{
    ClearPortSeries(FCurrentPort ? FCurrentPort() : nullptr);
}

QString TCvChartPanel::Button22Click()
{
    if (!FChart) return QString();
    const QString name = BmpFileName(PromptSaveFileName(this, QString(), QStringLiteral("Bitmap (*.bmp)")));
    if (name.isEmpty() || !FChart->SavePicture(name)) return QString();
    return name;
}

bool ExcelExportSeries(TCvExcelApp* app, const TCvFastLineSeries* series)
{
    if (!app) return false;
    if (!app->Cells(1, 1).SetValue(QStringLiteral("X")) || !app->Cells(1, 2).SetValue(QStringLiteral("Y")))
        return false;
    if (!series) return true;
    const qint64 n = series->Count();
    for (qint64 i = 0; i < n; ++i) {
        const int row = int(std::min<qint64>(i + 2, qint64(INT_MAX)));
        if (!app->Cells(row, 1).SetValue(series->XValue(i)) || !app->Cells(row, 2).SetValue(series->YValue(i)))
            return false;
    }
    return true;
}

void ClearPortSeries(TCvComPortObj* port)
{
    if (!port) return;
    if (auto* series = qobject_cast<TCvFastLineSeries*>(port->Series())) series->Clear();
}
