#include "TCvPlotPage.h"

#include "CvChartDialogs.h"
#include "CvMessages.h"
#include "CvWidgets.h"
#include "IniFile.h"
#include "TCvChart.h"
#include "TCvComPortObj.h"
#include "TCvFastLineSeries.h"
#include "TCvPlotFeed.h"
#include "TCvSheetModel.h"
#include "TFlowLayout.h"

#include <QAbstractButton>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

const QString kXModeKey = QStringLiteral("PlotXMode");
const QString kHiddenKey = QStringLiteral("PlotHidden");
const QString kYAutoKey = QStringLiteral("PlotYAuto");
const QString kYMinKey = QStringLiteral("PlotYMin");
const QString kYMaxKey = QStringLiteral("PlotYMax");

QString Number(double v)
{
    return QString::number(v, 'g', 15);
}

using namespace Qt::StringLiterals;

// The page's captions in both languages, by control name.
struct TNamedCaption {
    const char* Name;
    TCaption Text;
};
const TNamedCaption kCaptions[] = {
    {"PlotAutoY", {u"Y 自动缩放"_s, u"Auto-scale Y"_s}},
    {"PlotFollow", {u"跟随最新"_s, u"Follow the end"_s}},
    {"PlotFreeze", {u"冻结"_s, u"Freeze"_s}},
    {"PlotShowAll", {u"显示全部"_s, u"Show all"_s}},
    {"PlotClear", {u"清除"_s, u"Clear"_s}},
    {"PlotExportCsv", {u"导出 CSV"_s, u"Export CSV"_s}},
    {"PlotExportXlsx", {u"导出 .xlsx"_s, u"Export .xlsx"_s}},
    {"PlotSavePng", {u"保存 PNG"_s, u"Save PNG"_s}},
};
// In the order of the X-mode box's items.
const TCaption kXModes[] = {
    {u"X：采样序号"_s, u"X: sample index"_s},
    {u"X：接收时间（毫秒）"_s, u"X: receive time (ms)"_s},
};
const TCaption kWaveformTab{u"波形"_s, u"Waveform"_s};
const TCaption kPlotTab{u"曲线 %1"_s, u"Plot %1"_s};
const TCaption kPlotTabOff{u"曲线 %1（停用：不是 ASCII 接收）"_s, u"Plot %1 (off: not ASCII receive)"_s};

} // namespace

QColor TCvPlotPage::ChannelColor(int n)
{
    // Distinct on the black plot area; the first two are the waveform's.
    static const QColor colors[16] = {
        QColor(255, 255, 0),   QColor(255, 0, 255),   QColor(0, 255, 255),   QColor(0, 255, 0),
        QColor(255, 128, 0),   QColor(80, 160, 255),  QColor(255, 80, 80),   QColor(255, 255, 255),
        QColor(160, 255, 160), QColor(200, 120, 255), QColor(255, 200, 120), QColor(0, 160, 160),
        QColor(160, 160, 0),   QColor(255, 150, 200), QColor(140, 140, 140), QColor(100, 255, 200)};
    return colors[((n % 16) + 16) % 16];
}

