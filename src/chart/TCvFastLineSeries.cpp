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
    PyramidReset();
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
    PyramidAdd(y);
    if (FCount < FMaxPoints) {
        if (FRing.size() == FRing.capacity())
            FRing.reserve(std::size_t(
                std::min<qint64>(FMaxPoints, std::max<qint64>(kFirstReserve, qint64(FRing.capacity()) * 2))));
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
    PyramidReset();
    Changed();
}

void TCvFastLineSeries::StartAt(qint64 x)
{
    if (FCount != 0) return;
    FFirstX = x;
    PyramidReset();
}

void TCvFastLineSeries::SetMaxPoints(qint64 n)
{
    n = std::max<qint64>(1, n);
    const qint64 keep = std::min(FCount, n);
    std::vector<double> ring;
    ring.reserve(std::size_t(keep));
    for (qint64 i = FCount - keep; i < FCount; ++i) ring.push_back(YValue(i));
    FFirstX += FCount - keep;
    std::vector<double>().swap(FRing);
    FHead = 0;
    FCount = 0;
    FMaxPoints = n;
    // The buckets are sized by the bound: built again from the points kept.
    PyramidReset();
    for (double y : ring) Push(y);
    Changed();
}

qint64 TCvFastLineSeries::MemoryBytes() const
{
    qint64 bytes = qint64(FRing.capacity() * sizeof(double));
    for (const auto& level : FLevels) bytes += qint64(level.capacity() * sizeof(TBucket));
    return bytes;
}

void TCvFastLineSeries::PyramidReset()
{
    FOrigin = NextX();
    FLevels.clear();
    FLevelMasks.clear();
    for (int shift = kLeafShift; (qint64(1) << shift) <= FMaxPoints; shift += kFanShift) {
        // One bucket more than the bound spans, so a bucket wholly among the kept points
        // is not overwritten while it is kept.
        // A power of two, so that a bucket's slot is a mask away.
        FLevels.emplace_back();
        qint64 count = 1;
        while (count < FMaxPoints / (qint64(1) << shift) + 2) count *= 2;
        FLevelMasks.push_back(count - 1);
    }
}

void TCvFastLineSeries::PyramidAdd(double y)
{
    if (FLevels.empty()) return;
    const qint64 q = NextX() - FOrigin;
    constexpr qint64 leafMask = (qint64(1) << kLeafShift) - 1;
    const auto slotOf = [this](std::size_t level, qint64 bucket) -> TBucket& {
        std::vector<TBucket>& v = FLevels[level];
        const qint64 count = FLevelMasks[level] + 1;
        const std::size_t slot = std::size_t(bucket & FLevelMasks[level]);
        if (slot == v.size()) {
            // Still filling: grows as the ring of points does.
            if (v.size() == v.capacity())
                v.reserve(std::size_t(std::min<qint64>(
                    count, std::max<qint64>(kFirstReserve >> kLeafShift, qint64(v.capacity()) * 2))));
            v.push_back(TBucket{0, 0, 0, 0});
        }
        return v[slot];
    };
    qint64 bucket = q >> kLeafShift;
    const quint32 at = quint32(q & leafMask);
    TBucket& leaf = slotOf(0, bucket);
    if (at == 0) {
        leaf = TBucket{y, y, 0, 0};
    } else if (y < leaf.Lo) {
        leaf.Lo = y;
        leaf.LoAt = at;
    } else if (y > leaf.Hi) {
        leaf.Hi = y;
        leaf.HiAt = at;
    }
    if (at != leafMask) return;
    // A full bucket goes into its parent; the last child of a parent fills that in turn.
    constexpr qint64 fanMask = (qint64(1) << kFanShift) - 1;
    for (std::size_t level = 1; level < FLevels.size(); ++level) {
        const TBucket child = slotOf(level - 1, bucket);
        const qint64 k = bucket & fanMask;
        const quint32 offset = quint32(k << (kLeafShift + kFanShift * int(level - 1)));
        bucket >>= kFanShift;
        TBucket& parent = slotOf(level, bucket);
        if (k == 0) {
            parent = TBucket{child.Lo, child.Hi, child.LoAt, child.HiAt};
        } else {
            if (child.Lo < parent.Lo) {
                parent.Lo = child.Lo;
                parent.LoAt = offset + child.LoAt;
            }
            if (child.Hi > parent.Hi) {
                parent.Hi = child.Hi;
                parent.HiAt = offset + child.HiAt;
            }
        }
        if (k != fanMask) return;
    }
}

