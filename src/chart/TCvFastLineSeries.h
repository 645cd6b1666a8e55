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
    // The points and their min/max pyramid (about 1/8 of the points' size).
    qint64 MemoryBytes() const;

    // Lowest and highest of the points i in [from, to) (indexes as for YValue), with where
    // they are (the first of equal ones), as a scan would find them. Costs O(levels), not
    // O(to - from): it reads the pyramid of per-bucket extremes kept as points arrive.
    struct TMinMax {
        double Lo = 0, Hi = 0;
        qint64 LoAt = -1, HiAt = -1;
    };
    TMinMax MinMax(qint64 from, qint64 to) const;

    // What the chart draws: the decimated polyline of the visible range.
    QLineSeries* LineSeries() const { return FLine; }

    // The polyline for X from xmin to xmax on `columns` pixel columns: every point when
    // they are few, else the first, lowest, highest and last point of each column in
    // their order, so spikes survive. One point beyond each end keeps the line reaching
    // the edges. Returns false when no point lies in the range; else ymin and ymax
    // span the points given out.
    bool Decimate(double xmin, double xmax, int columns, QList<QPointF>& out, double& ymin,
                  double& ymax) const;

private:
    friend class TCvChart;
    TCvFastLineSeries(TCvChart* chart, const QString& title, const QColor& color);

    qint64 Slot(qint64 i) const
    {
        const qint64 s = FHead + i;
        return s >= qint64(FRing.size()) ? s - qint64(FRing.size()) : s;
    }
    // The first reservation: memory is only taken as it is written, so a flood of points
    // does not stop to copy a million of them when the ring doubles.
    static constexpr qint64 kFirstReserve = qint64(1) << 20;
    void Push(double y);
    void Changed();
    void PyramidReset();
    void PyramidAdd(double y);

    // Level l holds the extremes of buckets of kLeafPoints << (kFanShift * l) points,
    // counted from FOrigin, in a ring of FLevelMasks[l] + 1 buckets (a power of two, grown
    // as they fill).
    static constexpr int kLeafShift = 5;
    static constexpr int kFanShift = 2;
    struct TBucket {
        double Lo, Hi;
        quint32 LoAt, HiAt; // from the bucket's first point
    };
    std::vector<std::vector<TBucket>> FLevels;
    std::vector<qint64> FLevelMasks;
    // X of the point the buckets are counted from.
    qint64 FOrigin = 0;

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