TCvPlotPage::TCvPlotPage(TCvComPortObj* port, const QString& settingsFile, QWidget* parent)
    : QWidget(parent), FPort(port), FSettingsFile(settingsFile), FFeed(new TCvPlotFeed(this)),
      FChart(new TCvChart(this))
{
    FChart->setObjectName(QStringLiteral("PlotChart"));
    FChart->viewport()->installEventFilter(this);
    FChart->SetXMap({}, {});
    FChart->SetDirectDraw(true);

    FXModeBox = Named(new QComboBox(this), QStringLiteral("PlotXMode"));
    FXModeBox->addItems({QString(), QString()});
    FAutoY = Named(new QCheckBox(this), QStringLiteral("PlotAutoY"));
    FAutoY->setChecked(true);
    FYMin = Named(new QDoubleSpinBox(this), QStringLiteral("PlotYMin"));
    FYMax = Named(new QDoubleSpinBox(this), QStringLiteral("PlotYMax"));
    for (QDoubleSpinBox* box : {FYMin, FYMax}) {
        box->setRange(-DBL_MAX, DBL_MAX);
        box->setDecimals(6);
        box->setEnabled(false);
    }
    FYMin->setValue(0);
    FYMax->setValue(100);
    FFollowBox = Named(new QCheckBox(this), QStringLiteral("PlotFollow"));
    FFollowBox->setChecked(true);
    FFreezeBox = Named(new QCheckBox(this), QStringLiteral("PlotFreeze"));
    auto* showAll = Named(new QPushButton(this), QStringLiteral("PlotShowAll"));
    auto* clear = Named(new QPushButton(this), QStringLiteral("PlotClear"));
    auto* csv = Named(new QPushButton(this), QStringLiteral("PlotExportCsv"));
    auto* xlsx = Named(new QPushButton(this), QStringLiteral("PlotExportXlsx"));
    auto* png = Named(new QPushButton(this), QStringLiteral("PlotSavePng"));
    FReadOut = Named(new QLabel(this), QStringLiteral("PlotReadOut"));
    FReadOut->setTextInteractionFlags(Qt::TextSelectableByMouse);

    FLegend = Named(new QWidget, QStringLiteral("PlotLegend"));
    FLegendLayout = new QVBoxLayout(FLegend);
    FLegendLayout->setContentsMargins(2, 2, 2, 2);
    FLegendLayout->addStretch();
    auto* legendScroll = new QScrollArea(this);
    legendScroll->setWidget(FLegend);
    legendScroll->setWidgetResizable(true);
    legendScroll->setMaximumWidth(180);

    // Wraps onto a second row rather than make the window wider than the screen (both side
    // panels open on a 1,366 px laptop leave the page some 700 px).
    auto* bar = new TFlowLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{FXModeBox, FAutoY, FYMin, FYMax, FFollowBox, FFreezeBox,
                                                      showAll, clear, csv, xlsx, png})
        bar->addWidget(w);
    auto* middle = new QHBoxLayout;
    middle->addWidget(FChart, 1);
    middle->addWidget(legendScroll);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addLayout(middle, 1);
    layout->addWidget(FReadOut);

    connect(FFeed, &TCvPlotFeed::Ready, this, &TCvPlotPage::TakeRows);
    connect(FXModeBox, &QComboBox::currentIndexChanged, this, [this](int i) { SetXMode(TXMode(i)); });
    const auto yChanged = [this] {
        if (FLoading) return;
        SetManualY(!FAutoY->isChecked(), FYMin->value(), FYMax->value());
    };
    connect(FAutoY, &QCheckBox::toggled, this, yChanged);
    connect(FYMin, &QDoubleSpinBox::valueChanged, this, yChanged);
    connect(FYMax, &QDoubleSpinBox::valueChanged, this, yChanged);
    connect(FFollowBox, &QCheckBox::toggled, this, &TCvPlotPage::SetFollow);
    connect(FFreezeBox, &QCheckBox::toggled, this, [this] { ApplyFreeze(); });
    connect(showAll, &QPushButton::clicked, this, [this] {
        FChart->SetBottomAxisAutomatic(true);
        FChart->Refresh();
    });
    connect(clear, &QPushButton::clicked, this, &TCvPlotPage::Clear);
    connect(csv, &QPushButton::clicked, this, [this] { ExportCsvClick(); });
    connect(xlsx, &QPushButton::clicked, this, [this] { ExportXlsxClick(); });
    connect(png, &QPushButton::clicked, this, [this] { SavePngClick(); });

    SetLanguage(MessageLanguage());
    LoadSettings();
    if (port) port->SetLineSink(FFeed);
}

