// The transmit buffer downloaded as the host does it (info, prepare, chunks),
// and the survey records it carries: the walk, its times, and track files.
#include "sim/model.h"
#include "sim/survey_store.h"
#include "sim_session.h"

#include <QTemporaryFile>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <set>
#include <sstream>

using session::Bytes;
using session::Client;
using session::u32;
using session::words;

namespace {

struct Download
{
    std::uint8_t status = 0; // of the first refused exchange
    std::uint32_t count = 0;
    Bytes data;
    std::vector<std::uint32_t> offsets; // of every chunk request
    std::vector<std::size_t> chunks;    // n of every chunk, the last 0
};

Download download(Client& c, std::uint32_t kind, std::uint32_t selector, std::uint32_t start,
                  std::uint32_t limit)
{
    Download d;
    const Bytes info = c.exchange(8410, words({0}));
    if ((d.status = wire::status_of(info)) != 0 || wire::payload_of(info).size() != 8)
        return d;
    const std::uint32_t handle = u32(wire::payload_of(info), 4);
    const Bytes prep = c.exchange(8411, words({kind, selector, start, limit, 0, 0}, 68), 20000);
    if ((d.status = wire::status_of(prep)) != 0)
        return d;
    d.count = u32(wire::payload_of(prep), 4);
    for (std::uint32_t offset = 0;;) {
        d.offsets.push_back(offset);
        const Bytes chunk = c.exchange(8412, words({offset, handle, selector}));
        const Bytes p = wire::payload_of(chunk);
        if ((d.status = wire::status_of(chunk)) != 0 || p.size() < 8)
            return d;
        const std::uint32_t n = u32(p, 0);
        if (p.size() != 8 + n) {
            d.status = 255;
            return d;
        }
        d.chunks.push_back(n);
        d.data.insert(d.data.end(), p.begin() + 8, p.end());
        offset += n;
        if (n == 0)
            return d;
    }
}

float f32(const Bytes& b, std::size_t at)
{
    const std::uint32_t v = u32(b, at);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

std::vector<std::uint32_t> as_indices(const Bytes& data)
{
    std::vector<std::uint32_t> out;
    for (std::size_t at = 0; at + 4 <= data.size(); at += 4)
        out.push_back(u32(data, at));
    return out;
}

} // namespace

class TestSimSurvey : public QObject
{
    Q_OBJECT

private slots:
    void downloadsIndexListAndEveryRecord()
    {
        sim::SimOptions o = session::loopback_options();
        o.records = 120;
        o.chunk = 100; // the 480-byte list takes five chunks
        sim::Simulator s(o);
        s.start();
        Client c(s.instruments()[0].port);
        QVERIFY(c.valid());

        const Download list = download(c, 1, 7, 1, 10000);
        QCOMPARE(list.status, std::uint8_t{0});
        QCOMPARE(list.count, 120u);
        QCOMPARE(list.chunks, (std::vector<std::size_t>{100, 100, 100, 100, 80, 0}));
        QCOMPARE(list.offsets, (std::vector<std::uint32_t>{0, 100, 200, 300, 400, 480}));
        const std::vector<std::uint32_t> indices = as_indices(list.data);
        QCOMPARE(indices.size(), std::size_t{120});
        std::size_t gaps = 0;
        for (std::size_t i = 1; i < indices.size(); ++i) {
            QVERIFY(indices[i] > indices[i - 1]);
            gaps += indices[i] - indices[i - 1] > 1 ? 1 : 0;
        }
        QVERIFY(gaps > 0 && gaps < 60); // deleted records, not a scatter
        QVERIFY(indices.front() >= 1);

        const sim::LandBox box;
        std::uint32_t newest = 0, oldest = 0xffffffffu, previous_time = 0;
        std::set<std::uint32_t> days;
        std::size_t points = 0, no_fix = 0, short_records = 0;
        double south = 90, north = -90, west = 180, east = -180;
        for (std::uint32_t index : indices) {
            const Download r = download(c, 3, 7, index, 1);
            QCOMPARE(r.status, std::uint8_t{0});
            QCOMPARE(r.data.size(), sim::kRecordSize);
            QCOMPARE(r.chunks.size(), std::size_t{36}); // 34 of 100, one of 36, the empty one
            QCOMPARE(r.offsets.back(), 3436u);
            QCOMPARE(u32(r.data, 0), index);
            const std::uint32_t time = u32(r.data, 4), n = u32(r.data, 8);
            QVERIFY(n >= 1 && n <= 60);
            QVERIFY(time > previous_time); // later records are newer
            previous_time = time;
            newest = std::max(newest, time + n);
            oldest = std::min(oldest, time);
            days.insert(time / 86400);
            short_records += n < 60 ? 1 : 0;
            float last_lat = 0, last_lon = 0;
            for (std::uint32_t i = 0; i < n; ++i) {
                const std::size_t at = 1520 + 32 * i;
                ++points;
                QCOMPARE(u32(r.data, at + 20), time + i); // one point a second
                if (u32(r.data, at) == 0) {
                    ++no_fix;
                    last_lat = 0;
                    continue;
                }
                const float lat = f32(r.data, at + 4), lon = f32(r.data, at + 8);
                QVERIFY(lat > box.south && lat < box.north);
                QVERIFY(lon > box.west && lon < box.east);
                south = std::min(south, double(lat));
                north = std::max(north, double(lat));
                west = std::min(west, double(lon));
                east = std::max(east, double(lon));
                if (last_lat != 0) { // a walking pace, a second apart
                    QVERIFY(std::fabs(lat - last_lat) < 0.0001f);
                    QVERIFY(std::fabs(lon - last_lon) < 0.0002f);
                }
                last_lat = lat;
                last_lon = lon;
                const float rate = f32(r.data, at + 16);
                QVERIFY(rate > 0.01f && rate < 1.0f);
            }
            for (std::uint32_t i = n; i < 60; ++i) // unused points stay empty
                QCOMPARE(u32(r.data, 1520 + 32 * i), 0u);
        }
        QVERIFY(no_fix > 0 && no_fix < points / 20);
        QVERIFY(short_records > 0);
        // Time stamps over the past days, the newest shortly before "now".
        QVERIFY(newest < o.epoch && newest > o.epoch - 3600);
        QVERIFY(oldest < o.epoch - 5 * 86400);
        QVERIFY(days.size() >= 5);
        // The transects cover the box rather than one corner of it.
        QVERIFY(east - west > 0.8 * (box.east - box.west));
        QVERIFY(north - south > 0.8 * (box.north - box.south));
    }

