#include "CvChartDialogs.h"
#include "PortRig.h"
#include "TCvChart.h"
#include "TCvChartPanel.h"
#include "TCvComPortObj.h"
#include "TCvExcelApp.h"
#include "TCvFastLineSeries.h"

#include <QChart>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

#include <cmath>
#include <numbers>

using namespace Qt::Literals::StringLiterals;

namespace {

// A shown chart with its control page, as the main window hosts them.
struct ChartRig {
    QWidget window;
    TCvChart* chart = new TCvChart(&window);
    TCvChartPanel* panel = new TCvChartPanel(chart, &window);

    ChartRig()
    {
        auto* layout = new QHBoxLayout(&window);
        layout->addWidget(chart, 1);
        layout->addWidget(panel);
        window.resize(900, 500);
        window.show();
        chart->CharInit(false);
        chart->Refresh();
    }
};

QList<double> Ys(const TCvFastLineSeries* s)
{
    QList<double> ys;
    for (qint64 i = 0; i < s->Count(); ++i) ys << s->YValue(i);
    return ys;
}

bool AllWhole(const QList<double>& ys)
{
    return std::all_of(ys.begin(), ys.end(), [](double y) { return y == std::floor(y); });
}

// RGB without alpha: the grab's alpha channel plays no part in what is seen.
QRgb Rgb(const QImage& img, int x, int y)
{
    return img.pixel(x, y) & 0xffffff;
}

} // namespace

class TstChart : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        SetSaveFileNamePrompt({});
        SetColorPrompt({});
    }

    void demonstrationChart_data();
    void demonstrationChart();
    void resetLook();
    void getSeriesByTitle_data();
    void getSeriesByTitle();
    void getSeriesByIndex_data();
    void getSeriesByIndex();
    void addSeriesWithExistingTitle();
    void appendWithBase();
    void zoom_data();
    void zoom();
    void zoomFarOut_data();
    void zoomFarOut();
    void followScrolling_data();
    void followScrolling();
    void followOnlyWhileTicked();
    void showAllPoints();
    void pageDrivesControlsPlacedElsewhere();
    void seriesColours_data();
    void seriesColours();
    void clearRestartsAtZero_data();
    void clearRestartsAtZero();
    void graphicFormatFeedsTheSeries();
    void resetLeavesNoDanglingSeries();
    void historyIsBounded();
    void droppingIsToldAndExportNamesFirstX();
    void drawnLineIsDecimatedAndFaithful();
    void minMaxMatchesScan_data();
    void minMaxMatchesScan();
    void hiddenChartCatchesUpWhenShown();
    void mouseReadOut();
    void crosshairIsErasedBeforeTheNextOne();
    void bmpName_data();
    void bmpName();
    void saveAsBmp();
};

void TstChart::demonstrationChart_data()
{
    QTest::addColumn<bool>("overlaid");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("start-up, one above the other") << false << 11.0 << 30.0;
    QTest::newRow("CheckBox11 ticked, overlaid") << true << 0.0 << 19.0;
}

void TstChart::demonstrationChart()
{
    QFETCH(bool, overlaid);
    QFETCH(double, low);
    QFETCH(double, high);
    ChartRig rig;
    if (overlaid) {
        QTest::mouseClick(rig.panel->CheckBox11, Qt::LeftButton);
        QVERIFY(rig.panel->CheckBox11->isChecked());
    }
    QCOMPARE(rig.chart->SeriesCount(), 2);
    TCvFastLineSeries* s1 = rig.chart->CharGetSeries2(0);
    TCvFastLineSeries* s2 = rig.chart->CharGetSeries2(1);
    QCOMPARE(s1->Title(), QStringLiteral("test1"));
    QCOMPARE(s1->Color(), QColor(255, 0, 255));
    QCOMPARE(s1->LineWidth(), 2);
    QCOMPARE(s1->Count(), 91);
    const QList<double> ys = Ys(s1);
    QVERIFY(AllWhole(ys));
    QVERIFY(*std::min_element(ys.begin(), ys.end()) >= low);
    QVERIFY(*std::max_element(ys.begin(), ys.end()) <= high);
    QCOMPARE(s2->Title(), QStringLiteral("test2"));
    QCOMPARE(s2->Color(), QColor(255, 255, 0));
    QCOMPARE(s2->Count(), 90);
    for (qint64 i = 0; i < 90; ++i) {
        QCOMPARE(s2->XValue(i), double(i));
        QCOMPARE(s2->YValue(i), (std::sin(2 * std::numbers::pi * double(i % 30) / 30) + 1) * 5);
    }
    // Both lines are drawn whole: few points need no thinning.
    QCOMPARE(s1->LineSeries()->count(), 91);
    QCOMPARE(s2->LineSeries()->count(), 90);
    QVERIFY(rig.chart->BottomAxisAutomatic());
    QCOMPARE(rig.chart->BottomAxisMinimum(), 0.0);
    QCOMPARE(rig.chart->BottomAxisMaximum(), 90.0);
}

