#pragma once

#include "TCvComPortObj.h"

#include <QColor>
#include <QHash>
#include <QPointF>
#include <QPointer>
#include <QStringList>
#include <QTabWidget>
#include <QWidget>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class TCvChart;
class TCvFastLineSeries;
class TCvPlotFeed;
class TCvSheetModel;
struct TCvPlotBatch;

// The plot of one ASCII port: every received text line that holds numbers is one sample,
// each number a point of its channel (see TCvPlotParser). A channel that a line leaves out
// keeps its last value for that sample, so all channels share the sample index; a channel
// that appears later starts at the sample where it appeared. Each channel keeps the last
// kMaxPoints samples. Settings that matter (X mode, hidden channels, the manual Y range)
// live in the port's own settings file.
class TCvPlotPage : public QWidget {
    Q_OBJECT
public:
    enum TXMode { xmIndex = 0, xmTime = 1 };
    static constexpr qint64 kMaxPoints = 1000000;
    static constexpr int kRefreshMs = 30;
    // What the GUI thread spends on rows before it lets other events in.
    static constexpr int kRowSliceMs = 4;

    // settingsFile: the port's .ini (may be empty: nothing is kept).
    TCvPlotPage(TCvComPortObj* port, const QString& settingsFile, QWidget* parent = nullptr);
    ~TCvPlotPage() override;

    TCvComPortObj* Port() const { return FPort; }
    TCvPlotFeed* Feed() const { return FFeed; }
    TCvChart* Chart() const { return FChart; }

    // Applies what the feed parsed so far (also done by itself as rows come), a few
    // milliseconds of it at a time: the rest follows after the window's other events.
    void TakeRows();
    // Every row parsed so far is applied: the feed is idle and its rows are taken.
    void Sync();

    QStringList Channels() const;
    TCvFastLineSeries* Series(const QString& channel) const;
    qint64 Samples() const { return FSamples; }
    // X of sample i as drawn (the index or ms since the first sample).
    double XOf(qint64 sample) const;

    TXMode XMode() const { return FXMode; }
    void SetXMode(TXMode mode);
    void SetChannelVisible(const QString& channel, bool visible);
    bool ChannelVisible(const QString& channel) const;
    void SetManualY(bool manual, double minimum, double maximum);
    void SetFollow(bool on);
    // The log's pause: the plot is drawn no more until it ends (points still go in).
    void SetPaused(bool on);
    bool Frozen() const;
    // Forgets every channel and point.
    void Clear();

    // Value of every visible channel at X (as drawn), as the crosshair read-out shows it.
    QString ReadOutAt(double x) const;

    // The columns X and one per channel, captions in row 1.
    bool FillSheet(TCvSheetModel& sheet) const;
    bool ExportCsv(const QString& fileName, QString* error = nullptr) const;
    bool ExportXlsx(const QString& fileName, QString* error = nullptr) const;
    bool SavePng(const QString& fileName) const;
    // The buttons: ask for a name, write, tell a failure in the port's log. The file
    // written, or empty.
    QString ExportCsvClick();
    QString ExportXlsxClick();
    QString SavePngClick();

    // The colour of channel n (0-based): 16 distinct ones, then again.
    static QColor ChannelColor(int n);

    // Captions in English for "EN", in Chinese otherwise. A new page starts in the
    // language of the messages.
    void SetLanguage(const QString& lang);
    QString Language() const { return FLanguage; }
    // Paused by the log's pause (not by its own Freeze box).
    bool Paused() const { return FPaused; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TChannel {
        QString Name;
        TCvFastLineSeries* Series = nullptr;
        QCheckBox* Legend = nullptr;
        double Held = 0;
        bool Started = false;
    };
    // Rows [from, to) of the batch.
    void Apply(const TCvPlotBatch& batch, qsizetype from, qsizetype to);
    // Applies waiting rows for at most budgetMs (all of them for a negative budget);
    // true when some still wait.
    bool ApplyRows(int budgetMs);
    void AddChannel(const QString& name);
    double IndexOfX(double x) const;
    void LoadSettings();
    void SaveSettings() const;
    void Follow();
    void ApplyFreeze();
    void Tell(const QString& text) const;
    // Lines the feed left out (its input was full), told once it has caught up.
    void TellDropped();
    QString AskFile(const QString& filter, const QString& ending);

    QPointer<TCvComPortObj> FPort;
    QString FSettingsFile;
    TCvPlotFeed* FFeed;
    TCvChart* FChart;
    QComboBox* FXModeBox;
    QCheckBox* FAutoY;
    QDoubleSpinBox* FYMin;
    QDoubleSpinBox* FYMax;
    QCheckBox* FFollowBox;
    QCheckBox* FFreezeBox;
    QLabel* FReadOut;
    QWidget* FLegend;
    QVBoxLayout* FLegendLayout;

    // Rows taken from the feed and not applied yet, from FPendingRow on.
    std::unique_ptr<TCvPlotBatch> FPending;
    qsizetype FPendingRow = 0;
    bool FContinuePosted = false;
    std::vector<TChannel> FChannels;
    std::vector<std::vector<double>> FColumns;
    qint64 FSamples = 0;
    // Receive time of the newest kMaxPoints samples (ms since the first), a ring.
    std::vector<double> FTimes;
    qint64 FTimeHead = 0;
    qint64 FTimeOrigin = -1;
    TXMode FXMode = xmIndex;
    QStringList FHidden;
    bool FPaused = false;
    bool FDropTold = false;
    qint64 FDroppedLinesTold = 0;
    // The settings file could not be read and is not saved over (said once).
    mutable bool FSettingsTold = false;
    bool FLoading = false;
    QPointF FPanFrom;
    QString FLanguage;
};

// The waveform page's tabs: the waveform first, then a plot per ASCII port.
class TCvPlotPages : public QTabWidget {
    Q_OBJECT
public:
    explicit TCvPlotPages(QWidget* waveform, QWidget* parent = nullptr);

    // After a port opened: a port in ASCII gets its page (once; the page goes with the
    // port object) and hands its text to it. settingsFile: the port's .ini.
    void PortOpened(TCvComPortObj* port, const QString& settingsFile);
    // After a port changed its receive format: the same with the file it opened with.
    void PortChanged(TCvComPortObj* port);
    // The pause of the port's log freezes its plot too.
    void SetPaused(const TCvComPortObj* port, bool on);
    TCvPlotPage* PageOf(const TCvComPortObj* port) const;
    // The plot page on show, or none (the waveform is).
    TCvPlotPage* ShownPage() const;
    // Captions of the tabs and of every page (see TCvPlotPage::SetLanguage).
    void SetLanguage(const QString& lang);

private:
    void CaptionTab(TCvPlotPage* page);

    QHash<const QObject*, QString> FSettingsFiles;
    QString FLanguage;
};