    void startLimitAndRefusals()
    {
        sim::SimOptions o = session::loopback_options();
        o.records = 40;
        o.chunk = 8170;
        sim::Simulator s(o);
        s.start();
        Client c(s.instruments()[0].port);

        // A chunk before anything was prepared.
        QCOMPARE(wire::status_of(c.exchange(8412, words({0, 0, 0}))), sim::refusal::not_prepared);

        const std::vector<std::uint32_t> all = as_indices(download(c, 1, 0, 1, 10000).data);
        QCOMPARE(all.size(), std::size_t{40});
        // The list from an index on, and at most `limit` entries of it.
        Download part = download(c, 1, 0, all[10], 5);
        QCOMPARE(part.count, 5u);
        QCOMPARE(as_indices(part.data),
                 std::vector<std::uint32_t>(all.begin() + 10, all.begin() + 15));
        part = download(c, 1, 0, all.back() + 1, 100);
        QCOMPARE(part.count, 0u);
        QCOMPARE(part.chunks, std::vector<std::size_t>{0});
        part = download(c, 1, 0, 0, 0);
        QCOMPARE(part.count, 0u);
        QVERIFY(part.data.empty());

        QCOMPARE(download(c, 2, 0, 1, 1).status, sim::refusal::unknown_kind);
        QCOMPARE(download(c, 0, 0, 1, 1).status, sim::refusal::unknown_kind);
        std::uint32_t missing = all.front() - 1; // below the first, or in a gap
        for (std::size_t i = 1; i < all.size(); ++i)
            if (all[i] - all[i - 1] > 1)
                missing = all[i] - 1;
        QCOMPARE(download(c, 3, 0, missing, 1).status, sim::refusal::unknown_index);
        QCOMPARE(download(c, 3, 0, 0xffffffffu, 1).status, sim::refusal::unknown_index);
        // A refused prepare leaves nothing to fetch.
        QCOMPARE(
            wire::status_of(c.exchange(8412, words({0, s.instruments()[0].model->handle(), 0}))),
            sim::refusal::not_prepared);

        // Handle of the last info and selector of the prepare, in every chunk.
        const std::uint32_t first = u32(wire::payload_of(c.exchange(8410, words({0}))), 4);
        const std::uint32_t handle = u32(wire::payload_of(c.exchange(8410, words({0}))), 4);
        QVERIFY(first != handle && handle != 0);
        QCOMPARE(wire::status_of(c.exchange(8411, words({3, 9, all[3], 1}, 68))), std::uint8_t{0});
        QCOMPARE(wire::status_of(c.exchange(8412, words({0, first, 9}))), sim::refusal::bad_handle);
        QCOMPARE(wire::status_of(c.exchange(8412, words({0, handle, 8}))),
                 sim::refusal::bad_selector);
        QCOMPARE(wire::status_of(c.exchange(8412, words({3437, handle, 9}))),
                 sim::refusal::bad_offset);
        // A chunk from the middle of the item, then the end.
        const Bytes tail = wire::payload_of(c.exchange(8412, words({3000, handle, 9})));
        QCOMPARE(u32(tail, 0), 436u);
        QCOMPARE(tail.size(), std::size_t{8 + 436});
        QCOMPARE(u32(wire::payload_of(c.exchange(8412, words({3436, handle, 9}))), 0), 0u);
        const Bytes whole = wire::payload_of(c.exchange(8412, words({0, handle, 9})));
        QCOMPARE(Bytes(whole.begin() + 8 + 3000, whole.end()), Bytes(tail.begin() + 8, tail.end()));

        // An instrument with no records lists none.
        o.records = 0;
        sim::Simulator empty(o);
        empty.start();
        Client e(empty.instruments()[0].port);
        const Download none = download(e, 1, 0, 1, 10000);
        QCOMPARE(none.status, std::uint8_t{0});
        QCOMPARE(none.count, 0u);
        QCOMPARE(none.chunks, std::vector<std::size_t>{0});
    }