void TstChart::resetLook()
{
    ChartRig rig;
    rig.chart->SetBottomAxisMinMax(5, 50);
    rig.chart->CharResetSeries();
    QCOMPARE(rig.chart->SeriesCount(), 0);
    QVERIFY(rig.chart->BottomAxisAutomatic());
    QVERIFY(!rig.chart->chart()->legend()->isVisible());
    QCOMPARE(rig.chart->chart()->backgroundBrush().color(), QColor(Qt::black));
    QCOMPARE(rig.chart->chart()->titleBrush().color(), QColor(200, 150, 50));
    QCOMPARE(rig.chart->AxisX()->labelsColor(), QColor(Qt::white));
    QCOMPARE(rig.chart->AxisY()->labelsColor(), QColor(Qt::white));
    QVERIFY(rig.chart->chart()->series().isEmpty());
}

void TstChart::getSeriesByTitle_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("expected"); // index, -1 for none
    QTest::newRow("empty title gives the first") << QString() << 0;
    QTest::newRow("exact") << QStringLiteral("test2") << 1;
    QTest::newRow("letter case differs") << QStringLiteral("TEST1") << -1;
    QTest::newRow("unknown") << QStringLiteral("test3") << -1;
}

void TstChart::getSeriesByTitle()
{
    QFETCH(QString, title);
    QFETCH(int, expected);
    ChartRig rig;
    QCOMPARE(rig.chart->CharGetSeries(title), rig.chart->CharGetSeries2(expected));
    rig.chart->CharResetSeries();
    QCOMPARE(rig.chart->CharGetSeries(title), nullptr);
}

void TstChart::getSeriesByIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("title"); // empty for none
    QTest::newRow("-1") << -1 << QString();
    QTest::newRow("0") << 0 << QStringLiteral("test1");
    QTest::newRow("1") << 1 << QStringLiteral("test2");
    QTest::newRow("number of series") << 2 << QString();
}

void TstChart::getSeriesByIndex()
{
    QFETCH(int, index);
    QFETCH(QString, title);
    ChartRig rig;
    TCvFastLineSeries* s = rig.chart->CharGetSeries2(index);
    QCOMPARE(s ? s->Title() : QString(), title);
}

void TstChart::addSeriesWithExistingTitle()
{
    ChartRig rig;
    TCvFastLineSeries* before = rig.chart->CharGetSeries(QStringLiteral("test1"));
    TCvFastLineSeries* s = rig.chart->CharAddSeries(7, QStringLiteral("test1"), QColor(Qt::green));
    QCOMPARE(s, before);
    QCOMPARE(s->Color(), QColor(255, 0, 255));
    QCOMPARE(s->Count(), 91);
    QCOMPARE(rig.chart->SeriesCount(), 2);
}

void TstChart::appendWithBase()
{
    ChartRig rig;
    TCvFastLineSeries* s = rig.chart->CharInitSeries(true);
    QCOMPARE(s->Title(), QStringLiteral("test1"));
    QCOMPARE(s->Color(), QColor(255, 255, 0));
    QCOMPARE(rig.chart->SeriesCount(), 1);
    const double buff[] = {1.5, 2, 3, 99};
    rig.chart->CharAppendBuffData(s, 10, buff, 3);
    rig.chart->CharAppendData(s, -1, 0.25);
    rig.chart->CharAppendData(nullptr, 0, 1);
    rig.chart->CharAppendBuffData(nullptr, 0, buff, 4);
    QCOMPARE(Ys(s), (QList<double>{11.5, 12, 13, -0.75}));
    QCOMPARE(s->XValue(3), 3.0);
}

void TstChart::zoom_data()
{
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<QString>("button");
    QTest::addColumn<double>("newMinimum");
    QTest::addColumn<double>("newMaximum");
    QTest::newRow("Button18 narrows") << 0.0 << 100.0 << "Button18" << 10.0 << 90.0;
    QTest::newRow("Button19 widens") << 0.0 << 100.0 << "Button19" << -10.0 << 110.0;
    // Minimum and maximum would meet: the step is refused as a whole.
    QTest::newRow("Button18 on a range of 20") << 0.0 << 20.0 << "Button18" << 0.0 << 20.0;
    QTest::newRow("Button18 on a range of 21") << 0.0 << 21.0 << "Button18" << 10.0 << 11.0;
}