void TCvPlotPage::SetLanguage(const QString& lang)
{
    FLanguage = lang == QLatin1String("EN") ? QStringLiteral("EN") : QStringLiteral("CN");
    for (const TNamedCaption& c : kCaptions)
        if (auto* b = findChild<QAbstractButton*>(QLatin1String(c.Name))) b->setText(Pick(c.Text, FLanguage));
    for (int i = 0; i < FXModeBox->count() && i < int(std::size(kXModes)); ++i)
        FXModeBox->setItemText(i, Pick(kXModes[i], FLanguage));
}

TCvPlotPage::~TCvPlotPage()
{
    if (FPort && FPort->LineSink() == FFeed) FPort->SetLineSink(nullptr);
}

// ---- rows ----

void TCvPlotPage::TakeRows()
{
    FContinuePosted = false;
    TellDropped();
    if (!ApplyRows(kRowSliceMs) || FContinuePosted) return;
    FContinuePosted = true;
    QMetaObject::invokeMethod(this, &TCvPlotPage::TakeRows, Qt::QueuedConnection);
}

bool TCvPlotPage::ApplyRows(int budgetMs)
{
    QElapsedTimer took;
    took.start();
    constexpr qsizetype kRowsPerCheck = 2048;
    for (;;) {
        if (!FPending || FPendingRow >= FPending->Rows()) {
            auto batch = std::make_unique<TCvPlotBatch>(FFeed->TakeBatch());
            // Channels are known before any row names them.
            for (qsizetype c = qsizetype(FChannels.size()); c < batch->Channels.size(); ++c)
                AddChannel(batch->Channels.at(c));
            if (batch->IsEmpty()) {
                FPending.reset();
                FPendingRow = 0;
                return false;
            }
            FPending = std::move(batch);
            FPendingRow = 0;
        }
        const qsizetype to = std::min(FPending->Rows(), FPendingRow + kRowsPerCheck);
        Apply(*FPending, FPendingRow, to);
        FPendingRow = to;
        if (budgetMs >= 0 && took.elapsed() >= budgetMs)
            return FPendingRow < FPending->Rows() || FFeed->HasRows();
    }
}

void TCvPlotPage::Sync()
{
    // Rows are taken while waiting: a worker with no room left waits for them. What waits
    // is bounded (TCvPlotFeed::kMaxQueuedChars), and so is the time this takes.
    while (!FFeed->WaitIdle()) ApplyRows(-1);
    ApplyRows(-1);
    TellDropped();
    FChart->Refresh();
}

void TCvPlotPage::TellDropped()
{
    // Once the feed has caught up, so that one line tells the whole run of them.
    const qint64 dropped = FFeed->DroppedLines();
    if (dropped <= FDroppedLinesTold || !FFeed->CaughtUp()) return;
    Tell(Msg(QStringLiteral("The plot could not keep up with the data: %1 lines were left out of it (the log "
                            "shows them all)."))
             .arg(dropped - FDroppedLinesTold));
    FDroppedLinesTold = dropped;
}