    void walkIsReproducible()
    {
        sim::WalkConfig w;
        w.records = 50;
        w.seed = 42;
        w.now = 1796000000;
        const sim::SurveyStore a = sim::SurveyStore::walk(w), b = sim::SurveyStore::walk(w);
        w.seed = 43;
        const sim::SurveyStore other = sim::SurveyStore::walk(w);
        QCOMPARE(a.records().size(), std::size_t{50});
        bool differs = false;
        for (std::size_t i = 0; i < 50; ++i) {
            QCOMPARE(sim::SurveyStore::encode(a.records()[i]),
                     sim::SurveyStore::encode(b.records()[i]));
            differs = differs || sim::SurveyStore::encode(a.records()[i]) !=
                                     sim::SurveyStore::encode(other.records()[i]);
        }
        QVERIFY(differs);
        // A record with more points than it has room for keeps the first 60.
        sim::SurveyRecord big = a.records()[0];
        big.points.resize(75, big.points[0]);
        const Bytes bytes = sim::SurveyStore::encode(big);
        QCOMPARE(bytes.size(), sim::kRecordSize);
        QCOMPARE(u32(bytes, 8), 60u);
    }

    void tracksFromCsv()
    {
        std::ostringstream csv;
        csv << "time,latitude,longitude\n"
            << "# a comment and a blank line\n\n"
            << "2026-12-01T10:00:00Z,57.41,24.61\n"
            << "1796119201, 57.4101 ,24.6101\r\n"
            << "1796119202,nan,nan\n"
            << "1796119203,,\n"
            << "1796119204,57.4103,24.6103\n"
            << "1796119300,57.42,24.62\n"; // a pause: a new record
        for (int i = 0; i < 61; ++i)
            csv << 1796200000 + i << ",57.4"
                << ",24.6\n";
        std::istringstream in(csv.str());
        const sim::SurveyStore store = sim::SurveyStore::from_track(in, 1);
        QCOMPARE(store.records().size(), std::size_t{4}); // 5 points, 1, 60, 1
        const sim::SurveyRecord& first = store.records()[0];
        QCOMPARE(first.time, 1796119200u);
        QCOMPARE(first.points.size(), std::size_t{5});
        QVERIFY(first.points[1].fix);
        QVERIFY(!first.points[2].fix && !first.points[3].fix);
        QCOMPARE(first.points[1].latitude, 57.4101);
        const Bytes bytes = sim::SurveyStore::encode(first);
        QCOMPARE(u32(bytes, 1520 + 64), 0u);
        QCOMPARE(f32(bytes, 1520 + 32 + 8), 24.6101f);
        QCOMPARE(store.records()[2].points.size(), std::size_t{60});
        QCOMPARE(store.records()[3].points.size(), std::size_t{1});

        std::istringstream bad("1796119201,57.41,24.61\n1796119202,91,24.61\n");
        try {
            sim::SurveyStore::from_track(bad, 1, "walk.csv");
            QFAIL("a latitude of 91 was taken");
        } catch (const std::runtime_error& e) {
            QCOMPARE(std::string(e.what()).rfind("walk.csv:2:", 0), std::size_t{0});
        }

        // Through the program's options: the file's points are what is listed.
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(QByteArray::fromStdString(csv.str()));
        file.close();
        sim::SimOptions o = session::loopback_options();
        o.track = file.fileName().toStdString();
        sim::Simulator s(o);
        s.start();
        Client c(s.instruments()[0].port);
        QCOMPARE(download(c, 1, 0, 1, 10000).count, 4u);
        o.track = "/nonexistent/track.csv";
        QVERIFY_EXCEPTION_THROWN(sim::Simulator{o}, std::runtime_error);
    }
};

QTEST_GUILESS_MAIN(TestSimSurvey)
#include "test_sim_survey.moc"