void TstChart::zoom()
{
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(QString, button);
    QFETCH(double, newMinimum);
    QFETCH(double, newMaximum);
    ChartRig rig;
    rig.chart->SetBottomAxisMinMax(minimum, maximum);
    QTest::mouseClick(rig.panel->findChild<QPushButton*>(button), Qt::LeftButton);
    QVERIFY(!rig.chart->BottomAxisAutomatic());
    QCOMPARE(rig.chart->BottomAxisMinimum(), newMinimum);
    QCOMPARE(rig.chart->BottomAxisMaximum(), newMaximum);
    // What is drawn follows at once.
    QCOMPARE(rig.chart->AxisX()->min(), newMinimum);
    QCOMPARE(rig.chart->AxisX()->max(), newMaximum);
}

void TstChart::zoomFarOut_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("right clicks of the mouse") << u"mouse"_s;
    QTest::newRow("Button19 again and again") << u"button"_s;
    QTest::newRow("limits far apart") << u"far"_s;
    QTest::newRow("limits that are no numbers") << u"nan"_s;
}

// However far out the user zooms, the axis stops at its widest range and the lines are drawn.
void TstChart::zoomFarOut()
{
    QFETCH(QString, how);
    ChartRig rig;
    rig.chart->SetBottomAxisMinMax(0, 90);
    for (int i = 0; i < 300; ++i) {
        if (how == u"mouse"_s)
            QTest::mouseClick(rig.chart->viewport(), Qt::RightButton, {}, QPoint(200, 200));
        if (how == u"button"_s)
            QTest::mouseClick(rig.panel->findChild<QPushButton*>(u"Button19"_s), Qt::LeftButton);
    }
    if (how == u"far"_s) rig.chart->SetBottomAxisMinMax(-1e300, 1e300);
    if (how == u"nan"_s) rig.chart->SetBottomAxisMinMax(std::nan(""), 5);
    rig.chart->Refresh();
    // The demonstration's points span X 0 to 90.
    const double widest = std::max(TCvChart::kWidestMinimum, 90 * TCvChart::kWidestFactor);
    const double minimum = rig.chart->BottomAxisMinimum(), maximum = rig.chart->BottomAxisMaximum();
    QVERIFY2(std::isfinite(minimum) && std::isfinite(maximum) && maximum > minimum &&
                 maximum - minimum <= widest * (1 + 1e-12),
             qPrintable(u"%1 .. %2"_s.arg(minimum).arg(maximum)));
    if (how == u"nan"_s) {
        QCOMPARE(minimum, 0.0);
        QCOMPARE(maximum, 90.0);
    }
    QVERIFY(minimum <= 0 && maximum >= 89);
    // Both lines are drawn whole: every point is in view.
    QCOMPARE(rig.chart->CharGetSeries(u"test1"_s)->LineSeries()->count(), 91);
    QCOMPARE(rig.chart->CharGetSeries(u"test2"_s)->LineSeries()->count(), 90);
    QCOMPARE(rig.chart->AxisX()->min(), minimum);
    QCOMPARE(rig.chart->AxisX()->max(), maximum);
}

void TstChart::followScrolling_data()
{
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("manualAfter");
    QTest::addColumn<double>("newMinimum");
    QTest::addColumn<double>("newMaximum");
    QTest::newRow("range 30 stays") << false << 0.0 << 30.0 << 1 << true << 0.0 << 30.0;
    QTest::newRow("range 31 moves") << false << 0.0 << 31.0 << 1 << true << 1.0 << 32.0;
    QTest::newRow("range 31 moves by count") << false << 10.0 << 41.0 << 5 << true << 15.0 << 46.0;
    // The demonstration chart spans 0..90 on an automatic axis.
    QTest::newRow("automatic, count 0: manual, same limits")
        << true << 0.0 << 0.0 << 0 << true << 0.0 << 90.0;
    QTest::newRow("automatic, count 1") << true << 0.0 << 0.0 << 1 << true << 1.0 << 91.0;
}

void TstChart::followScrolling()
{
    QFETCH(bool, automatic);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(int, count);
    QFETCH(bool, manualAfter);
    QFETCH(double, newMinimum);
    QFETCH(double, newMaximum);
    ChartRig rig;
    if (!automatic) rig.chart->SetBottomAxisMinMax(minimum, maximum);
    rig.chart->CharMoveSeries(0, count);
    QCOMPARE(!rig.chart->BottomAxisAutomatic(), manualAfter);
    QCOMPARE(rig.chart->BottomAxisMinimum(), newMinimum);
    QCOMPARE(rig.chart->BottomAxisMaximum(), newMaximum);
    QTRY_VERIFY(!rig.chart->RefreshPending());
    QCOMPARE(rig.chart->AxisX()->min(), newMinimum);
    QCOMPARE(rig.chart->AxisX()->max(), newMaximum);
}