void TCvPlotPage::AddChannel(const QString& name)
{
    const int n = int(FChannels.size());
    TChannel ch;
    ch.Name = name;
    ch.Series = FChart->CharAddSeries(0, name, ChannelColor(n));
    ch.Series->SetMaxPoints(kMaxPoints);
    // A one-pixel cosmetic pen is drawn without stroking: many dense lines stay quick.
    QPen pen(ChannelColor(n), 0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setCosmetic(true);
    ch.Series->LineSeries()->setPen(pen);
    ch.Series->LineSeries()->setVisible(!FHidden.contains(name));
    connect(ch.Series, &TCvSeries::StartedDropping, this, [this](qint64 maxPoints, qint64) {
        if (FDropTold) return;
        FDropTold = true;
        Tell(Msg(QStringLiteral("The plot keeps the last %1 points of each channel: older ones are dropped "
                                "from now on."))
                 .arg(maxPoints));
    });
    QPixmap swatch(12, 12);
    swatch.fill(ChannelColor(n));
    ch.Legend = Named(new QCheckBox(name, FLegend), QStringLiteral("PlotChannel_") + name);
    ch.Legend->setIcon(QIcon(swatch));
    ch.Legend->setChecked(!FHidden.contains(name));
    connect(ch.Legend, &QCheckBox::toggled, this, [this, name](bool on) { SetChannelVisible(name, on); });
    FLegendLayout->insertWidget(FLegendLayout->count() - 1, ch.Legend);
    FChannels.push_back(ch);
    FColumns.emplace_back();
}

void TCvPlotPage::Apply(const TCvPlotBatch& batch, qsizetype fromRow, qsizetype toRow)
{
    const qsizetype rows = toRow - fromRow;
    if (rows <= 0) return;
    for (auto& col : FColumns) col.clear();
    if (FTimeOrigin < 0) FTimeOrigin = batch.TimesMs[std::size_t(fromRow)];
    // All at once: memory is only taken as it is written, and no copy stalls a flood.
    if (FTimes.empty()) FTimes.reserve(std::size_t(kMaxPoints));
    quint32 from = fromRow > 0 ? batch.RowEnds[std::size_t(fromRow - 1)] : 0;
    for (qsizetype r = 0; r < rows; ++r) {
        const quint32 to = batch.RowEnds[std::size_t(fromRow + r)];
        for (quint32 k = from; k < to; ++k) {
            const TCvPlotValue& v = batch.Values[k];
            if (v.Channel < 0 || std::size_t(v.Channel) >= FChannels.size()) continue;
            TChannel& ch = FChannels[std::size_t(v.Channel)];
            ch.Held = v.Value;
            if (!ch.Started) {
                ch.Started = true;
                ch.Series->StartAt(FSamples + r);
            }
        }
        from = to;
        for (std::size_t c = 0; c < FChannels.size(); ++c)
            if (FChannels[c].Started) FColumns[c].push_back(FChannels[c].Held);
        // The receive time of the sample, in the ring of the newest ones.
        const double t = double(batch.TimesMs[std::size_t(fromRow + r)] - FTimeOrigin);
        if (qint64(FTimes.size()) < kMaxPoints) {
            FTimes.push_back(t);
        } else {
            FTimes[std::size_t(FTimeHead)] = t;
            if (++FTimeHead == kMaxPoints) FTimeHead = 0;
        }
    }
    FSamples += rows;
    for (std::size_t c = 0; c < FChannels.size(); ++c)
        if (!FColumns[c].empty()) FChannels[c].Series->AddYs(FColumns[c].data(), qint64(FColumns[c].size()));
    Follow();
}

QStringList TCvPlotPage::Channels() const
{
    QStringList out;
    for (const TChannel& ch : FChannels) out << ch.Name;
    return out;
}

TCvFastLineSeries* TCvPlotPage::Series(const QString& channel) const
{
    for (const TChannel& ch : FChannels)
        if (ch.Name == channel) return ch.Series;
    return nullptr;
}

double TCvPlotPage::XOf(qint64 sample) const
{
    if (FXMode == xmIndex || FTimes.empty()) return double(sample);
    const qint64 kept = qint64(FTimes.size());
    const qint64 first = FSamples - kept;
    const qint64 i = std::clamp<qint64>(sample, first, FSamples - 1) - first;
    const qint64 slot = kept < kMaxPoints ? i : (FTimeHead + i) % kMaxPoints;
    return FTimes[std::size_t(slot)];
}

double TCvPlotPage::IndexOfX(double x) const
{
    if (FXMode == xmIndex || FTimes.empty()) return x;
    // The first kept sample read at x or later (times only rise).
    const qint64 kept = qint64(FTimes.size());
    const qint64 first = FSamples - kept;
    qint64 lo = 0, hi = kept;
    while (lo < hi) {
        const qint64 mid = (lo + hi) / 2;
        if (XOf(first + mid) < x) lo = mid + 1;
        else hi = mid;
    }
    return double(first + lo);
}

void TCvPlotPage::Follow()
{
    if (!FFollowBox->isChecked() || FChart->BottomAxisAutomatic() || FSamples == 0) return;
    // Zoomed in: the window keeps its width and slides to the newest sample.
    const double width = FChart->BottomAxisMaximum() - FChart->BottomAxisMinimum();
    const double last = XOf(FSamples - 1);
    FChart->SetBottomAxisMinMax(last - width, last);
}

// ---- settings ----

void TCvPlotPage::SetXMode(TXMode mode)
{
    FXMode = mode == xmTime ? xmTime : xmIndex;
    if (FXModeBox->currentIndex() != int(FXMode)) FXModeBox->setCurrentIndex(int(FXMode));
    if (FXMode == xmTime)
        FChart->SetXMap([this](double i) { return XOf(qint64(std::llround(i))); },
                        [this](double x) { return IndexOfX(x); });
    else FChart->SetXMap({}, {});
    FChart->SetBottomAxisAutomatic(true);
    SaveSettings();
}

void TCvPlotPage::SetChannelVisible(const QString& channel, bool visible)
{
    if (visible) FHidden.removeAll(channel);
    else if (!FHidden.contains(channel)) FHidden << channel;
    for (const TChannel& ch : FChannels) {
        if (ch.Name != channel) continue;
        ch.Series->LineSeries()->setVisible(visible);
        if (ch.Legend->isChecked() != visible) ch.Legend->setChecked(visible);
    }
    FChart->Refresh();
    SaveSettings();
}

bool TCvPlotPage::ChannelVisible(const QString& channel) const
{
    return !FHidden.contains(channel);
}

void TCvPlotPage::SetManualY(bool manual, double minimum, double maximum)
{
    FLoading = true;
    FAutoY->setChecked(!manual);
    FYMin->setValue(minimum);
    FYMax->setValue(maximum);
    FYMin->setEnabled(manual);
    FYMax->setEnabled(manual);
    FLoading = false;
    FChart->SetLeftAxisManual(manual, minimum, maximum);
    SaveSettings();
}

void TCvPlotPage::SetFollow(bool on)
{
    if (FFollowBox->isChecked() != on) FFollowBox->setChecked(on);
    // Not following: what is shown stays where it is while points come.
    if (!on && FChart->BottomAxisAutomatic()) FChart->SetBottomAxisAutomatic(false);
    if (on) Follow();
}

void TCvPlotPage::SetPaused(bool on)
{
    FPaused = on;
    ApplyFreeze();
}

bool TCvPlotPage::Frozen() const
{
    return FChart->Frozen();
}

void TCvPlotPage::ApplyFreeze()
{
    FChart->SetFrozen(FPaused || FFreezeBox->isChecked());
}

void TCvPlotPage::LoadSettings()
{
    if (FSettingsFile.isEmpty()) return;
    TIniFile ini;
    if (!ini.Load(FSettingsFile)) return;
    const QString sec;
    FHidden = ini.ReadString(sec, kHiddenKey).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const QString mode = ini.ReadString(sec, kXModeKey);
    const bool autoY = ini.ReadBool(sec, kYAutoKey, true);
    bool okMin = false, okMax = false;
    const double ymin = ini.ReadString(sec, kYMinKey).toDouble(&okMin);
    const double ymax = ini.ReadString(sec, kYMaxKey).toDouble(&okMax);
    FLoading = true;
    // A damaged range is no range: the axis scales itself.
    const bool rangeOk = okMin && okMax && std::isfinite(ymin) && std::isfinite(ymax) && ymax > ymin;
    if (rangeOk) {
        FYMin->setValue(ymin);
        FYMax->setValue(ymax);
    }
    FLoading = false;
    const QString settings = FSettingsFile;
    FSettingsFile.clear(); // nothing is written back while the file is read
    SetManualY(!autoY && rangeOk, FYMin->value(), FYMax->value());
    SetXMode(mode == QLatin1String("time") ? xmTime : xmIndex);
    FSettingsFile = settings;
}

void TCvPlotPage::SaveSettings() const
{
    if (FSettingsFile.isEmpty()) return;
    TIniFile ini;
    QString unreadable;
    if (!ini.Load(FSettingsFile, &unreadable) && QFileInfo(FSettingsFile).exists()) {
        // The port's file holds its line settings too: never replaced by the plot's keys alone.
        if (!FSettingsTold) {
            FSettingsTold = true;
            Tell(Msg(QStringLiteral("The plot settings are not saved: %1 can not be read (%2), and saving "
                                    "would replace everything it holds."))
                     .arg(FSettingsFile, unreadable));
        }
        return;
    }
    FSettingsTold = false;
    const QString sec;
    ini.WriteString(sec, kXModeKey, FXMode == xmTime ? QStringLiteral("time") : QStringLiteral("index"));
    ini.WriteString(sec, kHiddenKey, FHidden.join(QLatin1Char(',')));
    ini.WriteBool(sec, kYAutoKey, FAutoY->isChecked());
    ini.WriteString(sec, kYMinKey, Number(FYMin->value()));
    ini.WriteString(sec, kYMaxKey, Number(FYMax->value()));
    QString why;
    if (!ini.Save(FSettingsFile, &why))
        Tell(Msg(QStringLiteral("Can not save the plot settings to %1: %2")).arg(FSettingsFile, why));
}

void TCvPlotPage::Clear()
{
    FFeed->Reset();
    FPending.reset();
    FPendingRow = 0;
    for (const TChannel& ch : FChannels) {
        delete ch.Legend;
        delete ch.Series;
    }
    FChannels.clear();
    FColumns.clear();
    FSamples = 0;
    std::vector<double>().swap(FTimes);
    FTimeHead = 0;
    FTimeOrigin = -1;
    FDropTold = false;
    FDroppedLinesTold = 0;
    FChart->SetBottomAxisAutomatic(true);
    FChart->Refresh();
}

void TCvPlotPage::Tell(const QString& text) const
{
    if (FPort) FPort->Log(text);
}

// ---- read-out, zoom and pan ----

QString TCvPlotPage::ReadOutAt(double x) const
{
    if (FSamples == 0) return QString();
    const qint64 sample = std::clamp<qint64>(qint64(std::llround(IndexOfX(x))), 0, FSamples - 1);
    QString text =
        (FXMode == xmTime ? QStringLiteral("t %1 ms") : QStringLiteral("#%1")).arg(Number(XOf(sample)));
    for (const TChannel& ch : FChannels) {
        if (!ch.Series->LineSeries()->isVisible()) continue;
        const qint64 i = sample - ch.Series->FirstX();
        if (i < 0 || i >= ch.Series->Count()) continue;
        text += QStringLiteral("   %1 = %2").arg(ch.Name, Number(ch.Series->YValue(i)));
    }
    return text;
}

bool TCvPlotPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != FChart->viewport()) return QWidget::eventFilter(watched, event);
    QChart* chart = FChart->chart();
    const auto valueAt = [&](QPointF pos) {
        return chart->mapToValue(chart->mapFromScene(FChart->mapToScene(pos.toPoint())));
    };
    switch (event->type()) {
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->buttons() & Qt::MiddleButton) {
            // Panning: the point grabbed stays under the mouse.
            const QPointF now = valueAt(e->position());
            const QPointF then = valueAt(FPanFrom);
            FPanFrom = e->position();
            const double dx = then.x() - now.x();
            FChart->SetBottomAxisMinMax(FChart->BottomAxisMinimum() + dx, FChart->BottomAxisMaximum() + dx);
            if (FChart->LeftAxisManual() || !FAutoY->isChecked()) {
                const double dy = then.y() - now.y();
                SetManualY(true, FYMin->value() + dy, FYMax->value() + dy);
            }
            FChart->Refresh();
            return true;
        }
        if (!FChannels.empty()) FReadOut->setText(ReadOutAt(valueAt(e->position()).x()));
        break;
    }
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::MiddleButton) {
            FPanFrom = e->position();
            FFollowBox->setChecked(false);
            return true;
        }
        break;
    }
    case QEvent::Wheel: {
        // The wheel zooms the X axis around the mouse.
        auto* e = static_cast<QWheelEvent*>(event);
        const double at = valueAt(e->position()).x();
        const double lo = FChart->BottomAxisMinimum(), hi = FChart->BottomAxisMaximum();
        // Out no further than the widest range, still around the mouse (not drifting away).
        const double factor =
            e->angleDelta().y() > 0 ? 0.8 : std::clamp(FChart->WidestBottomRange() / (hi - lo), 1.0, 1.25);
        const double nlo = at - (at - lo) * factor, nhi = at + (hi - at) * factor;
        if (nhi > nlo) FChart->SetBottomAxisMinMax(nlo, nhi);
        FChart->Refresh();
        return true;
    }
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- export ----