TCvFastLineSeries::TMinMax TCvFastLineSeries::MinMax(qint64 from, qint64 to) const
{
    TMinMax r;
    from = std::max<qint64>(from, 0);
    to = std::min(to, FCount);
    if (from >= to) return r;
    // In bucket space: point i is q = i + shift.
    const qint64 shift = FFirstX - FOrigin;
    qint64 q = from + shift;
    const qint64 end = to + shift;
    const int levels = int(FLevels.size());
    constexpr qint64 leaf = qint64(1) << kLeafShift;
    while (q < end) {
        if (levels > 0 && (q & (leaf - 1)) == 0 && q + leaf <= end) {
            // The widest bucket that starts here and ends in the range.
            int level = 0;
            while (level + 1 < levels) {
                const qint64 size = qint64(1) << (kLeafShift + kFanShift * (level + 1));
                if ((q & (size - 1)) != 0 || q + size > end) break;
                ++level;
            }
            const int bits = kLeafShift + kFanShift * level;
            const TBucket& b =
                FLevels[std::size_t(level)][std::size_t((q >> bits) & FLevelMasks[std::size_t(level)])];
            const qint64 i = q - shift;
            if (r.LoAt < 0 || b.Lo < r.Lo) {
                r.Lo = b.Lo;
                r.LoAt = i + b.LoAt;
            }
            if (r.HiAt < 0 || b.Hi > r.Hi) {
                r.Hi = b.Hi;
                r.HiAt = i + b.HiAt;
            }
            q += qint64(1) << bits;
            continue;
        }
        const double y = YValue(q - shift);
        if (r.LoAt < 0 || y < r.Lo) {
            r.Lo = y;
            r.LoAt = q - shift;
        }
        if (r.HiAt < 0 || y > r.Hi) {
            r.Hi = y;
            r.HiAt = q - shift;
        }
        ++q;
    }
    return r;
}

bool TCvFastLineSeries::Decimate(double xmin, double xmax, int columns, QList<QPointF>& out, double& ymin,
                                 double& ymax) const
{
    out.clear();
    // Also false for NaN.
    if (FCount == 0 || !(xmax >= xmin)) return false;
    // Index space: point i sits at X = FFirstX + i.
    const double lo = xmin - double(FFirstX);
    const double hi = xmax - double(FFirstX);
    if (hi < 0 || lo > double(FCount - 1)) return false;
    // Clamped while still doubles: a range zoomed far out lies beyond what qint64 holds.
    const double lastIndex = double(FCount - 1);
    const qint64 i0 = qint64(std::clamp(std::ceil(lo) - 1, 0.0, lastIndex));
    const qint64 i1 = qint64(std::clamp(std::floor(hi) + 1, 0.0, lastIndex));
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
    // Wide columns begin on bucket edges (a bucket at most a quarter of a column, so well
    // under a pixel): their extremes then come from the pyramid alone, read in order.
    qint64 align = 1;
    for (int level = int(FLevels.size()) - 1; level >= 0; --level) {
        const qint64 size = qint64(1) << (kLeafShift + kFanShift * level);
        if (4 * size * columns <= m) {
            align = size;
            break;
        }
    }
    const qint64 shift = FFirstX - FOrigin;
    const auto edge = [&](qint64 c) {
        if (c <= 0) return i0;
        if (c >= columns) return i1 + 1;
        const qint64 i = i0 + m * c / columns;
        return std::clamp<qint64>(((i + shift) & ~(align - 1)) - shift, i0, i1 + 1);
    };
    out.reserve(4 * columns);
    qint64 a = i0;
    for (qint64 c = 0; c < columns; ++c) {
        const qint64 b = edge(c + 1); // exclusive
        if (a >= b) continue;
        const TMinMax mm = MinMax(a, b);
        ymin = std::min(ymin, mm.Lo);
        ymax = std::max(ymax, mm.Hi);
        // First, lowest, highest and last, in their order; the extremes as found.
        const bool lowFirst = mm.LoAt <= mm.HiAt;
        const std::pair<qint64, double> picks[4] = {
            {a, YValue(a)},
            lowFirst ? std::pair{mm.LoAt, mm.Lo} : std::pair{mm.HiAt, mm.Hi},
            lowFirst ? std::pair{mm.HiAt, mm.Hi} : std::pair{mm.LoAt, mm.Lo},
            {b - 1, YValue(b - 1)}};
        qint64 last = -1;
        for (const auto& [p, y] : picks) {
            if (p == last) continue;
            out.append(QPointF(XValue(p), y));
            last = p;
        }
        a = b;
    }
    return true;
}