void TstChart::followOnlyWhileTicked()
{
    ChartRig rig;
    QVERIFY(rig.panel->CheckBox10->isChecked());
    rig.panel->Page()->ChartFollow(1);
    QCOMPARE(rig.chart->BottomAxisMaximum(), 91.0);
    rig.panel->CheckBox10->setChecked(false);
    rig.panel->Page()->ChartFollow(1);
    QCOMPARE(rig.chart->BottomAxisMaximum(), 91.0);
    // A narrow automatic axis stays automatic.
    rig.panel->CheckBox10->setChecked(true);
    TCvFastLineSeries* s = rig.chart->CharInitSeries(false);
    for (int i = 0; i < 31; ++i) s->AddY(i);
    rig.panel->Page()->ChartFollow(1);
    QVERIFY(rig.chart->BottomAxisAutomatic());
    s->AddY(31);
    rig.panel->Page()->ChartFollow(1);
    QCOMPARE(rig.chart->BottomAxisMinimum(), 1.0);
    QCOMPARE(rig.chart->BottomAxisMaximum(), 32.0);
}

void TstChart::showAllPoints()
{
    ChartRig rig;
    rig.chart->SetBottomAxisMinMax(40, 50);
    QTest::mouseClick(rig.panel->Button15, Qt::LeftButton);
    QVERIFY(!rig.panel->CheckBox10->isChecked());
    QVERIFY(rig.chart->BottomAxisAutomatic());
    QCOMPARE(rig.chart->AxisX()->min(), 0.0);
    QCOMPARE(rig.chart->AxisX()->max(), 90.0);
}

void TstChart::pageDrivesControlsPlacedElsewhere()
{
    // The window's own controls, some of them missing.
    ChartRig rig;
    QWidget elsewhere;
    TCvChartControls controls;
    controls.CheckBox10 = new QCheckBox(&elsewhere);
    controls.Button18 = new QPushButton(&elsewhere);
    controls.Label16 = new QLabel(&elsewhere);
    elsewhere.show();
    TCvChartPage page(rig.chart, controls);
    rig.chart->SetBottomAxisMinMax(0, 100);
    QTest::mouseClick(controls.Button18, Qt::LeftButton);
    QCOMPARE(rig.chart->BottomAxisMaximum(), 90.0);
    page.ChartFollow(1);
    QCOMPARE(rig.chart->BottomAxisMaximum(), 90.0);
    controls.CheckBox10->setChecked(true);
    page.ChartFollow(1);
    QCOMPARE(rig.chart->BottomAxisMaximum(), 91.0);
    page.Button15Click();
    QVERIFY(!controls.CheckBox10->isChecked());
    rig.chart->Chart1MouseMove(rig.chart, Qt::NoModifier, 200, 150);
    QVERIFY(controls.Label16->text().startsWith(QLatin1String("X: ")));
}

void TstChart::seriesColours_data()
{
    QTest::addColumn<int>("seriesCount");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<int>("changedIndex"); // -1: no series changes
    QTest::newRow("ButtonColor1") << 2 << "ButtonColor1" << true << 0;
    QTest::newRow("ButtonColor2") << 2 << "ButtonColor2" << true << 1;
    QTest::newRow("ButtonColor2 with one series") << 1 << "ButtonColor2" << true << -1;
    QTest::newRow("cancelled") << 2 << "ButtonColor1" << false << -1;
}

void TstChart::seriesColours()
{
    QFETCH(int, seriesCount);
    QFETCH(QString, button);
    QFETCH(bool, confirmed);
    QFETCH(int, changedIndex);
    ChartRig rig;
    if (seriesCount == 1) rig.chart->CharInitSeries(false);
    auto* b = rig.panel->findChild<QPushButton*>(button);
    const int buttonIndex = button == QLatin1String("ButtonColor2") ? 1 : 0;
    const QColor before = rig.panel->Page()->ButtonColor(buttonIndex);
    QColor offered;
    SetColorPrompt([&](QWidget*, const QColor& initial) -> std::optional<QColor> {
        offered = initial;
        if (!confirmed) return std::nullopt;
        return QColor(10, 20, 30);
    });
    QList<QColor> colours;
    for (int i = 0; i < rig.chart->SeriesCount(); ++i) colours << rig.chart->CharGetSeries2(i)->Color();
    QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(offered, before);
    QCOMPARE(rig.panel->Page()->ButtonColor(buttonIndex), confirmed ? QColor(10, 20, 30) : before);
    if (changedIndex >= 0) colours[changedIndex] = QColor(10, 20, 30);
    for (int i = 0; i < rig.chart->SeriesCount(); ++i) {
        QCOMPARE(rig.chart->CharGetSeries2(i)->Color(), colours[i]);
        QCOMPARE(rig.chart->CharGetSeries2(i)->LineSeries()->pen().color(), colours[i]);
    }
}

