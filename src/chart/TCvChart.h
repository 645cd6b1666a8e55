#pragma once

#include <QChartView>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointer>

#include <functional>
#include <vector>

class QLabel;
class QTimer;
class QValueAxis;
class TCvFastLineSeries;

// The waveform chart `Chart1` with the chart operations of the main window.
// Points go into the series at once; what is drawn (decimated polylines and the axis
// ranges) follows at most every kRefreshMs, so a flood of points costs little per point.
class TCvChart : public QChartView {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 30;
    // Drawn directly, a slow chart refreshes at most this much less often.
    static constexpr int kMaxRefreshMs = 300;
    // Beyond this many points in view, two threads decimate.
    static constexpr qint64 kParallelPoints = 2000000;
    // Zoomed out, the bottom axis spans at most this many times the points' own span (and
    // at least kWidestMinimum): every point stays in sight, and positions stay numbers the
    // drawing can convert.
    static constexpr double kWidestFactor = 16;
    static constexpr double kWidestMinimum = 1000;

    explicit TCvChart(QWidget* parent = nullptr);
    ~TCvChart() override;

    // Destroys every series (a port object holding one sees it vanish) and restores the reset look.
    void CharResetSeries();
    // The demonstration chart: "test1" random, "test2" three sine periods; overlaid when BOver.
    void CharInit(bool BOver);
    // Resets the chart and returns a new yellow series "test1" for a port object.
    TCvFastLineSeries* CharInitSeries(bool BOver);
    // The series titled Title if there is one (colour unchanged), else a new one.
    TCvFastLineSeries* CharAddSeries(int Base, const QString& Title, const QColor& Color);
    // Exact title; an empty title gives the first series.
    TCvFastLineSeries* CharGetSeries(const QString& Title) const;
    TCvFastLineSeries* CharGetSeries2(int Index) const;
    void CharSeriesSetColor(int Index, const QColor& Color);
    void CharAppendBuffData(TCvFastLineSeries* FastLineSeries, int Base, const double* Buff, int Length);
    void CharAppendData(TCvFastLineSeries* FastLineSeries, int Base, double Data);
    // Widens the bottom axis by Count at each end (narrows for a negative Count). A step
    // that would leave the minimum at or above the maximum changes nothing.
    void CharZoomSeries(int Count);
    // Follow-scrolling: moves both ends by Count once the visible range is wider than 30.
    void CharMoveSeries(int Index, int Count);
    // Crosshair and read-out; X and Y are pixels of the chart.
    void Chart1MouseMove(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y);

    int SeriesCount() const { return int(FSeries.size()); }

    bool BottomAxisAutomatic() const { return FAutoX; }
    void SetBottomAxisAutomatic(bool automatic);
    // The limits in effect; for an automatic axis they span every point.
    double BottomAxisMinimum() const;
    double BottomAxisMaximum() const;
    // Makes the axis manual with these limits, narrowed around their middle to the widest
    // range allowed (see kWidestFactor); limits that are no numbers change nothing.
    void SetBottomAxisMinMax(double minimum, double maximum);
    // The widest the bottom axis may be now.
    double WidestBottomRange() const;

    // For a chart whose X is not the point's index (a time, say): where index i is
    // drawn, and back (both rising). The bottom axis limits are then in drawn units.
    // Empty functions draw the index again.
    void SetXMap(std::function<double(double)> toX, std::function<double(double)> toIndex);
    // A manual left axis keeps these limits; an automatic one spans what is drawn.
    void SetLeftAxisManual(bool manual, double minimum = 0, double maximum = 0);
    bool LeftAxisManual() const { return FManualY; }
    // Draws the decimated lines itself, as one-pixel polylines over the plot area, instead
    // of handing them to the chart's line series (whose geometry work is slow for many
    // dense lines). The line series then stay empty and only carry name, pen and axes.
    void SetDirectDraw(bool on);
    // The points drawn last for a series, in axis values.
    QList<QPointF> DrawnPoints(const TCvFastLineSeries* series) const;

    bool CrosshairDrawn() const { return FCrossDrawn; }
    QPoint CrosshairPos() const { return FCrossPos; }
    void SetReadOutLabels(QLabel* Label16, QLabel* Label17);

    // Brings what is drawn up to date now instead of at the next refresh.
    void Refresh();
    // Frozen, what is drawn stays as it is while points keep going into the series; when
    // the freeze ends the chart catches up. The chart's own commands (zoom, reset) still draw.
    void SetFrozen(bool on);
    bool Frozen() const { return FFrozen; }
    bool RefreshPending() const { return FRefreshPending; }
    // The chart's image at its size on screen, as a Windows bitmap; the crosshair is left out.
    bool SavePicture(const QString& FileName);

    QValueAxis* AxisX() const { return FAxisX; }
    QValueAxis* AxisY() const { return FAxisY; }

signals:
    // After every reset: series handed out before are gone.
    void SeriesReset();

protected:
    void drawForeground(QPainter* painter, const QRectF& rect) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    friend class TCvFastLineSeries;
    void ScheduleRefresh();
    void RefreshIfShown();
    void SeriesGone(TCvFastLineSeries* series);
    void AutoRange(double& minimum, double& maximum) const;
    // False for limits that are no numbers; otherwise narrows too wide a range.
    bool LimitRange(double& minimum, double& maximum) const;
    void ApplyResetLook();
    void UpdateCrosshair(QPoint at);

    QList<TCvFastLineSeries*> FSeries;
    QValueAxis* FAxisX;
    QValueAxis* FAxisY;
    QTimer* FRefreshTimer;
    bool FRefreshPending = false;
    bool FFrozen = false;
    bool FApplyingRange = false;
    bool FAutoX = true;
    bool FManualY = false;
    double FMinY = 0;
    double FMaxY = 0;
    bool FDirect = false;
    QHash<const TCvFastLineSeries*, QList<QPointF>> FDrawn;
    // The lines drawn directly, as an image over the plot area; made again only when what
    // is drawn or the area changed, so a crosshair or a cover over the chart costs a blit.
    void PaintLines(const QRect& area);
    QImage FLines;
    QRect FLinesArea;
    bool FLinesStale = true;
    int FLinesMs = 0;
    qreal FLinesDpr = 1;
    std::vector<uchar> FColumnsBuf;
    std::function<double(double)> FToX;
    std::function<double(double)> FToIndex;
    double FMinX = 0;
    double FMaxX = 0;
    bool FCrossDrawn = false;
    QPoint FCrossPos;
    bool FHideCrosshair = false;
    QPointer<QLabel> FLabel16;
    QPointer<QLabel> FLabel17;
};

// The file a picture is saved to: ".bmp" is added unless the name already ends in it
// (in any letter case); an empty name stays empty (nothing is saved).
QString BmpFileName(const QString& chosen);