bool TCvPlotPage::FillSheet(TCvSheetModel& sheet) const
{
    if (!sheet.SetValue(1, 1, FXMode == xmTime ? QStringLiteral("Time (ms)") : QStringLiteral("Sample")))
        return false;
    for (std::size_t c = 0; c < FChannels.size(); ++c)
        if (!sheet.SetValue(1, int(c) + 2, FChannels[c].Name)) return false;
    qint64 first = FSamples;
    for (const TChannel& ch : FChannels)
        if (ch.Series->Count() > 0) first = std::min(first, ch.Series->FirstX());
    int row = 2;
    for (qint64 s = first; s < FSamples; ++s, ++row) {
        if (!sheet.SetValue(row, 1, XOf(s))) return false;
        for (std::size_t c = 0; c < FChannels.size(); ++c) {
            const TCvFastLineSeries* series = FChannels[c].Series;
            const qint64 i = s - series->FirstX();
            // A channel that began later has no value before it began.
            if (i >= 0 && i < series->Count() && !sheet.SetValue(row, int(c) + 2, series->YValue(i)))
                return false;
        }
    }
    return true;
}

bool TCvPlotPage::ExportCsv(const QString& fileName, QString* error) const
{
    TCvSheetModel sheet(QStringLiteral("Sheet1"));
    if (!FillSheet(sheet)) {
        if (error) *error = Msg(QStringLiteral("the plot does not fit a worksheet"));
        return false;
    }
    return sheet.SaveCsv(fileName, error);
}