void TstChart::clearRestartsAtZero_data()
{
    QTest::addColumn<bool>("hasPort");
    QTest::addColumn<bool>("portHasSeries");
    QTest::addColumn<qint64>("countAfterClear");
    QTest::newRow("selected port object with a series") << true << true << qint64(0);
    QTest::newRow("port object without a series") << true << false << qint64(40);
    QTest::newRow("no port object") << false << false << qint64(40);
}

void TstChart::clearRestartsAtZero()
{
    QFETCH(bool, hasPort);
    QFETCH(bool, portHasSeries);
    QFETCH(qint64, countAfterClear);
    ChartRig rig;
    TCvComPortObj port(nullptr, QStringLiteral("Virtual Port (/dev/null)"));
    TCvFastLineSeries* s = rig.chart->CharInitSeries(false);
    if (portHasSeries) port.SetSeries(s);
    for (int i = 0; i < 40; ++i) s->AddY(i);
    rig.panel->Page()->SetCurrentPortProvider([&]() -> TCvComPortObj* { return hasPort ? &port : nullptr; });
    QTest::mouseClick(rig.panel->Button21, Qt::LeftButton);
    QCOMPARE(s->Count(), countAfterClear);
    s->AddY(200);
    QCOMPARE(s->XValue(s->Count() - 1), double(countAfterClear));
    QCOMPARE(s->YValue(s->Count() - 1), 200.0);
}

void TstChart::graphicFormatFeedsTheSeries()
{
    ChartRig chartRig;
    PortRig rig({rfGraphic});
    TCvFastLineSeries* s = chartRig.chart->CharInitSeries(false);
    rig.obj->SetSeries(s);
    const QByteArray bytes("\x00\x7f\x80\xfe\xff", 5);
    rig.Receive(bytes);
    rig.Settle();
    QCOMPARE(Ys(s), (QList<double>{0, 127, 128, 254, 255}));
    QCOMPARE(s->XValue(0), 0.0);
    QCOMPARE(s->XValue(4), 4.0);
    QCOMPARE(rig.callbacks.count(1), 5);
    // What is drawn follows by itself.
    QTRY_COMPARE(s->LineSeries()->count(), 5);
}

void TstChart::resetLeavesNoDanglingSeries()
{
    ChartRig chartRig;
    PortRig rig({rfGraphic});
    QPointer<TCvFastLineSeries> s = chartRig.chart->CharInitSeries(false);
    rig.obj->SetSeries(s);
    rig.Receive("ab");
    rig.Settle();
    QCOMPARE(s->Count(), 2);
    // A click on CheckBox11 resets the chart to the demonstration chart.
    QTest::mouseClick(chartRig.panel->CheckBox11, Qt::LeftButton);
    QVERIFY(s.isNull());
    QCOMPARE(rig.obj->Series(), nullptr);
    // The port object draws nothing until it gets a new series.
    rig.Receive("cde");
    rig.Settle();
    QCOMPARE(chartRig.chart->CharGetSeries2(0)->Count(), 91);
    QCOMPARE(chartRig.chart->CharGetSeries2(1)->Count(), 90);
    TCvFastLineSeries* again = chartRig.chart->CharInitSeries(false);
    rig.obj->SetSeries(again);
    rig.Receive("f");
    rig.Settle();
    QCOMPARE(Ys(again), QList<double>{double('f')});
}

void TstChart::historyIsBounded()
{
    ChartRig rig;
    TCvFastLineSeries* s = rig.chart->CharInitSeries(false);
    QVERIFY(s->MaxPoints() >= 1000000);
    const qint64 total = s->MaxPoints() + 10;
    for (qint64 i = 0; i < total; ++i) s->AddY(double(i % 1000));
    QCOMPARE(s->Count(), s->MaxPoints());
    // The oldest went; X positions go on from the last point.
    QCOMPARE(s->XValue(0), 10.0);
    QCOMPARE(s->YValue(0), 10.0);
    QCOMPARE(s->XValue(s->Count() - 1), double(total - 1));
    QCOMPARE(s->YValue(s->Count() - 1), double((total - 1) % 1000));
    // The points, and their pyramid of extremes.
    QVERIFY(s->MemoryBytes() <= s->MaxPoints() * qint64(sizeof(double)) * 7 / 6 + 4096);
    // A smaller bound keeps the newest.
    s->SetMaxPoints(3);
    QCOMPARE(Ys(s), (QList<double>{double((total - 3) % 1000), double((total - 2) % 1000),
                                   double((total - 1) % 1000)}));
    s->AddY(-1);
    QCOMPARE(s->Count(), 3);
    QCOMPARE(s->XValue(2), double(total));
    QCOMPARE(s->YValue(2), -1.0);
}

