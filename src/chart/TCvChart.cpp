#include "TCvChart.h"

#include "TCvFastLineSeries.h"

#include <QChart>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QRandomGenerator>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <thread>
#include <vector>

namespace {

QString ReadOutNumber(double v)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(v, 'g', 15);
}

} // namespace

TCvChart::TCvChart(QWidget* parent)
    : QChartView(new QChart, parent), FAxisX(new QValueAxis), FAxisY(new QValueAxis),
      FRefreshTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("Chart1"));
    setFrameShape(QFrame::NoFrame);
    setRenderHint(QPainter::Antialiasing, false);
    // Zooming with the mouse works on the bottom axis; the left axis follows the data.
    setRubberBand(QChartView::HorizontalRubberBand);
    viewport()->setMouseTracking(true);
    setMouseTracking(true);

    chart()->addAxis(FAxisX, Qt::AlignBottom);
    chart()->addAxis(FAxisY, Qt::AlignLeft);
    FAxisX->setLabelFormat(QStringLiteral("%g"));
    FAxisY->setLabelFormat(QStringLiteral("%g"));

    FRefreshTimer->setSingleShot(true);
    FRefreshTimer->setInterval(kRefreshMs);
    connect(FRefreshTimer, &QTimer::timeout, this, &TCvChart::RefreshIfShown);
    connect(chart(), &QChart::plotAreaChanged, this, [this] { ScheduleRefresh(); });
    // A zoom made with the mouse turns the bottom axis manual, as the zoom buttons do.
    connect(FAxisX, &QValueAxis::rangeChanged, this, [this](qreal minimum, qreal maximum) {
        if (FApplyingRange) return;
        // Zooming out again and again stops at the widest range (the refresh shows it).
        if (!LimitRange(minimum, maximum)) {
            ScheduleRefresh();
            return;
        }
        FAutoX = false;
        FMinX = minimum;
        FMaxX = maximum;
        ScheduleRefresh();
    });
    ApplyResetLook();
    Refresh();
}

TCvChart::~TCvChart()
{
    // Series first: their lines must leave the chart while it still exists.
    const QList<TCvFastLineSeries*> all = FSeries;
    for (TCvFastLineSeries* s : all) delete s;
}

void TCvChart::ApplyResetLook()
{
    QChart* c = chart();
    c->setAnimationOptions(QChart::NoAnimation);
    c->legend()->hide();
    c->setTitle(QString());
    c->setTitleBrush(QColor(200, 150, 50));
    c->setBackgroundBrush(Qt::black);
    c->setBackgroundRoundness(0);
    c->setDropShadowEnabled(false);
    c->setPlotAreaBackgroundVisible(false);
    setBackgroundBrush(Qt::black);
    for (QValueAxis* axis : {FAxisX, FAxisY}) {
        axis->setLabelsColor(Qt::white);
        axis->setGridLineColor(QColor(60, 60, 60));
        axis->setLinePenColor(QColor(160, 160, 160));
    }
}

void TCvChart::CharResetSeries()
{
    const QList<TCvFastLineSeries*> all = FSeries;
    for (TCvFastLineSeries* s : all) delete s;
    FSeries.clear();
    FAutoX = true;
    FMinX = FMaxX = 0;
    ApplyResetLook();
    ScheduleRefresh();
    emit SeriesReset();
}

void TCvChart::CharInit(bool BOver)
{
    CharResetSeries();
    TCvFastLineSeries* s1 = CharAddSeries(0, QStringLiteral("test1"), QColor(255, 0, 255));
    TCvFastLineSeries* s2 = CharAddSeries(0, QStringLiteral("test2"), QColor(255, 255, 0));
    double random[91];
    for (double& v : random) v = QRandomGenerator::global()->bounded(20);
    CharAppendBuffData(s1, BOver ? 0 : 11, random, 91);
    const int periods = int(std::lround(91.0 / 30.0));
    for (int p = 0; p < periods; ++p)
        for (int i = 0; i < 30; ++i) CharAppendData(s2, 0, (std::sin(2 * std::numbers::pi * i / 30) + 1) * 5);
    Refresh();
}

TCvFastLineSeries* TCvChart::CharInitSeries(bool /*BOver*/)
{
    CharResetSeries();
    return CharAddSeries(0, QStringLiteral("test1"), QColor(255, 255, 0));
}