bool TCvPlotPage::ExportXlsx(const QString& fileName, QString* error) const
{
    TCvSheetModel sheet(QStringLiteral("Sheet1"));
    if (!FillSheet(sheet)) {
        if (error) *error = Msg(QStringLiteral("the plot does not fit a worksheet"));
        return false;
    }
    return sheet.SaveXlsx(fileName, error);
}

bool TCvPlotPage::SavePng(const QString& fileName) const
{
    if (FChart->RefreshPending()) FChart->Refresh();
    return FChart->grab().save(fileName, "PNG");
}

QString TCvPlotPage::AskFile(const QString& filter, const QString& ending)
{
    QString name = PromptSaveFileName(window(), QString(), filter);
    if (name.isEmpty()) return name;
    if (!name.endsWith(ending, Qt::CaseInsensitive)) name += ending;
    return name;
}

QString TCvPlotPage::ExportCsvClick()
{
    Sync();
    const QString name = AskFile(QStringLiteral("CSV (*.csv)"), QStringLiteral(".csv"));
    QString why;
    if (name.isEmpty()) return name;
    if (ExportCsv(name, &why)) return name;
    Tell(Msg(QStringLiteral("Can not write file %1: %2")).arg(name, why));
    return QString();
}

QString TCvPlotPage::ExportXlsxClick()
{
    Sync();
    const QString name = AskFile(QStringLiteral("Excel Workbook (*.xlsx)"), QStringLiteral(".xlsx"));
    QString why;
    if (name.isEmpty()) return name;
    if (ExportXlsx(name, &why)) return name;
    Tell(Msg(QStringLiteral("Can not write file %1: %2")).arg(name, why));
    return QString();
}

