#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class TCvChart;
class TCvComPortObj;
class TCvExcelApp;
class TCvFastLineSeries;

// The controls of the right panel's graphic page. Any of them may be missing.
struct TCvChartControls {
    QCheckBox* CheckBox10 = nullptr;
    QCheckBox* CheckBox11 = nullptr;
    QPushButton* Button15 = nullptr;
    QPushButton* Button18 = nullptr;
    QPushButton* Button19 = nullptr;
    QPushButton* ButtonColor1 = nullptr;
    QPushButton* ButtonColor2 = nullptr;
    QPushButton* Button20 = nullptr;
    QPushButton* Button21 = nullptr;
    QPushButton* Button22 = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* Label17 = nullptr;
};

// What the graphic page's controls do to one chart. It connects the controls it is
// given (wherever the window placed them) to the handlers below, which can also be
// called directly.
class TCvChartPage : public QObject {
    Q_OBJECT
public:
    TCvChartPage(TCvChart* chart, const TCvChartControls& controls, QObject* parent = nullptr);

    // The port object of the selected device (none when there is none); Button21 clears its series.
    using TCurrentPortProvider = std::function<TCvComPortObj*()>;
    void SetCurrentPortProvider(TCurrentPortProvider provider) { FCurrentPort = std::move(provider); }
    // The caption the spreadsheet application gets; the application's display name by default.
    void SetApplicationTitle(const QString& title) { FTitle = title; }

    // For the port objects' notification: the chart follows while CheckBox10 is ticked.
    void ChartFollow(int Count);

    void CheckBox11Click();
    void Button15Click();
    void Button18Click();
    void Button19Click();
    void ButtonColor1Click();
    void ButtonColor2Click();
    // The spreadsheet window the export wrote into, or none when it stopped early.
    TCvExcelApp* Button20Click();
    void Button21Click();
    // The file written, or empty when nothing was saved.
    QString Button22Click();

    // The colour a colour button holds (index 0 for ButtonColor1, 1 for ButtonColor2).
    QColor ButtonColor(int index) const { return FColors[index == 1 ? 1 : 0]; }
    void SetButtonColor(int index, const QColor& color);

    TCvChart* Chart() const { return FChart; }
    const TCvChartControls& Controls() const { return FControls; }

private:
    void ColorClick(int index);
    QWidget* DialogParent() const;

    QPointer<TCvChart> FChart;
    TCvChartControls FControls;
    QColor FColors[2];
    TCurrentPortProvider FCurrentPort;
    QString FTitle;
};

// The graphic page as a widget of its own: the controls with their object names and
// Chinese captions (the language table re-captions them by name), driven by a page.
class TCvChartPanel : public QWidget {
    Q_OBJECT
public:
    explicit TCvChartPanel(TCvChart* chart, QWidget* parent = nullptr);

    TCvChartPage* Page() const { return FPage; }

    QLabel* Label16;
    QLabel* Label17;
    QCheckBox* CheckBox10;
    QCheckBox* CheckBox11;
    QPushButton* Button15;
    QPushButton* Button18;
    QPushButton* Button19;
    QPushButton* ButtonColor1;
    QPushButton* ButtonColor2;
    QPushButton* Button20;
    QPushButton* Button21;
    QPushButton* Button22;

private:
    TCvChartPage* FPage;
};

// Writes the captions "X" and "Y" into row 1 and point n of the series into row n + 2
// (X in column 1, Y in column 2). Without a series only the captions are written.
// False when a write fails; what was written stays.
bool ExcelExportSeries(TCvExcelApp* app, const TCvFastLineSeries* series);

// Removes every point of the port object's series; nothing without one.
void ClearPortSeries(TCvComPortObj* port);