TCvFastLineSeries* TCvChart::CharAddSeries(int /*Base*/, const QString& Title, const QColor& Color)
{
    for (TCvFastLineSeries* s : std::as_const(FSeries))
        if (s->Title() == Title) return s;
    auto* s = new TCvFastLineSeries(this, Title, Color);
    FSeries.append(s);
    chart()->addSeries(s->LineSeries());
    s->LineSeries()->attachAxis(FAxisX);
    s->LineSeries()->attachAxis(FAxisY);
    ScheduleRefresh();
    return s;
}

TCvFastLineSeries* TCvChart::CharGetSeries(const QString& Title) const
{
    if (FSeries.isEmpty()) return nullptr;
    if (Title.isEmpty()) return FSeries.first();
    for (TCvFastLineSeries* s : FSeries)
        if (s->Title() == Title) return s;
    return nullptr;
}

TCvFastLineSeries* TCvChart::CharGetSeries2(int Index) const
{
    if (Index < 0 || Index >= FSeries.size()) return nullptr;
    return FSeries.at(Index);
}

void TCvChart::CharSeriesSetColor(int Index, const QColor& Color)
{
    TCvFastLineSeries* s = CharGetSeries2(Index);
    if (!s) return;
    s->SetColor(Color);
    FLinesStale = true;
    viewport()->update();
}

void TCvChart::CharAppendBuffData(TCvFastLineSeries* FastLineSeries, int Base, const double* Buff, int Length)
{
    if (!FastLineSeries || !Buff || Length <= 0) return;
    FastLineSeries->AddYs(Buff, Length, Base);
}

void TCvChart::CharAppendData(TCvFastLineSeries* FastLineSeries, int Base, double Data)
{
    if (!FastLineSeries) return;
    FastLineSeries->AddY(Data + Base);
}

void TCvChart::AutoRange(double& minimum, double& maximum) const
{
    bool any = false;
    minimum = maximum = 0;
    for (const TCvFastLineSeries* s : FSeries) {
        if (s->Count() == 0) continue;
        const double first = double(s->FirstX());
        const double last = double(s->NextX() - 1);
        minimum = any ? std::min(minimum, first) : first;
        maximum = any ? std::max(maximum, last) : last;
        any = true;
    }
    if (any && FToX) {
        minimum = FToX(minimum);
        maximum = FToX(maximum);
    }
}

void TCvChart::SetXMap(std::function<double(double)> toX, std::function<double(double)> toIndex)
{
    FToX = std::move(toX);
    FToIndex = std::move(toIndex);
    if (!FToX || !FToIndex) FToX = FToIndex = nullptr;
    ScheduleRefresh();
}

void TCvChart::SetLeftAxisManual(bool manual, double minimum, double maximum)
{
    FManualY = manual && maximum > minimum;
    FMinY = minimum;
    FMaxY = maximum;
    ScheduleRefresh();
}

double TCvChart::BottomAxisMinimum() const
{
    if (!FAutoX) return FMinX;
    double minimum, maximum;
    AutoRange(minimum, maximum);
    return minimum;
}

double TCvChart::BottomAxisMaximum() const
{
    if (!FAutoX) return FMaxX;
    double minimum, maximum;
    AutoRange(minimum, maximum);
    return maximum;
}

void TCvChart::SetBottomAxisAutomatic(bool automatic)
{
    if (!automatic && FAutoX) AutoRange(FMinX, FMaxX);
    FAutoX = automatic;
    ScheduleRefresh();
}

double TCvChart::WidestBottomRange() const
{
    double first, last;
    AutoRange(first, last);
    return std::max(kWidestMinimum, (last - first) * kWidestFactor);
}

bool TCvChart::LimitRange(double& minimum, double& maximum) const
{
    if (!std::isfinite(minimum) || !std::isfinite(maximum)) return false;
    const double widest = WidestBottomRange();
    if (maximum - minimum > widest) {
        // Halves: the sum of two large limits would overflow.
        const double middle = minimum / 2 + maximum / 2;
        minimum = middle - widest / 2;
        maximum = middle + widest / 2;
    }
    return true;
}

void TCvChart::SetBottomAxisMinMax(double minimum, double maximum)
{
    if (!LimitRange(minimum, maximum)) return;
    FAutoX = false;
    FMinX = minimum;
    FMaxX = maximum;
    ScheduleRefresh();
}

void TCvChart::CharZoomSeries(int Count)
{
    const double minimum = BottomAxisMinimum() - Count;
    const double maximum = BottomAxisMaximum() + Count;
    if (minimum < maximum) SetBottomAxisMinMax(minimum, maximum);
    Refresh();
}