QString TCvPlotPage::SavePngClick()
{
    const QString name = AskFile(QStringLiteral("PNG (*.png)"), QStringLiteral(".png"));
    if (name.isEmpty()) return name;
    if (SavePng(name)) return name;
    Tell(Msg(QStringLiteral("Can not write file %1: %2")).arg(name, QStringLiteral("PNG")));
    return QString();
}

// ---- the tabs ----

TCvPlotPages::TCvPlotPages(QWidget* waveform, QWidget* parent) : QTabWidget(parent)
{
    setObjectName(QStringLiteral("PlotTabs"));
    setDocumentMode(true);
    if (waveform) addTab(waveform, QString());
    SetLanguage(MessageLanguage());
}

TCvPlotPage* TCvPlotPages::ShownPage() const
{
    return qobject_cast<TCvPlotPage*>(currentWidget());
}

void TCvPlotPages::SetLanguage(const QString& lang)
{
    FLanguage = lang == QLatin1String("EN") ? QStringLiteral("EN") : QStringLiteral("CN");
    for (int i = 0; i < count(); ++i) {
        if (auto* page = qobject_cast<TCvPlotPage*>(widget(i))) {
            page->SetLanguage(FLanguage);
            CaptionTab(page);
        } else {
            setTabText(i, Pick(kWaveformTab, FLanguage));
        }
    }
}

