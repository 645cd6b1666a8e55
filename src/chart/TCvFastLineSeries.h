#pragma once

#include "TCvSeries.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>

#include <vector>

class QLineSeries;
class TCvChart;

// One waveform line of the chart. A new point takes the X position after the last one,
// so only Y values are stored: a ring of at most MaxPoints() values, the oldest dropped
// first, which keeps a long capture within a fixed amount of memory. The first drop is
// announced (StartedDropping), so that nobody loses the old points without a word.
class TCvFastLineSeries : public TCvSeries {
    Q_OBJECT
public:
    // A million points, and an export of them with its caption row still fits one worksheet.
    static constexpr qint64 kDefaultMaxPoints = 1000000;

    ~TCvFastLineSeries() override;

    QString Title() const { return FTitle; }
    QColor Color() const { return FColor; }
    void SetColor(const QColor& color);
    int LineWidth() const { return 2; }

    void AddY(double y) override;
    void AddYs(const double* ys, qint64 n, double base = 0);
    // Removes every point; the next one is at X 0 again.
    void Clear();
    // For an empty series: its first point goes at X x (a line that joins later).
    void StartAt(qint64 x);

    qint64 Count() const { return FCount; }
    double XValue(qint64 i) const { return double(FFirstX + i); }
    double YValue(qint64 i) const { return FRing[Slot(i)]; }
    qint64 FirstX() const { return FFirstX; }
    qint64 NextX() const { return FFirstX + FCount; }

    qint64 MaxPoints() const { return FMaxPoints; }
    // At least 1; the newest points are kept.
    void SetMaxPoints(qint64 n);
    qint64 MemoryBytes() const { return qint64(FRing.capacity() * sizeof(double)); }

    // What the chart draws: the decimated polyline of the visible range.
    QLineSeries* LineSeries() const { return FLine; }

    // The polyline for X from xmin to xmax on `columns` pixel columns: every point when
    // they are few, else the first, lowest, highest and last point of each column in
    // their order, so spikes survive. One point beyond each end keeps the line reaching
    // the edges. Returns false when no point lies in the range; else ymin and ymax
    // span the points given out.
    bool Decimate(double xmin, double xmax, int columns, QList<QPointF>& out, double& ymin, double& ymax) const;

private:
    friend class TCvChart;
    TCvFastLineSeries(TCvChart* chart, const QString& title, const QColor& color);

    qint64 Slot(qint64 i) const
    {
        const qint64 s = FHead + i;
        return s >= qint64(FRing.size()) ? s - qint64(FRing.size()) : s;
    }
    void Push(double y);
    void Changed();

    TCvChart* FChart;
    QLineSeries* FLine;
    QString FTitle;
    QColor FColor;
    std::vector<double> FRing;
    qint64 FHead = 0;
    qint64 FCount = 0;
    qint64 FFirstX = 0;
    qint64 FMaxPoints = kDefaultMaxPoints;
    bool FDropping = false;
};