void TstChart::drawnLineIsDecimatedAndFaithful()
{
    ChartRig rig;
    TCvFastLineSeries* s = rig.chart->CharInitSeries(false);
    const int n = 200000;
    // Single-point spikes must survive the thinning.
    const int spikeUp = 123457, spikeDown = 54321;
    QList<double> ys(n);
    for (int i = 0; i < n; ++i) ys[i] = 100 + (i % 7);
    ys[spikeUp] = 250;
    ys[spikeDown] = -50;
    s->AddYs(ys.constData(), n);
    rig.chart->Refresh();
    const QList<QPointF> drawn = s->LineSeries()->points();
    const int columns = int(std::lround(rig.chart->chart()->plotArea().width()));
    QVERIFY(columns > 100);
    QVERIFY(drawn.size() <= 4 * columns);
    QVERIFY(drawn.size() >= columns);
    QCOMPARE(drawn.first(), QPointF(0, ys[0]));
    QCOMPARE(drawn.last(), QPointF(n - 1, ys[n - 1]));
    QVERIFY(drawn.contains(QPointF(spikeUp, 250)));
    QVERIFY(drawn.contains(QPointF(spikeDown, -50)));
    for (int i = 1; i < drawn.size(); ++i) {
        QVERIFY(drawn[i].x() > drawn[i - 1].x());
        QCOMPARE(drawn[i].y(), ys[int(drawn[i].x())]);
    }
    QCOMPARE(rig.chart->AxisY()->min() <= -50, true);
    QCOMPARE(rig.chart->AxisY()->max() >= 250, true);
    // Zoomed in to a few points, every one of them is drawn.
    rig.chart->SetBottomAxisMinMax(1000, 1100);
    rig.chart->Refresh();
    const QList<QPointF> zoomed = s->LineSeries()->points();
    QCOMPARE(zoomed.size(), 103);
    QCOMPARE(zoomed.first().x(), 999.0);
    QCOMPARE(zoomed.last().x(), 1101.0);
}

void TstChart::minMaxMatchesScan_data()
{
    QTest::addColumn<qint64>("bound");
    QTest::addColumn<qint64>("startAt");
    QTest::addColumn<qint64>("added");
    // Values from 0 to levels - 1: few levels make many equal extremes (the first one counts).
    QTest::addColumn<int>("levels");
    QTest::addColumn<qint64>("shrinkTo");
    QTest::newRow("fewer than a bucket") << qint64(1000) << qint64(0) << qint64(20) << 1000000 << qint64(0);
    QTest::newRow("bound below a bucket, dropping")
        << qint64(7) << qint64(0) << qint64(100) << 1000 << qint64(0);
    QTest::newRow("no drop yet") << qint64(1000000) << qint64(0) << qint64(300000) << 1000000 << qint64(0);
    QTest::newRow("ring turned over many times")
        << qint64(5000) << qint64(0) << qint64(123457) << 1000000 << qint64(0);
    QTest::newRow("started late, off the buckets")
        << qint64(4096) << qint64(12345) << qint64(20000) << 1000 << qint64(0);
    QTest::newRow("ties") << qint64(3000) << qint64(3) << qint64(10000) << 3 << qint64(0);
    QTest::newRow("all equal") << qint64(2000) << qint64(0) << qint64(5000) << 1 << qint64(0);
    QTest::newRow("bound made smaller")
        << qint64(100000) << qint64(5) << qint64(150000) << 1000000 << qint64(777);
}

