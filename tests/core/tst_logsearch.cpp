#include "TLogModel.h"
#include "TLogSearch.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

// Find in a log model: directions, wrapping, letter case, and a long log searched in
// slices while the event loop goes on turning.
class TstLogSearch : public QObject {
    Q_OBJECT
private slots:
    void findFrom_data();
    void findFrom();
    void largeLogKeepsEventLoopTurning_data();
    void largeLogKeepsEventLoopTurning();
    void ownerGoneStopsQuietly();
};

namespace {

struct Result {
    bool found = false;
    qint64 line = -1, col = -1, length = 0;
    bool wrapped = false;
};

Result Run(TLogSearch& search, const TLogModel& model, const QString& text, Qt::CaseSensitivity cs,
           bool forward, qint64 line, qint64 col, qint64 lines = -1)
{
    QSignalSpy found(&search, &TLogSearch::Found);
    QSignalSpy notFound(&search, &TLogSearch::NotFound);
    search.Start(&model, nullptr, text, cs, forward, line, col, lines);
    // Never answered before the event loop turns.
    if (!found.isEmpty() || !notFound.isEmpty()) return Result{true, -2, -2, 0, false};
    Result r;
    if (!QTest::qWaitFor([&] { return !found.isEmpty() || !notFound.isEmpty(); }, 60000)) return r;
    if (found.isEmpty()) return r;
    r.found = true;
    r.line = found[0][0].toLongLong();
    r.col = found[0][1].toLongLong();
    r.length = found[0][2].toLongLong();
    r.wrapped = found[0][3].toBool();
    return r;
}

} // namespace

void TstLogSearch::findFrom_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<qint64>("line");
    QTest::addColumn<qint64>("col");
    QTest::addColumn<qint64>("lines");
    QTest::addColumn<qint64>("wantLine"); // -1: not found
    QTest::addColumn<qint64>("wantCol");
    QTest::addColumn<bool>("wantWrapped");
    // Lines: 0 "alpha beta", 1 "Gamma ALPHA", 2 "delta", 3 "alpha alpha", 4 "épée ÉPÉE"
    QTest::newRow("next in the same line")
        << u"alpha"_s << false << true << 3LL << 1LL << -1LL << 3LL << 6LL << false;
    QTest::newRow("next from the match start")
        << u"alpha"_s << false << true << 0LL << 0LL << -1LL << 0LL << 0LL << false;
    QTest::newRow("next on a later line")
        << u"alpha"_s << false << true << 0LL << 1LL << -1LL << 1LL << 6LL << false;
    QTest::newRow("case skips ALPHA")
        << u"alpha"_s << true << true << 0LL << 1LL << -1LL << 3LL << 0LL << false;
    QTest::newRow("wraps to the top")
        << u"beta"_s << false << true << 2LL << 0LL << -1LL << 0LL << 6LL << true;
    QTest::newRow("wraps into the start line")
        << u"alpha"_s << false << true << 3LL << 7LL << -1LL << 0LL << 0LL << true;
    QTest::newRow("only match is before the start")
        << u"delta"_s << false << true << 2LL << 1LL << -1LL << 2LL << 0LL << true;
    QTest::newRow("previous in the same line")
        << u"alpha"_s << false << false << 3LL << 6LL << -1LL << 3LL << 0LL << false;
    QTest::newRow("previous on an earlier line")
        << u"alpha"_s << false << false << 3LL << 0LL << -1LL << 1LL << 6LL << false;
    QTest::newRow("previous wraps to the end")
        << u"alpha"_s << false << false << 0LL << 0LL << -1LL << 3LL << 6LL << true;
    QTest::newRow("previous with case")
        << u"ALPHA"_s << true << false << 0LL << 0LL << -1LL << 1LL << 6LL << true;
    QTest::newRow("not found") << u"omega"_s << false << true << 0LL << 0LL << -1LL << -1LL << 0LL << false;
    QTest::newRow("case makes it not found")
        << u"DELTA"_s << true << true << 0LL << 0LL << -1LL << -1LL << 0LL << false;
    QTest::newRow("letters beyond ASCII, any case")
        << u"ÉPÉE"_s << false << true << 0LL << 0LL << -1LL << 4LL << 0LL << false;
    QTest::newRow("letters beyond ASCII, with case")
        << u"ÉPÉE"_s << true << true << 0LL << 0LL << -1LL << 4LL << 5LL << false;
    QTest::newRow("only the first lines")
        << u"alpha alpha"_s << false << true << 0LL << 0LL << 3LL << -1LL << 0LL << false;
}

