#include "instrument_session.h"
#include "survey_download.h"

#include <mxx_bytes.h>

#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>

using testing::InstrumentSession;

namespace {

sim::SimOptions withRecords(std::size_t n)
{
    sim::SimOptions o = session::loopback_options();
    o.records = n;
    return o;
}

// The flagged points of a simulated record.
std::vector<SurveyPoint> expectedPoints(const sim::SurveyRecord& r)
{
    std::vector<SurveyPoint> out;
    for (const sim::SurveyPoint& p : r.points)
        if (p.fix)
            out.push_back({p.latitude, p.longitude});
    return out;
}

bool samePoints(const std::vector<SurveyPoint>& a, const std::vector<SurveyPoint>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        // The record carries single-precision floats: 4e-6 degrees apart here.
        if (qAbs(a[i].latitude - b[i].latitude) > 4e-6 ||
            qAbs(a[i].longitude - b[i].longitude) > 4e-6)
            return false;
    return true;
}

const sim::SurveyRecord* recordOf(const InstrumentSession& s, uint32_t index)
{
    return s.store().find(index);
}

} // namespace

class TestSurveyDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0); }
    void cleanupTestCase() { MXX_shut(); }

    // The day count printed per record, against Qt's own count, through
    // summer-time changes and a midnight that local time skips.
    void daysBeforeCountsLocalCalendarDays()
    {
        const QByteArray saved = qgetenv("TZ");
        for (const char* zone : {"Europe/Riga", "America/Sao_Paulo", "UTC"}) {
            qputenv("TZ", zone);
            tzset();
            const QDateTime now = QDateTime::fromSecsSinceEpoch(1546300800); // 2019-01-01
            DaysBefore daysBefore(now);
            // Newest first, as records come, every 97 minutes back 15 months.
            for (qint64 t = now.toSecsSinceEpoch(); t > 1507000000; t -= 97 * 60) {
                const int expected = static_cast<int>(QDateTime::fromSecsSinceEpoch(t).daysTo(now));
                QCOMPARE(daysBefore(static_cast<uint32_t>(t)), expected);
            }
            // Out of order, too.
            QCOMPARE(daysBefore(1546300800 - 86400 * 3),
                     int(QDateTime::fromSecsSinceEpoch(1546300800 - 86400 * 3).daysTo(now)));
        }
        qputenv("TZ", saved);
        tzset();
    }

    void decodesFlaggedPointsOnly()
    {
        char bytes[M30_SURVEY_RECORD_SIZE] = {};
        MXX_put_u32(bytes + 4, 1796000000);
        MXX_put_u32(bytes + 8, 3);
        auto point = [&](int i, uint32_t flag, float lat, float lon) {
            char* p = bytes + 1520 + 32 * i;
            MXX_put_u32(p, flag);
            MXX_put_f32(p + 4, lat);
            MXX_put_f32(p + 8, lon);
        };
        point(0, 1, 57.5f, 24.25f);
        point(1, 0, 11.f, 12.f);
        point(2, 7, 0.f, 0.f);
        point(3, 1, 9.f, 9.f); // beyond the count
        // Point 0 carries every value; point 2 none that can be read.
        char* p0 = bytes + 1520;
        MXX_put_f32(p0 + 12, 16.5f);
        MXX_put_f32(p0 + 16, 0.125f);
        MXX_put_u32(p0 + 20, 1796000060);
        MXX_put_u16(p0 + 24, 321);
        p0[26] = 9;
        p0[27] = 12;
        char* p2 = bytes + 1520 + 64;
        MXX_put_f32(p2 + 12, std::numeric_limits<float>::infinity());
        MXX_put_f32(p2 + 16, 0.f);
        SurveyRecord r = *decodeSurveyRecord(bytes, sizeof bytes, 42);
        QCOMPARE(r.index, 42u);
        QCOMPARE(r.time, 1796000000u);
        QCOMPARE(r.points.size(), std::size_t(2));
        QCOMPARE(r.points[0].latitude, 57.5);
        QCOMPARE(r.points[0].longitude, 24.25);
        QCOMPARE(r.points[0].altitude, 16.5f);
        QCOMPARE(r.points[0].doseRate, 0.125f);
        QCOMPARE(r.points[0].time, 1796000060u);
        QCOMPARE(r.points[0].cps, uint16_t(321));
        QCOMPARE(r.points[0].satellites, uint8_t(9));
        QCOMPARE(r.points[0].hdop10, uint8_t(12));
        QCOMPARE(r.points[1].latitude, 0.0);
        QVERIFY(!r.points[1].hasAltitude());
        QVERIFY(!r.points[1].hasDoseRate());
        // A negative or NaN dose rate is unknown too; a negative altitude is not.
        MXX_put_f32(p0 + 16, -0.5f);
        MXX_put_f32(p0 + 12, -3.f);
        QVERIFY(!decodeSurveyRecord(bytes, sizeof bytes, 42)->points[0].hasDoseRate());
        QCOMPARE(decodeSurveyRecord(bytes, sizeof bytes, 42)->points[0].altitude, -3.f);
        MXX_put_f32(p0 + 16, std::numeric_limits<float>::quiet_NaN());
        QVERIFY(!decodeSurveyRecord(bytes, sizeof bytes, 42)->points[0].hasDoseRate());

        // A full record has 60 points; a count past its room, or a record
        // shorter than its header and points need, is no record at all.
        MXX_put_u32(bytes + 8, 60);
        for (int i = 0; i < 60; ++i)
            point(i, 1, float(i), float(-i));
        QCOMPARE(decodeSurveyRecord(bytes, sizeof bytes, 0)->points.size(), std::size_t(60));
        QCOMPARE(decodeSurveyRecord(bytes, sizeof bytes, 0)->points[59].longitude, -59.0);
        for (uint32_t count : {61u, 100000u}) {
            MXX_put_u32(bytes + 8, count);
            QVERIFY(!decodeSurveyRecord(bytes, sizeof bytes, 0));
        }
        MXX_put_u32(bytes + 8, 60);
        QVERIFY(!decodeSurveyRecord(bytes, 100, 0));
        QVERIFY(!decodeSurveyRecord(bytes, sizeof bytes - 1, 0));
        MXX_put_u32(bytes + 8, 2);
        QVERIFY(!decodeSurveyRecord(bytes, 1520 + 32 + 27, 0));
        QCOMPARE(decodeSurveyRecord(bytes, 1520 + 32 + 28, 0)->points.size(), std::size_t(2));
        char zeros[M30_SURVEY_RECORD_SIZE] = {};
        QVERIFY(decodeSurveyRecord(zeros, 12, 0)->points.empty());
        QVERIFY(!decodeSurveyRecord(zeros, 11, 0));
    }

    // A flagged point whose position is no place on the earth is left out
    // like a point without a fix, and counted; the edges of the globe stay.
    void leavesOutImpossiblePositions()
    {
        char bytes[M30_SURVEY_RECORD_SIZE] = {};
        const float inf = std::numeric_limits<float>::infinity();
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float places[][2] = {{91.f, 24.f},  {57.f, 200.f}, {nan, 24.f},    {57.f, -inf},
                                   {-90.f, 24.f}, {57.f, 180.f}, {57.f, -180.f}, {-90.5f, 0.f}};
        MXX_put_u32(bytes + 8, 8);
        for (int i = 0; i < 8; ++i) {
            char* p = bytes + 1520 + 32 * i;
            MXX_put_u32(p, 1);
            MXX_put_f32(p + 4, places[i][0]);
            MXX_put_f32(p + 8, places[i][1]);
        }
        const SurveyRecord r = *decodeSurveyRecord(bytes, sizeof bytes, 3);
        QCOMPARE(r.impossible, 5);
        QCOMPARE(r.points.size(), std::size_t(3));
        QCOMPARE(r.points[0].latitude, -90.0);
        QCOMPARE(r.points[1].longitude, 180.0);
        QCOMPARE(r.points[2].longitude, -180.0);
    }

    void newestFirstUntilThePeriodEnds()
    {
        InstrumentSession s(withRecords(40));
        QVERIFY(s.connect());
        const auto& records = s.store().records();
        // The period takes in the newest 25 records.
        const uint32_t oldestKept = records[records.size() - 25].time;
        SurveyDownload download(*s.m30, s.device.connId(),
                                QDateTime::fromSecsSinceEpoch(oldestKept));
        QVERIFY(download.fetchIndices());
        QCOMPARE(download.indices().size(), records.size());
        QVERIFY(!download.listCut());
        std::vector<uint32_t> order;
        const auto end = download.fetchRecords([&](int position, const SurveyRecord* r) {
            if (!r)
                return false;
            order.push_back(r->index);
            const sim::SurveyRecord* expected = recordOf(s, r->index);
            return position == int(order.size()) - 1 && expected &&
                   samePoints(r->points, expectedPoints(*expected));
        });
        QCOMPARE(end, SurveyDownload::End::PeriodEnded);
        QCOMPARE(download.inPeriod(), 25);
        QCOMPARE(order.size(), std::size_t(25));
        for (std::size_t i = 0; i < order.size(); ++i)
            QCOMPARE(order[i], records[records.size() - 1 - i].index);
        QVERIFY(download.missing().empty());
    }

    // Fetched on a thread of their own, the records still reach the caller's
    // thread, every one and in order; the caller stays alive while the
    // instrument is slow, and its refusal stops the fetching without losing
    // what was already fetched.
    void aheadHandsEveryRecordOverInOrder()
    {
        sim::SimOptions o = withRecords(30);
        o.faults.latency = std::chrono::milliseconds(3);
        InstrumentSession s(o);
        QVERIFY(s.connect());
        const auto& records = s.store().records();
        QThread* const caller = QThread::currentThread();
        bool onCaller = true;

        SurveyDownload download(*s.m30, s.device.connId());
        QVERIFY(download.fetchIndices());
        std::vector<uint32_t> order;
        int idles = 0;
        auto end = download.fetchRecordsAhead(
            [&](int position, const SurveyRecord* r) {
                onCaller = onCaller && QThread::currentThread() == caller;
                if (!r || position != int(order.size()))
                    return false;
                order.push_back(r->index);
                const sim::SurveyRecord* expected = recordOf(s, r->index);
                return expected && samePoints(r->points, expectedPoints(*expected));
            },
            [&] {
                onCaller = onCaller && QThread::currentThread() == caller;
                ++idles;
                return true;
            },
            1);
        QCOMPARE(end, SurveyDownload::End::Complete);
        QCOMPARE(order.size(), records.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            QCOMPARE(order[i], records[records.size() - 1 - i].index);
        QVERIFY(idles > 0);
        QVERIFY(onCaller);

        SurveyDownload cancelled(*s.m30, s.device.connId());
        QVERIFY(cancelled.fetchIndices());
        int seen = 0;
        end = cancelled.fetchRecordsAhead(
            [&](int, const SurveyRecord*) {
                ++seen;
                return true;
            },
            [&] { return seen < 5; }, 1);
        QCOMPARE(end, SurveyDownload::End::Cancelled);
        QVERIFY(seen >= 5 && seen < 30);
        QCOMPARE(seen, cancelled.tried());
    }

    void aLossyInstrumentLosesOnlyWhatNeverCame()
    {
        sim::SimOptions o = withRecords(12);
        o.faults.drop = 0.05;
        o.faults.corrupt = 0.05;
        o.faults.seed = 11;
        InstrumentSession s(o);
        QVERIFY(s.connect());
        SurveyDownload download(*s.m30, s.device.connId());
        QVERIFY(download.fetchIndices());
        int seen = 0, good = 0;
        const auto end = download.fetchRecords([&](int, const SurveyRecord* r) {
            ++seen;
            if (r) {
                const sim::SurveyRecord* expected = recordOf(s, r->index);
                good += expected && samePoints(r->points, expectedPoints(*expected));
            }
            return true;
        });
        QCOMPARE(end, SurveyDownload::End::Complete);
        QCOMPARE(seen, 12);
        QCOMPARE(good + int(download.missing().size()), 12);
        QCOMPARE(good, download.inPeriod());
        QVERIFY(good >= 10);
    }

    // 200 records over a link that damages 5 % of the answers: each damaged
    // answer is asked for again at once, and every record arrives whole.
    void damagedAnswersAreAskedForAgainAtOnce()
    {
        sim::SimOptions o = withRecords(200);
        o.faults.corrupt = 0.05;
        o.faults.seed = 3;
        o.events_hz = 0;
        InstrumentSession s(o);
        std::mutex mutex;
        std::vector<std::pair<bool, sim::Bytes>> wire; // (from the host, frame)
        s.instrument()->set_tap([&](const char* direction, const sim::Bytes& frame) {
            std::lock_guard<std::mutex> lock(mutex);
            wire.emplace_back(std::strcmp(direction, "in") == 0, frame);
        });
        QVERIFY(s.connect());
        SurveyDownload download(*s.m30, s.device.connId());
        QVERIFY(download.fetchIndices());
        int good = 0;
        const auto end = download.fetchRecords([&](int, const SurveyRecord* r) {
            const sim::SurveyRecord* expected = r ? recordOf(s, r->index) : nullptr;
            good += expected && samePoints(r->points, expectedPoints(*expected));
            return true;
        });
        QCOMPARE(end, SurveyDownload::End::Complete);
        QCOMPARE(good, 200);
        QVERIFY(download.missing().empty());
        std::lock_guard<std::mutex> lock(mutex);
        int damaged = 0;
        for (std::size_t i = 0; i < wire.size(); ++i) {
            const sim::Bytes& f = wire[i].second;
            uint8_t check = 0;
            for (std::size_t b = 12; b < f.size(); ++b)
                check ^= f[b];
            if (wire[i].first || check == 0)
                continue;
            ++damaged;
            // The next request is the same command again.
            auto next = std::find_if(wire.begin() + long(i) + 1, wire.end(),
                                     [](const auto& w) { return w.first; });
            QVERIFY(next != wire.end());
            QCOMPARE(MXX_get_u16(next->second.data() + 4) + 1000, int(MXX_get_u16(f.data() + 4)));
        }
        QVERIFY(damaged > 20);
    }

    void endsAtOnceWhenTheLinkDrops()
    {
        sim::SimOptions o = withRecords(50);
        o.faults.disconnect_after = 30; // the link goes in the middle of the records
        InstrumentSession s(o);
        QVERIFY(s.connect());
        SurveyDownload download(*s.m30, s.device.connId());
        QVERIFY(download.fetchIndices());
        int seen = 0;
        const auto end = download.fetchRecords([&](int, const SurveyRecord*) {
            ++seen;
            return true;
        });
        QCOMPARE(end, SurveyDownload::End::LinkLost);
        QVERIFY(seen < 10);
        // Every record not downloaded is named, tried or not.
        QCOMPARE(download.missing().size() + std::size_t(download.inPeriod()),
                 download.indices().size());
        QCOMPARE(download.missing().back(), download.indices().front());
    }

    void endsWhenRecordsFailInARow()
    {
        InstrumentSession s(withRecords(20));
        QVERIFY(s.connect());
        SurveyDownload download(*s.m30, s.device.connId());
        QVERIFY(download.fetchIndices());
        int seen = 0;
        const auto end = download.fetchRecords([&](int position, const SurveyRecord*) {
            ++seen;
            if (position == 3) // the instrument stops serving records
                s.instrument()->set_rule(8412, sim::Rule::fail(1));
            return true;
        });
        QCOMPARE(end, SurveyDownload::End::InstrumentSilent);
        QCOMPARE(seen, 4 + SurveyDownload::kSilentAfter);
        QCOMPARE(download.missing().size(), std::size_t(20 - 4));
        // Each failed record was asked for three times.
        const uint32_t failed = download.missing().front();
        int prepares = 0;
        for (const sim::Frame& f : s.instrument()->received())
            prepares += f.code == 8411 && MXX_get_u32(f.payload.data() + 8) == failed;
        QCOMPARE(prepares, 1 + SurveyDownload::kRetries);
    }

    void cancelStopsAfterTheCurrentRecord()
    {
        InstrumentSession s(withRecords(10));
        QVERIFY(s.connect());
        SurveyDownload download(*s.m30, s.device.connId());
        QVERIFY(download.fetchIndices());
        int seen = 0;
        QCOMPARE(download.fetchRecords([&](int, const SurveyRecord*) { return ++seen < 3; }),
                 SurveyDownload::End::Cancelled);
        QCOMPARE(seen, 3);
        QCOMPARE(download.inPeriod(), 3);
    }
};

QTEST_GUILESS_MAIN(TestSurveyDownload)
#include "test_survey_download.moc"