void TstChart::minMaxMatchesScan()
{
    QFETCH(qint64, bound);
    QFETCH(qint64, startAt);
    QFETCH(qint64, added);
    QFETCH(int, levels);
    QFETCH(qint64, shrinkTo);
    TCvChart chart;
    TCvFastLineSeries* s = chart.CharInitSeries(false);
    s->SetMaxPoints(bound);
    s->StartAt(startAt);
    QRandomGenerator random(20261210);
    std::vector<double> ys(static_cast<std::size_t>(added));
    for (double& y : ys) y = double(random.bounded(levels)) - levels / 2;
    // In pieces of odd sizes, as batches of lines come.
    for (qint64 i = 0; i < added;) {
        const qint64 n = std::min<qint64>(added - i, 1 + random.bounded(997));
        s->AddYs(ys.data() + i, n);
        i += n;
    }
    if (shrinkTo > 0) s->SetMaxPoints(shrinkTo);
    const qint64 count = s->Count();
    QCOMPARE(count, std::min(added, shrinkTo > 0 ? shrinkTo : bound));
    const auto check = [&](qint64 from, qint64 to) {
        TCvFastLineSeries::TMinMax want;
        for (qint64 i = from; i < to; ++i) {
            const double y = s->YValue(i);
            if (want.LoAt < 0 || y < want.Lo) {
                want.Lo = y;
                want.LoAt = i;
            }
            if (want.HiAt < 0 || y > want.Hi) {
                want.Hi = y;
                want.HiAt = i;
            }
        }
        const TCvFastLineSeries::TMinMax got = s->MinMax(from, to);
        if (got.Lo != want.Lo || got.Hi != want.Hi || got.LoAt != want.LoAt || got.HiAt != want.HiAt)
            qWarning("[%lld, %lld): got %g@%lld %g@%lld, a scan gives %g@%lld %g@%lld", from, to, got.Lo,
                     got.LoAt, got.Hi, got.HiAt, want.Lo, want.LoAt, want.Hi, want.HiAt);
        return got.Lo == want.Lo && got.Hi == want.Hi && got.LoAt == want.LoAt && got.HiAt == want.HiAt;
    };
    QVERIFY(check(0, count));
    for (int k = 0; k < 400; ++k) {
        // Short and long windows anywhere among the kept points.
        const qint64 from = random.bounded(count);
        const qint64 width = k % 2 ? 1 + random.bounded(std::min<qint64>(count - from, 200))
                                   : 1 + random.bounded(count - from);
        QVERIFY(check(from, from + width));
    }
    QCOMPARE(s->MinMax(5, 5).LoAt, qint64(-1));
    // Points and pyramid stay within the bound: the pyramid adds at most a sixth.
    QVERIFY(s->MemoryBytes() <= s->MaxPoints() * qint64(sizeof(double)) * 7 / 6 + 4096);
}

void TstChart::hiddenChartCatchesUpWhenShown()
{
    TCvChart chart;
    chart.resize(600, 400);
    TCvFastLineSeries* s = chart.CharInitSeries(false);
    for (int i = 0; i < 10; ++i) s->AddY(i);
    // Hidden (another page is in front): the points are kept, nothing is drawn.
    QTest::qWait(3 * TCvChart::kRefreshMs);
    QCOMPARE(s->Count(), 10);
    QCOMPARE(s->LineSeries()->count(), 0);
    chart.show();
    QTRY_COMPARE(s->LineSeries()->count(), 10);
    QCOMPARE(chart.AxisX()->max(), 9.0);
}

void TstChart::mouseReadOut()
{
    ChartRig rig;
    const QRectF plot = rig.chart->chart()->plotArea();
    const QPoint at = plot.center().toPoint();
    QTest::mouseMove(rig.chart->viewport(), at);
    QTRY_VERIFY(rig.chart->CrosshairDrawn());
    QCOMPARE(rig.chart->CrosshairPos(), at);
    const QPointF value =
        rig.chart->chart()->mapToValue(rig.chart->chart()->mapFromScene(rig.chart->mapToScene(at)),
                                       rig.chart->CharGetSeries2(0)->LineSeries());
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QCOMPARE(rig.panel->Label16->text(), QStringLiteral("X: ") + locale.toString(value.x(), 'g', 15));
    QCOMPARE(rig.panel->Label17->text(), QStringLiteral("Y: ") + locale.toString(value.y(), 'g', 15));
    // The middle of 0..90 and of the left axis.
    QVERIFY(std::abs(value.x() - 45) < 1);
    // Outside: the crosshair goes, the labels keep their text.
    const QString x = rig.panel->Label16->text();
    rig.chart->Chart1MouseMove(rig.chart, Qt::NoModifier, -1, 10);
    QVERIFY(!rig.chart->CrosshairDrawn());
    QCOMPARE(rig.panel->Label16->text(), x);
    // No series: the crosshair is drawn, the labels keep their text.
    rig.chart->CharResetSeries();
    rig.chart->Chart1MouseMove(rig.chart, Qt::NoModifier, 10, 20);
    QVERIFY(rig.chart->CrosshairDrawn());
    QCOMPARE(rig.chart->CrosshairPos(), QPoint(10, 20));
    QCOMPARE(rig.panel->Label16->text(), x);
}