void TstLogSearch::findFrom()
{
    QFETCH(QString, text);
    QFETCH(bool, matchCase);
    QFETCH(bool, forward);
    QFETCH(qint64, line);
    QFETCH(qint64, col);
    QFETCH(qint64, lines);
    QFETCH(qint64, wantLine);
    QFETCH(qint64, wantCol);
    QFETCH(bool, wantWrapped);
    TLogModel model;
    for (const QString& l : {u"alpha beta"_s, u"Gamma ALPHA"_s, u"delta"_s, u"alpha alpha"_s, u"épée ÉPÉE"_s})
        model.Add(l);
    TLogSearch search;
    const Result r = Run(search, model, text, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive, forward,
                         line, col, lines);
    QCOMPARE(r.line, wantLine);
    if (wantLine < 0) {
        QVERIFY(!r.found);
        return;
    }
    QCOMPARE(r.col, wantCol);
    QCOMPARE(r.length, text.size());
    QCOMPARE(r.wrapped, wantWrapped);
    QVERIFY(!search.Running());
}

void TstLogSearch::largeLogKeepsEventLoopTurning_data()
{
    QTest::addColumn<bool>("spill");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("wantLine");
    // The needle near the end, found going forward from the top; the other rows go
    // backward from the end into the oldest lines, which the spilling model keeps on disk.
    QTest::newRow("in memory, with case") << false << true << u"needle"_s << 999990LL;
    QTest::newRow("in memory, any case") << false << false << u"NEEDLE"_s << 999990LL;
    QTest::newRow("on disk, going back") << true << false << u"first-marker"_s << 5LL;
    QTest::newRow("on disk, not found") << true << true << u"nowhere"_s << -1LL;
}

void TstLogSearch::largeLogKeepsEventLoopTurning()
{
    QFETCH(bool, spill);
    QFETCH(bool, matchCase);
    QFETCH(QString, text);
    QFETCH(qint64, wantLine);
    TLogModel model;
    if (spill) model.SetMemoryLimit(std::size_t(4) << 20);
    const qint64 total = 1000000;
    for (qint64 i = 0; i < total; ++i) {
        if (i == 999990) model.Add(u"line %1 with the needle in it"_s.arg(i));
        else if (i == 5) model.Add(u"line %1 first-marker"_s.arg(i));
        else model.Add(u"line %1 of ordinary received text"_s.arg(i));
    }
    QCOMPARE(model.LineCount(), total);
    if (spill) QVERIFY(model.SpilledBytes() > 0);

    TLogSearch search;
    const bool forward = wantLine != 5;
    // A timer of the event loop counts its turns while the search runs.
    int ticksWhileSearching = 0;
    QTimer ticker;
    ticker.setInterval(0);
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (search.Running()) ++ticksWhileSearching;
    });
    ticker.start();
    QSignalSpy found(&search, &TLogSearch::Found);
    QSignalSpy notFound(&search, &TLogSearch::NotFound);
    search.Start(&model, nullptr, text, matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive, forward,
                 forward ? 0 : total - 1, forward ? 0 : 1000);
    QVERIFY(search.Running());
    QTRY_VERIFY_WITH_TIMEOUT(!found.isEmpty() || !notFound.isEmpty(), 120000);
    ticker.stop();
    QVERIFY2(ticksWhileSearching > 0, "the event loop did not turn during the search");
    QVERIFY(search.Slices() > 1);
    if (wantLine < 0) {
        QVERIFY(found.isEmpty());
        return;
    }
    QVERIFY(notFound.isEmpty());
    QCOMPARE(found[0][0].toLongLong(), wantLine);
    QCOMPARE(model.Line(wantLine).mid(found[0][1].toLongLong(), text.size()).toLower(), text.toLower());
}

void TstLogSearch::ownerGoneStopsQuietly()
{
    TLogModel model;
    for (int i = 0; i < 10; ++i) model.Add(u"text %1"_s.arg(i));
    TLogSearch search;
    QSignalSpy found(&search, &TLogSearch::Found);
    QSignalSpy notFound(&search, &TLogSearch::NotFound);
    auto* owner = new QObject;
    search.Start(&model, owner, u"text 9"_s, Qt::CaseSensitive, true, 0, 0);
    delete owner;
    QTRY_VERIFY(!search.Running());
    QVERIFY(found.isEmpty());
    QVERIFY(notFound.isEmpty());
}

QTEST_MAIN(TstLogSearch)
#include "tst_logsearch.moc"
