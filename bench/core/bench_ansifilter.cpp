// Throughput of the escape filter, as the display worker would run it on received text.
// Targets: plain text well above 100 MB/s; coloured ESP-IDF lines cheap (tens of MB/s and up).
//   build/bench/core/bench_ansifilter
#include "TCvAnsiFilter.h"
#include "TLogModel.h"

#include <benchmark/benchmark.h>

namespace {

QString PlainText(qsizetype size)
{
    QString s;
    s.reserve(size);
    while (s.size() < size)
        s += QStringLiteral("I (12345) main: temperature 23.5 C, humidity 45 %, all good\r\n");
    s.truncate(size);
    return s;
}

// ESP-IDF log lines: the whole line in the colour of its level.
QString EspText(qsizetype size)
{
    static const char* const kLines[] = {
        "\x1b[0;32mI (1312) wifi: state: auth -> assoc (0)\x1b[0m\r\n",
        "\x1b[0;33mW (1402) wifi: esf_buf: t=2 l=76 max:32, alloc:32 no eb\x1b[0m\r\n",
        "\x1b[0;31mE (1455) sensor: read failed (ESP_ERR_TIMEOUT)\x1b[0m\r\n",
        "\x1b[0;32mI (1520) main: temperature 23.5 C, humidity 45 %\x1b[0m\r\n",
    };
    QString s;
    s.reserve(size);
    for (int i = 0; s.size() < size; ++i) s += QString::fromLatin1(kLines[i % 4]);
    s.truncate(size);
    return s;
}

// A screenful of a coloured shell session: prompts, ls colours, cursor and erase codes.
QString ShellText(qsizetype size)
{
    const QString chunk = QStringLiteral(
        "\x1b[?2004h\x1b]0;user@box: ~\a\x1b[01;32muser@box\x1b[00m:\x1b[01;34m~\x1b[00m$ ls\r\n\x1b[?2004l\r"
        "\x1b[0m\x1b[01;34mbin\x1b[0m  \x1b[01;32mbuild.sh\x1b[0m  notes.txt  "
        "\x1b[38;5;208mlog\x1b[0m\r\n\x1b[K");
    QString s;
    s.reserve(size);
    while (s.size() < size) s += chunk;
    s.truncate(size);
    return s;
}

// range(0): the size of one read; the text is fed read by read, as the port delivers it.
void Run(benchmark::State& state, const QString& text, TAnsiMode mode)
{
    const qsizetype piece = state.range(0);
    TCvAnsiFilter f(mode);
    TCvStyledText out;
    for (auto _ : state) {
        for (qsizetype at = 0; at < text.size(); at += piece) {
            out.Clear();
            f.Feed(QStringView(text).mid(at, std::min(piece, text.size() - at)), out);
            benchmark::DoNotOptimize(out.Text.constData());
        }
    }
    // Characters of text (one byte each in UTF-8 for this text) per second.
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
}

void BM_Plain(benchmark::State& state)
{
    static const QString text = PlainText(4 << 20);
    Run(state, text, TAnsiMode::Colours);
}

void BM_EspColours(benchmark::State& state)
{
    static const QString text = EspText(4 << 20);
    Run(state, text, TAnsiMode::Colours);
}

void BM_EspRemove(benchmark::State& state)
{
    static const QString text = EspText(4 << 20);
    Run(state, text, TAnsiMode::Remove);
}

void BM_EspShow(benchmark::State& state)
{
    static const QString text = EspText(4 << 20);
    Run(state, text, TAnsiMode::Show);
}

void BM_ShellColours(benchmark::State& state)
{
    static const QString text = ShellText(4 << 20);
    Run(state, text, TAnsiMode::Colours);
}

// Filter and log model together: what a coloured log costs against the same text plain.
void ModelRun(benchmark::State& state, bool colours)
{
    static const QString text = EspText(4 << 20);
    const qsizetype piece = state.range(0);
    for (auto _ : state) {
        TCvAnsiFilter f(colours ? TAnsiMode::Colours : TAnsiMode::Remove);
        TLogModel m;
        TCvStyledText out;
        for (qsizetype at = 0; at < text.size(); at += piece) {
            out.Clear();
            f.Feed(QStringView(text).mid(at, std::min(piece, text.size() - at)), out);
            if (colours) m.AppendToLastLine(out.Text, out.Runs);
            else m.AppendToLastLine(out.Text);
        }
        benchmark::DoNotOptimize(m.LineCount());
        state.counters["memory/text"] = double(m.MemoryBytes()) / double(m.TextBytes());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
}

void BM_ModelEspColours(benchmark::State& state)
{
    ModelRun(state, true);
}

void BM_ModelEspPlain(benchmark::State& state)
{
    ModelRun(state, false);
}

} // namespace

BENCHMARK(BM_ModelEspColours)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModelEspPlain)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Plain)->Arg(64)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EspColours)->Arg(64)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EspRemove)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EspShow)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShellColours)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
