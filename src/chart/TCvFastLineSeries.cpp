#include "TCvFastLineSeries.h"

#include "TCvChart.h"

#include <QLineSeries>
#include <QPen>

#include <algorithm>
#include <cmath>

TCvFastLineSeries::TCvFastLineSeries(TCvChart* chart, const QString& title, const QColor& color)
    : TCvSeries(chart), FChart(chart), FLine(new QLineSeries), FTitle(title), FColor(color)
{
    FLine->setName(title);
    // A plain pen without antialiasing: one polyline that stays quick to draw.
    QPen pen(color, LineWidth(), Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    FLine->setPen(pen);
}

TCvFastLineSeries::~TCvFastLineSeries()
{
    if (FChart) FChart->SeriesGone(this);
    delete FLine;
}

void TCvFastLineSeries::SetColor(const QColor& color)
{
    FColor = color;
    QPen pen = FLine->pen();
    pen.setColor(color);
    FLine->setPen(pen);
}

void TCvFastLineSeries::Push(double y)
{
    if (FCount < FMaxPoints) {
        if (FRing.size() == FRing.capacity())
            FRing.reserve(std::size_t(std::min<qint64>(FMaxPoints, std::max<qint64>(1024, qint64(FRing.capacity()) * 2))));
        FRing.push_back(y);
        ++FCount;
        return;
    }
    FRing[std::size_t(FHead)] = y;
    if (++FHead == FMaxPoints) FHead = 0;
    ++FFirstX;
    if (!FDropping) {
        FDropping = true;
        emit StartedDropping(FMaxPoints, FFirstX);
    }
}

void TCvFastLineSeries::Changed()
{
    if (FChart) FChart->ScheduleRefresh();
}

void TCvFastLineSeries::AddY(double y)
{
    Push(y);
    Changed();
}

void TCvFastLineSeries::AddYs(const double* ys, qint64 n, double base)
{
    for (qint64 i = 0; i < n; ++i) Push(ys[i] + base);
    if (n > 0) Changed();
}

void TCvFastLineSeries::Clear()
{
    std::vector<double>().swap(FRing);
    FHead = 0;
    FCount = 0;
    FFirstX = 0;
    FDropping = false;
    Changed();
}

void TCvFastLineSeries::StartAt(qint64 x) {
    if (FCount == 0) FFirstX = x;
}

void TCvFastLineSeries::SetMaxPoints(qint64 n)
{
    n = std::max<qint64>(1, n);
    const qint64 keep = std::min(FCount, n);
    std::vector<double> ring;
    ring.reserve(std::size_t(keep));
    for (qint64 i = FCount - keep; i < FCount; ++i) ring.push_back(YValue(i));
    FFirstX += FCount - keep;
    FRing.swap(ring);
    FHead = 0;
    FCount = keep;
    FMaxPoints = n;
    Changed();
}

bool TCvFastLineSeries::Decimate(double xmin, double xmax, int columns, QList<QPointF>& out, double& ymin,
                                 double& ymax) const
{
    out.clear();
    if (FCount == 0 || !(xmax >= xmin)) return false;
    // Index space: point i sits at X = FFirstX + i.
    const double lo = xmin - double(FFirstX);
    const double hi = xmax - double(FFirstX);
    if (hi < 0 || lo > double(FCount - 1)) return false;
    const qint64 i0 = std::clamp<qint64>(qint64(std::ceil(lo)) - 1, 0, FCount - 1);
    const qint64 i1 = std::clamp<qint64>(qint64(std::floor(hi)) + 1, 0, FCount - 1);
    const qint64 m = i1 - i0 + 1;
    columns = std::max(1, columns);
    ymin = YValue(i0);
    ymax = ymin;
    if (m <= 4 * qint64(columns)) {
        out.reserve(m);
        for (qint64 i = i0; i <= i1; ++i) {
            const double y = YValue(i);
            ymin = std::min(ymin, y);
            ymax = std::max(ymax, y);
            out.append(QPointF(XValue(i), y));
        }
        return true;
    }
    out.reserve(4 * columns);
    for (qint64 c = 0; c < columns; ++c) {
        const qint64 a = i0 + m * c / columns;
        const qint64 b = i0 + m * (c + 1) / columns; // exclusive
        if (a >= b) continue;
        qint64 lowAt = a, highAt = a;
        double low = YValue(a), high = low;
        // The ring is walked as one or two contiguous runs: this loop carries the redraw.
        qint64 i = a;
        while (i < b) {
            const qint64 s = Slot(i);
            const qint64 run = std::min<qint64>(b - i, qint64(FRing.size()) - s);
            const double* p = FRing.data() + s;
            for (qint64 k = 0; k < run; ++k) {
                const double y = p[k];
                if (y < low) {
                    low = y;
                    lowAt = i + k;
                } else if (y > high) {
                    high = y;
                    highAt = i + k;
                }
            }
            i += run;
        }
        ymin = std::min(ymin, low);
        ymax = std::max(ymax, high);
        qint64 picks[4] = {a, std::min(lowAt, highAt), std::max(lowAt, highAt), b - 1};
        qint64 last = -1;
        for (qint64 p : picks) {
            if (p == last) continue;
            out.append(QPointF(XValue(p), YValue(p)));
            last = p;
        }
    }
    return true;
}