void TCvChart::CharMoveSeries(int /*Index*/, int Count)
{
    // Runs once per received point: only the limits change here, the drawing follows.
    if (FAutoX) {
        double minimum, maximum;
        AutoRange(minimum, maximum);
        if (!(maximum - minimum > 30)) return;
        FAutoX = false;
        FMinX = minimum;
        FMaxX = maximum;
    } else if (!(FMaxX - FMinX > 30)) {
        return;
    }
    FMaxX += Count;
    FMinX += Count;
    ScheduleRefresh();
}

void TCvChart::ScheduleRefresh()
{
    if (FRefreshPending) return;
    FRefreshPending = true;
    FRefreshTimer->start();
}

void TCvChart::RefreshIfShown()
{
    // A chart on a hidden page waits: it is brought up to date when it is shown.
    // A frozen one waits for the end of the freeze.
    if (isVisible() && !FFrozen) Refresh();
}

void TCvChart::showEvent(QShowEvent* event)
{
    QChartView::showEvent(event);
    if (FRefreshPending && !FFrozen) FRefreshTimer->start();
}

void TCvChart::SetFrozen(bool on)
{
    if (FFrozen == on) return;
    FFrozen = on;
    if (!on && FRefreshPending) FRefreshTimer->start();
}

void TCvChart::Refresh()
{
    QElapsedTimer took;
    took.start();
    FRefreshTimer->stop();
    FRefreshPending = false;
    double xmin = FMinX, xmax = FMaxX;
    if (FAutoX) AutoRange(xmin, xmax);
    // An axis needs some width to be drawn; the limits read back stay as they are.
    if (!(xmax > xmin)) xmax = xmin + 1;
    const int columns = std::max(1, int(std::lround(chart()->plotArea().width())));
    double ymin = std::numeric_limits<double>::infinity(), ymax = -ymin;
    const double imin = FToIndex ? FToIndex(xmin) : xmin;
    const double imax = FToIndex ? FToIndex(xmax) : xmax;
    struct TDecimated {
        QList<QPointF> points;
        double lo = 0, hi = 0;
        bool any = false;
    };
    const qsizetype n = FSeries.size();
    std::vector<TDecimated> lines(std::size_t(n > 0 ? n : 0));
    qint64 total = 0;
    for (const TCvFastLineSeries* s : std::as_const(FSeries))
        if (s->LineSeries()->isVisible()) total += s->Count();
    // Only reads the series: the second core takes every other line of a large chart.
    const auto decimate = [&](qsizetype from, qsizetype step) {
        for (qsizetype i = from; i < n; i += step) {
            const TCvFastLineSeries* s = FSeries.at(i);
            TDecimated& d = lines[std::size_t(i)];
            if (s->LineSeries()->isVisible()) d.any = s->Decimate(imin, imax, columns, d.points, d.lo, d.hi);
        }
    };
    if (total > kParallelPoints && n > 1) {
        std::thread other(decimate, 1, 2);
        decimate(0, 2);
        other.join();
    } else {
        decimate(0, 1);
    }
    for (qsizetype i = 0; i < n; ++i) {
        TCvFastLineSeries* s = FSeries.at(i);
        TDecimated& d = lines[std::size_t(i)];
        // A hidden line costs nothing and does not stretch the left axis.
        if (!s->LineSeries()->isVisible()) {
            if (s->LineSeries()->count() > 0) s->LineSeries()->clear();
            FDrawn.remove(s);
            continue;
        }
        if (d.any) {
            ymin = std::min(ymin, d.lo);
            ymax = std::max(ymax, d.hi);
            if (FToX)
                for (QPointF& p : d.points) p.setX(FToX(p.x()));
        }
        if (FDirect) {
            FDrawn.insert(s, d.points);
            if (s->LineSeries()->count() > 0) s->LineSeries()->clear();
        } else {
            s->LineSeries()->replace(d.points);
        }
    }
    if (FManualY) {
        ymin = FMinY;
        ymax = FMaxY;
    } else if (!(ymax >= ymin)) {
        ymin = 0;
        ymax = 1;
    } else if (ymax == ymin) {
        ymin -= 1;
        ymax += 1;
    } else {
        // A small margin keeps the 2-pixel line off the frame (in halves, and within what a
        // double holds: a device may send 1e308 and -1e308).
        const double pad = (ymax / 2 - ymin / 2) * 0.04;
        ymin = std::max(ymin - pad, -std::numeric_limits<double>::max());
        ymax = std::min(ymax + pad, std::numeric_limits<double>::max());
    }
    FApplyingRange = true;
    FAxisX->setRange(xmin, xmax);
    FAxisY->setRange(ymin, ymax);
    FApplyingRange = false;
    if (FDirect) {
        FLinesStale = true;
        viewport()->update();
        // A chart that takes long to bring up to date (and paint) does so less often, so that the
        // window keeps answering while a flood of points comes in.
        FRefreshTimer->setInterval(
            std::clamp(int(3 * (took.elapsed() + FLinesMs)), kRefreshMs, kMaxRefreshMs));
    }
}