void TstChart::crosshairIsErasedBeforeTheNextOne()
{
    ChartRig rig;
    const QImage base = rig.chart->grab().toImage();
    const QPoint first(120, 90), second(300, 200);
    rig.chart->Chart1MouseMove(rig.chart, Qt::NoModifier, first.x(), first.y());
    const QImage one = rig.chart->grab().toImage();
    rig.chart->Chart1MouseMove(rig.chart, Qt::NoModifier, second.x(), second.y());
    const QImage two = rig.chart->grab().toImage();
    QCOMPARE(two.size(), base.size());
    // Exclusive-or in white inverts what lies under the lines, away from their crossing.
    for (int y = 0; y < base.height(); y += 7) {
        if (y == first.y()) continue;
        QCOMPARE(Rgb(one, first.x(), y), Rgb(base, first.x(), y) ^ 0xffffffu);
        if (y == second.y()) continue;
        QCOMPARE(Rgb(two, second.x(), y), Rgb(base, second.x(), y) ^ 0xffffffu);
        QCOMPARE(Rgb(two, first.x(), y), Rgb(base, first.x(), y));
    }
    for (int x = 0; x < base.width(); x += 7) {
        if (x == second.x()) continue;
        QCOMPARE(Rgb(two, x, second.y()), Rgb(base, x, second.y()) ^ 0xffffffu);
        if (x == first.x()) continue;
        QCOMPARE(Rgb(two, x, first.y()), Rgb(base, x, first.y()));
    }
}

void TstChart::bmpName_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("no extension") << "wave"
                                  << "wave.bmp";
    QTest::newRow("already .bmp") << "wave.bmp"
                                  << "wave.bmp";
    QTest::newRow("already .BMP") << "wave.BMP"
                                  << "wave.BMP";
    QTest::newRow("another extension") << "wave.txt"
                                       << "wave.txt.bmp";
    QTest::newRow("empty") << ""
                           << "";
}

void TstChart::bmpName()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    QCOMPARE(BmpFileName(chosen), written);
}

void TstChart::saveAsBmp()
{
    ChartRig rig;
    QTemporaryDir dir;
    QString offered = QStringLiteral("none");
    QString answer = dir.filePath(QStringLiteral("wave.bmp"));
    SetSaveFileNamePrompt([&](QWidget*, const QString&, const QString& filter, const QString&) {
        offered = filter;
        return answer;
    });
    rig.chart->Chart1MouseMove(rig.chart, Qt::NoModifier, 50, 50);
    const QImage shown = rig.chart->grab().toImage();
    QTest::mouseClick(rig.panel->Button22, Qt::LeftButton);
    QVERIFY(offered.contains(QLatin1String("*.bmp")));
    QVERIFY(!QFile::exists(answer + QStringLiteral(".bmp")));
    QFile f(answer);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.read(2), QByteArray("BM"));
    f.close();
    QImage saved(answer, "BMP");
    QCOMPARE(saved.size(), rig.chart->size());
    // The picture is the chart, without the crosshair.
    QCOMPARE(saved.pixel(50, 20) & 0xffffff, Rgb(shown, 50, 20) ^ 0xffffffu);
    // Cancelled: nothing is written.
    answer.clear();
    QCOMPARE(rig.panel->Page()->Button22Click(), QString());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("wave.bmp")});
}

// A full chart drops its oldest points with a word in the port's log (once until it is
// cleared), and the export names the first X it holds in its caption row.
void TstChart::droppingIsToldAndExportNamesFirstX()
{
    ChartRig chartRig;
    PortRig rig({rfGraphic});
    TCvFastLineSeries* s = chartRig.chart->CharInitSeries(false);
    s->SetMaxPoints(4);
    rig.obj->SetSeries(s);
    rig.Receive("abcdefg");
    rig.Settle();
    QCOMPARE(s->FirstX(), 3);
    const QString told =
        QStringLiteral("The chart keeps the last 4 points: older ones are dropped from now on "
                       "(the oldest kept is X 1).");
    QCOMPARE(rig.Lines().filter(QStringLiteral("The chart keeps")), QStringList{told});

    TCvExcelApp app;
    QVERIFY(app.WorkBooks().Add() && app.Worksheets(1).Activate());
    QVERIFY(ExcelExportSeries(&app, s));
    QCOMPARE(app.Cells(1, 1).Value().toString(), QStringLiteral("X"));
    QCOMPARE(app.Cells(1, 3).Value().toString(),
             QStringLiteral("Older points were dropped by the chart; the first X here is 3"));
    QCOMPARE(app.Cells(2, 1).Value().toDouble(), 3.0);
    QCOMPARE(app.Cells(5, 2).Value().toDouble(), double('g'));

    // Cleared and filled again: told again, once.
    s->Clear();
    rig.Receive("hijklm");
    rig.Settle();
    QCOMPARE(rig.Lines().filter(QStringLiteral("The chart keeps")).size(), 2);
    // Nothing dropped: the caption row holds only the two captions.
    s->Clear();
    s->AddY(1);
    TCvExcelApp fresh;
    QVERIFY(fresh.WorkBooks().Add() && fresh.Worksheets(1).Activate());
    QVERIFY(ExcelExportSeries(&fresh, s));
    QVERIFY(fresh.Cells(1, 3).Value().toString().isEmpty());
}

QTEST_MAIN(TstChart)
#include "tst_chart.moc"