void TCvPlotPages::CaptionTab(TCvPlotPage* page)
{
    const int i = indexOf(page);
    if (i < 0 || !page->Port()) return;
    // A port that left ASCII receive feeds its plot no more: the tab says so, and what it
    // shows stays there to be looked at and exported.
    const bool on = page->Port()->FReceiveFormat.load() == rfAscii;
    setTabText(i, Pick(on ? kPlotTab : kPlotTabOff, FLanguage).arg(page->Port()->FComportFullName));
}

TCvPlotPage* TCvPlotPages::PageOf(const TCvComPortObj* port) const
{
    for (int i = 0; i < count(); ++i)
        if (auto* page = qobject_cast<TCvPlotPage*>(widget(i)); page && page->Port() == port) return page;
    return nullptr;
}

void TCvPlotPages::PortOpened(TCvComPortObj* port, const QString& settingsFile)
{
    if (!port) return;
    if (!FSettingsFiles.contains(port))
        connect(port, &QObject::destroyed, this, [this, port] { FSettingsFiles.remove(port); });
    FSettingsFiles[port] = settingsFile;
    PortChanged(port);
}

void TCvPlotPages::PortChanged(TCvComPortObj* port)
{
    if (!port) return;
    TCvPlotPage* page = PageOf(port);
    if (port->FReceiveFormat.load() != rfAscii) {
        // Other text must not reach the plot (a later return to ASCII starts a new line).
        if (page) {
            if (port->LineSink() == page->Feed()) port->SetLineSink(nullptr);
            page->Feed()->EndLine();
            CaptionTab(page);
        }
        return;
    }
    if (page) {
        port->SetLineSink(page->Feed());
        CaptionTab(page);
        return;
    }
    page = new TCvPlotPage(port, FSettingsFiles.value(port), this);
    page->setObjectName(QStringLiteral("PlotPage:") + port->FComportFullName);
    page->SetLanguage(FLanguage);
    addTab(page, QString());
    CaptionTab(page);
    // The page goes with its port.
    connect(port, &QObject::destroyed, page, &QObject::deleteLater);
}

void TCvPlotPages::SetPaused(const TCvComPortObj* port, bool on)
{
    if (TCvPlotPage* page = PageOf(port)) page->SetPaused(on);
}