void TCvChart::SetDirectDraw(bool on)
{
    FDirect = on;
    FDrawn.clear();
    FLinesStale = true;
    ScheduleRefresh();
}

QList<QPointF> TCvChart::DrawnPoints(const TCvFastLineSeries* series) const
{
    if (!FDirect) return series ? series->LineSeries()->points() : QList<QPointF>();
    return FDrawn.value(series);
}

void TCvChart::SeriesGone(TCvFastLineSeries* series)
{
    FSeries.removeOne(series);
    FDrawn.remove(series);
    FLinesStale = true;
    if (series->LineSeries()->chart()) chart()->removeSeries(series->LineSeries());
    ScheduleRefresh();
}

void TCvChart::SetReadOutLabels(QLabel* Label16, QLabel* Label17)
{
    FLabel16 = Label16;
    FLabel17 = Label17;
}

void TCvChart::UpdateCrosshair(QPoint at)
{
    const QRect area = viewport()->rect();
    viewport()->update(QRect(at.x(), 0, 1, area.height()));
    viewport()->update(QRect(0, at.y(), area.width(), 1));
}

void TCvChart::Chart1MouseMove(QObject* /*Sender*/, Qt::KeyboardModifiers /*Shift*/, int X, int Y)
{
    if (FCrossDrawn) {
        FCrossDrawn = false;
        UpdateCrosshair(FCrossPos);
    }
    const QRect area = viewport()->rect();
    if (X < 0 || Y < 0 || X >= area.width() || Y >= area.height()) return;
    FCrossDrawn = true;
    FCrossPos = QPoint(X, Y);
    UpdateCrosshair(FCrossPos);
    if (FSeries.isEmpty()) return;
    // The value under the mouse as drawn, through the first series' axes.
    const QPointF inChart = chart()->mapFromScene(mapToScene(QPoint(X, Y)));
    const QPointF value = chart()->mapToValue(inChart, FSeries.first()->LineSeries());
    if (FLabel16) FLabel16->setText(QStringLiteral("X: ") + ReadOutNumber(value.x()));
    if (FLabel17) FLabel17->setText(QStringLiteral("Y: ") + ReadOutNumber(value.y()));
}

void TCvChart::mouseMoveEvent(QMouseEvent* event)
{
    QChartView::mouseMoveEvent(event);
    const QPoint p = event->position().toPoint();
    Chart1MouseMove(this, event->modifiers(), p.x(), p.y());
}

void TCvChart::drawForeground(QPainter* painter, const QRectF& rect)
{
    QChartView::drawForeground(painter, rect);
    if (FDirect) {
        // A whole-pixel area keeps the image blit on the raster engine's quick path.
        const QRect area = chart()->mapToScene(chart()->plotArea()).boundingRect().toAlignedRect();
        if (FLinesStale || area != FLinesArea ||
            std::max<qreal>(1, viewport()->devicePixelRatioF()) != FLinesDpr) {
            QElapsedTimer took;
            took.start();
            PaintLines(area);
            FLinesMs = int(took.elapsed());
        }
        if (!FLines.isNull()) painter->drawImage(area.topLeft(), FLines);
    }
    if (!FCrossDrawn || FHideCrosshair) return;
    // Exclusive-or in white: the lines stay visible on any colour beneath them.
    painter->save();
    painter->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(Qt::white, 0, Qt::SolidLine));
    const QRect area = viewport()->rect();
    painter->drawLine(mapToScene(QPoint(FCrossPos.x(), 0)), mapToScene(QPoint(FCrossPos.x(), area.height())));
    painter->drawLine(mapToScene(QPoint(0, FCrossPos.y())), mapToScene(QPoint(area.width(), FCrossPos.y())));
    painter->restore();
}

