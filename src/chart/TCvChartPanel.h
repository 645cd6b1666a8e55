#pragma once

#include <QColor>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class TCvChart;
class TCvComPortObj;
class TCvExcelApp;
class TCvFastLineSeries;

// A button that shows and keeps a colour.
class TCvColorButton : public QPushButton {
    Q_OBJECT
public:
    explicit TCvColorButton(const QString& caption, const QColor& color, QWidget* parent = nullptr);
    QColor Color() const { return FColor; }
    void SetColor(const QColor& color);

private:
    QColor FColor;
};

// The controls of the right panel's graphic page, acting on one chart. Captions are the
// Chinese ones of the form; the language table re-captions them by object name.
class TCvChartPanel : public QWidget {
    Q_OBJECT
public:
    explicit TCvChartPanel(TCvChart* chart, QWidget* parent = nullptr);

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

    TCvChart* Chart() const { return FChart; }

    QCheckBox* CheckBox10;
    QCheckBox* CheckBox11;
    QPushButton* Button15;
    QPushButton* Button18;
    QPushButton* Button19;
    TCvColorButton* ButtonColor1;
    TCvColorButton* ButtonColor2;
    QPushButton* Button20;
    QPushButton* Button21;
    QPushButton* Button22;
    QLabel* Label16;
    QLabel* Label17;

private:
    void ColorClick(TCvColorButton* button, int index);
    QString ApplicationTitle() const;

    QPointer<TCvChart> FChart;
    TCurrentPortProvider FCurrentPort;
    QString FTitle;
};

// Writes the captions "X" and "Y" into row 1 and point n of the series into row n + 2
// (X in column 1, Y in column 2). Without a series only the captions are written.
// False when a write fails; what was written stays.
bool ExcelExportSeries(TCvExcelApp* app, const TCvFastLineSeries* series);

// Removes every point of the port object's series; nothing without one.
void ClearPortSeries(TCvComPortObj* port);