void TCvChart::PaintLines(const QRect& area)
{
    FLinesStale = false;
    FLinesArea = area;
    // In device pixels: on a high-density screen the lines stay one pixel thin.
    FLinesDpr = std::max<qreal>(1, viewport()->devicePixelRatioF());
    const int w = int(std::lround(area.width() * FLinesDpr)), h = int(std::lround(area.height() * FLinesDpr));
    if (w <= 0 || h <= 0) {
        FLines = QImage();
        return;
    }
    // Pixel columns are painted as vertical runs, each one contiguous in a buffer held
    // column by column: a dense line of many points per column is a few runs per column
    // instead of thousands of short strokes. Each segment fills, in every column it
    // crosses, the rows it passes through there, which is how a one-pixel line looks.
    // A pixel holds the line's number (0: none), so a run is a memset.
    FColumnsBuf.assign(std::size_t(w) * std::size_t(h), 0);
    uchar* buf = FColumnsBuf.data();
    // Scales in halves: the span of two limits far apart would overflow.
    const double x0 = FAxisX->min(), xs = w / 2 / std::max(1e-300, FAxisX->max() / 2 - x0 / 2);
    const double y0 = FAxisY->min(), ys = h / 2 / std::max(1e-300, FAxisY->max() / 2 - y0 / 2);
    const auto run = [&](int col, double ya, double yb, uchar pen) {
        if (col < 0 || col >= w) return;
        if (ya > yb) std::swap(ya, yb);
        if (yb < 0 || ya >= h) return;
        const int r0 = std::max(0, int(std::floor(ya)));
        const int r1 = std::min(h - 1, int(std::floor(yb)));
        std::memset(buf + std::size_t(col) * std::size_t(h) + r0, pen, std::size_t(r1 - r0 + 1));
    };
    QList<QRgb> colors{0};
    for (const TCvFastLineSeries* s : std::as_const(FSeries)) {
        if (!s->LineSeries()->isVisible() || colors.size() > 255) continue;
        const QList<QPointF> points = FDrawn.value(s);
        if (points.isEmpty()) continue;
        const uchar pen = uchar(colors.size());
        colors << (0xff000000u | s->LineSeries()->pen().color().rgb());
        // In pixels of the area; far-off values are held a little outside it.
        const auto px = [&](const QPointF& p) {
            return QPointF(std::clamp((p.x() / 2 - x0 / 2) * 2 * xs, -2.0, w + 2.0),
                           std::clamp(h - (p.y() / 2 - y0 / 2) * 2 * ys, -2.0, h + 2.0));
        };
        QPointF a = px(points.first());
        if (points.size() == 1) run(int(std::floor(a.x())), a.y(), a.y(), pen);
        for (qsizetype i = 1; i < points.size(); ++i) {
            const QPointF b = px(points[i]);
            const int ca = int(std::floor(a.x())), cb = int(std::floor(b.x()));
            if (ca == cb || !(b.x() > a.x())) {
                run(ca, a.y(), b.y(), pen);
            } else {
                // Across several columns: the rows the segment passes in each.
                const double slope = (b.y() - a.y()) / (b.x() - a.x());
                for (int c = std::max(ca, -1); c <= std::min(cb, w); ++c) {
                    const double xa = std::max(a.x(), double(c)), xb = std::min(b.x(), double(c + 1));
                    run(c, a.y() + (xa - a.x()) * slope, a.y() + (xb - a.x()) * slope, pen);
                }
            }
            a = b;
        }
    }
    // Back to rows, then to the colours once, so that a later paint is only a blit.
    QImage rows(w, h, QImage::Format_Indexed8);
    rows.setColorTable(colors);
    uchar* bits = rows.bits();
    const qsizetype stride = rows.bytesPerLine();
    constexpr int kTile = 64;
    for (int r = 0; r < h; r += kTile)
        for (int c = 0; c < w; c += kTile)
            for (int y = r; y < std::min(h, r + kTile); ++y) {
                uchar* line = bits + y * stride;
                for (int x = c; x < std::min(w, c + kTile); ++x)
                    line[x] = buf[std::size_t(x) * std::size_t(h) + y];
            }
    FLines = rows.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    FLines.setDevicePixelRatio(FLinesDpr);
}

bool TCvChart::SavePicture(const QString& FileName)
{
    if (FileName.isEmpty()) return false;
    if (FRefreshPending) Refresh();
    FHideCrosshair = true;
    const QPixmap picture = grab();
    FHideCrosshair = false;
    return picture.save(FileName, "BMP");
}

QString BmpFileName(const QString& chosen)
{
    if (chosen.isEmpty()) return QString();
    if (chosen.endsWith(QLatin1String(".bmp"), Qt::CaseInsensitive)) return chosen;
    return chosen + QStringLiteral(".bmp");
}
