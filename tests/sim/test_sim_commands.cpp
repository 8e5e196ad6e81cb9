// The command tables expanded into the simulator's answers: counts, sizes,
// refusals, and set commands that the matching get gives back.
#include "sim/commands.h"
#include "sim/model.h"
#include "sim_session.h"

#include <QtTest>

#include <ctime>
#include <set>

using session::Bytes;
using session::Client;

namespace {

Bytes clock_record(int y, int mo, int d, int h, int mi, int s)
{
    return session::words({static_cast<std::uint32_t>(y), static_cast<std::uint32_t>(mo),
                           static_cast<std::uint32_t>(d), static_cast<std::uint32_t>(h),
                           static_cast<std::uint32_t>(mi), static_cast<std::uint32_t>(s)});
}

// Zeros of the listed size, except where zeros are a refused value.
Bytes table_request(const sim::CommandSpec& c)
{
    if (c.code == 8411) // the index list
        return session::words({1, 0, 1, 10000}, 68);
    if (c.code == 8003)
        return clock_record(2026, 12, 8, 6, 0, 0);
    if (c.code == 8104)
        return {'C', '3', '0', '0', '0', '0', '0', '1'};
    return Bytes(c.request, 0);
}

} // namespace

class TestSimCommands : public QObject
{
    Q_OBJECT

private slots:
    void tablesHaveTheirCounts()
    {
        QCOMPARE(sim::kM17CommandCount, std::size_t{12});
        QCOMPARE(sim::kM30CommandCount, std::size_t{93});
        std::set<std::uint16_t> m30;
        for (const sim::CommandSpec& c : sim::kM30Commands) {
            QVERIFY2(m30.insert(c.code).second, c.name);
            QVERIFY(c.timeout_ms >= 1000);
        }
        // Codes the two families share carry the same sizes, except the
        // version record and the serial, which are each family's own.
        for (const sim::CommandSpec& c : sim::kM17Commands) {
            const sim::CommandSpec* other = sim::find_m30_command(c.code);
            if (other && c.code != 8001 && c.code != 8007) {
                QCOMPARE(other->request, c.request);
                QCOMPARE(other->response, c.response);
            }
        }
        QCOMPARE(sim::find_m30_command(8205)->request, std::size_t{4});
        QCOMPARE(std::string(sim::find_m30_command(8412)->name), std::string("tx_buff_get"));
        QCOMPARE(sim::find_m17_command(8100)->timeout_ms, 60000);
        QVERIFY(!sim::find_m30_command(8100));
    }

    void everyCommandAnsweredWithItsSize()
    {
        sim::SimOptions o = session::loopback_options();
        o.records = 2100; // an index list longer than one full chunk
        sim::Simulator s(o);
        s.start();
        Client c(s.instruments()[0].port);
        QVERIFY(c.valid());

        std::vector<const sim::CommandSpec*> all;
        for (const sim::CommandSpec& spec : sim::kM30Commands)
            all.push_back(&spec);
        for (const sim::CommandSpec& spec : sim::kM17Commands)
            if (!sim::find_m30_command(spec.code))
                all.push_back(&spec);
        QCOMPARE(all.size(), std::size_t{100}); // M30 and the seven service commands it lacks
        for (const sim::CommandSpec* spec : all) {
            if (spec->code == 8412) { // a chunk needs the handle of an info
                const Bytes info = c.exchange(8410, Bytes(4, 0));
                QCOMPARE(c.exchange(8411, table_request(*sim::find_m30_command(8411)))[10],
                         std::uint8_t{0});
                const Bytes chunk = c.exchange(
                    8412, session::words({0, session::u32(wire::payload_of(info), 4), 0}));
                QCOMPARE(wire::payload_of(chunk).size(), spec->response);
                continue;
            }
            const Bytes a = c.exchange(spec->code, table_request(*spec));
            QVERIFY2(!a.empty(), spec->name);
            QCOMPARE(wire::code_of(a), static_cast<std::uint16_t>(spec->code + 1000));
            QCOMPARE(wire::status_of(a), std::uint8_t{0});
            const std::size_t want =
                spec->code == 8007 ? sim::Instrument::kSerialSize : spec->response;
            if (wire::payload_of(a).size() != want)
                QFAIL(spec->name);
            if (spec->code == 8021 || spec->code == 8400) { // restart, power off
                QVERIFY(wire::hung_up(c.fd()));
                c.reconnect();
                QVERIFY(c.valid());
            }
        }

        // One byte too many, or too few, is refused with the length status.
        // A refused restart keeps the link.
        for (const sim::CommandSpec* spec : all) {
            if (spec->code == 8007)
                continue;
            Bytes longer = table_request(*spec);
            longer.push_back(0);
            const Bytes a = c.exchange(spec->code, longer);
            QCOMPARE(wire::code_of(a), static_cast<std::uint16_t>(spec->code + 1000));
            if (wire::status_of(a) != sim::refusal::bad_length)
                QFAIL(spec->name);
            QVERIFY(wire::payload_of(a).empty());
            if (spec->request > 0 && spec->code != 8102) {
                const Bytes shorter(spec->request - 1, 0);
                QCOMPARE(wire::status_of(c.exchange(spec->code, shorter)),
                         sim::refusal::bad_length);
            }
        }
        // The flash write takes a part of a page, but not a bare page number.
        QCOMPARE(wire::status_of(c.exchange(8102, {1, 0, 0xaa})), std::uint8_t{0});
        QCOMPARE(wire::status_of(c.exchange(8102, {1, 0})), sim::refusal::bad_length);
    }

    void m17FamilyAnswersItsOwnTable()
    {
        sim::SimOptions o = session::loopback_options();
        o.family = "M17";
        sim::Simulator s(o);
        s.start();
        QCOMPARE(s.instruments()[0].serial, std::string("Z1700001"));
        Client c(s.instruments()[0].port);
        for (const sim::CommandSpec& spec : sim::kM17Commands) {
            const Bytes a = c.exchange(spec.code, Bytes(spec.request, 0));
            QCOMPARE(wire::code_of(a), static_cast<std::uint16_t>(spec.code + 1000));
            // An all-zero serial and a zero clock record are refused values.
            if (spec.code == 8104 || spec.code == 8003) {
                QCOMPARE(wire::status_of(a), sim::refusal::bad_argument);
                continue;
            }
            QCOMPARE(wire::status_of(a), std::uint8_t{0});
            QCOMPARE(wire::payload_of(a).size(), spec.response);
            if (spec.code == 8021) {
                QVERIFY(wire::hung_up(c.fd()));
                c.reconnect();
            }
        }
        const Bytes version = wire::payload_of(c.exchange(8001));
        QCOMPARE(std::string(reinterpret_cast<const char*>(version.data())), std::string("2.14.3"));
        // Not an M30: the M30-only commands stay unanswered, so the next
        // answer on the link is the one after them.
        QVERIFY(wire::write_all(c.fd(), wire::frame(8203)));
        QCOMPARE(wire::code_of(c.exchange(8008)), std::uint16_t{9008});
    }

    void m17SetThenGet()
    {
        sim::Simulator s(session::loopback_options());
        s.start();
        Client c(s.instruments()[0].port);
        const sim::Model& model = *s.instruments()[0].model;

        QCOMPARE(wire::payload_of(c.exchange(8007, {}, 100)),
                 (Bytes{'C', '3', '0', '0', '0', '0', '0', '1'}));
        QCOMPARE(wire::status_of(c.exchange(8104, {'C', '9', '9', 0, 0, 0, 0, 0})),
                 std::uint8_t{0});
        QCOMPARE(wire::payload_of(c.exchange(8007, {}, 100)),
                 (Bytes{'C', '9', '9', 0, 0, 0, 0, 0}));

        // The clock keeps an offset: a date in the past reads back as set.
        QCOMPARE(wire::status_of(c.exchange(8003, clock_record(2020, 2, 29, 23, 59, 30))),
                 std::uint8_t{0});
        QVERIFY(model.clock_offset() < -86400);
        const Bytes now = wire::payload_of(c.exchange(8002));
        QCOMPARE(now.size(), std::size_t{24});
        QCOMPARE(session::u32(now, 0), 2020u);
        std::tm tm{};
        tm.tm_year = 120;
        tm.tm_mon = 1;
        tm.tm_mday = 29;
        tm.tm_hour = 23;
        tm.tm_min = 59;
        tm.tm_sec = 30;
        std::tm got{};
        got.tm_year = static_cast<int>(session::u32(now, 0)) - 1900;
        got.tm_mon = static_cast<int>(session::u32(now, 4)) - 1;
        got.tm_mday = static_cast<int>(session::u32(now, 8));
        got.tm_hour = static_cast<int>(session::u32(now, 12));
        got.tm_min = static_cast<int>(session::u32(now, 16));
        got.tm_sec = static_cast<int>(session::u32(now, 20));
        const double ahead = std::difftime(timegm(&got), timegm(&tm));
        QVERIFY(ahead >= 0 && ahead <= 60); // the set moment plus the test's own time
        // 31 April, month 13 and second 60 are refused; the offset stays.
        const std::int64_t offset = model.clock_offset();
        QCOMPARE(wire::status_of(c.exchange(8003, clock_record(2024, 4, 31, 0, 0, 0))),
                 sim::refusal::bad_argument);
        QCOMPARE(wire::status_of(c.exchange(8003, clock_record(2024, 13, 1, 0, 0, 0))),
                 sim::refusal::bad_argument);
        QCOMPARE(wire::status_of(c.exchange(8003, clock_record(2024, 1, 1, 0, 0, 60))),
                 sim::refusal::bad_argument);
        QCOMPARE(model.clock_offset(), offset);

        QCOMPARE(wire::status_of(c.exchange(8105, {1, 2, 3, 4})), std::uint8_t{0});
        QCOMPARE(wire::payload_of(c.exchange(8008)), (Bytes{1, 2, 3, 4}));

        // Flash: erased pages read 0xFF; a write lands in its page only.
        const Bytes erased = c.exchange(8100, {}, 60000);
        QCOMPARE(wire::status_of(erased), std::uint8_t{0});
        QCOMPARE(erased[8] | (erased[9] << 8), static_cast<int>(sim::kFlashPages));
        Bytes page = {0xff, 0x0f}; // page 4095
        for (int i = 0; i < 64; ++i)
            page.push_back(static_cast<std::uint8_t>(i * 3));
        QCOMPARE(wire::status_of(c.exchange(8102, page)), std::uint8_t{0});
        QCOMPARE(wire::payload_of(c.exchange(8101, {0xff, 0x0f})),
                 Bytes(page.begin() + 2, page.end()));
        QCOMPARE(wire::payload_of(c.exchange(8101, {0xfe, 0x0f})), Bytes(64, 0xff));
        QCOMPARE(wire::status_of(c.exchange(8101, {0x00, 0x10})),
                 sim::refusal::bad_argument); // 4096
        QCOMPARE(wire::status_of(c.exchange(8101, {0xff, 0xff})), sim::refusal::bad_argument); // -1
        QCOMPARE(wire::status_of(c.exchange(8102, {0x00, 0x10, 1})), sim::refusal::bad_argument);
        QCOMPARE(wire::status_of(c.exchange(8100, {}, 60000)), std::uint8_t{0});
        QCOMPARE(wire::payload_of(c.exchange(8101, {0xff, 0x0f})), Bytes(64, 0xff));

        QCOMPARE(wire::status_of(c.exchange(8103, session::words({1, 77}))), std::uint8_t{0});
        QCOMPARE(wire::status_of(c.exchange(8103, session::words({2, 77}))),
                 sim::refusal::bad_argument);

        // Restart answers, closes, and the next client is served.
        QCOMPARE(wire::code_of(c.exchange(8021)), std::uint16_t{9021});
        QVERIFY(wire::hung_up(c.fd()));
        c.reconnect();
        QCOMPARE(wire::code_of(c.exchange(8007, {}, 100)), std::uint16_t{9007});
    }

    void m30SetThenGet()
    {
        sim::Simulator s(session::loopback_options());
        s.start();
        Client c(s.instruments()[0].port);
        const sim::Model& model = *s.instruments()[0].model;

        struct Pair
        {
            std::uint16_t set, get;
            Bytes get_request;
        };
        const Pair pairs[] = {
            {8205, 8204, {}},          {8016, 8015, {}},           {8018, 8017, {}},
            {8301, 8302, {}},          {8202, 8201, {}},           {8481, 8480, Bytes(4, 0)},
            {8561, 8560, Bytes(4, 0)}, {8349, 8346, Bytes(16, 0)}, {8352, 8353, Bytes(22, 0)}};
        for (const Pair& p : pairs) {
            const std::size_t size = sim::find_m30_command(p.set)->request;
            Bytes value(size);
            for (std::size_t i = 0; i < size; ++i)
                value[i] = static_cast<std::uint8_t>(p.set + i * 13);
            QVERIFY(wire::payload_of(c.exchange(p.get, p.get_request)) != value);
            QCOMPARE(wire::status_of(c.exchange(p.set, value)), std::uint8_t{0});
            QCOMPARE(wire::payload_of(c.exchange(p.get, p.get_request)), value);
            QCOMPARE(model.stored(p.get), value);
        }
        // Default parameters replace what was set.
        const Bytes set = wire::payload_of(c.exchange(8201));
        QCOMPARE(wire::status_of(c.exchange(8220)), std::uint8_t{0});
        const Bytes defaults = wire::payload_of(c.exchange(8201));
        QVERIFY(defaults != set);
        QCOMPARE(defaults.size(), std::size_t{1398});
        QCOMPARE(session::u32(defaults, 16), 60u); // points a record

        // The date-time record is the clock record of the service set.
        QCOMPARE(wire::status_of(c.exchange(8003, clock_record(2031, 7, 1, 12, 0, 0))),
                 std::uint8_t{0});
        QCOMPARE(session::u32(wire::payload_of(c.exchange(8002)), 0), 2031u);
        // The status record reports the records stored and the serial.
        const Bytes status = wire::payload_of(c.exchange(8203));
        QCOMPARE(session::u32(status, 60), 300u);
        QCOMPARE(std::string(reinterpret_cast<const char*>(status.data() + 64)),
                 std::string("C3000001"));
        // The versions record leads with the model and firmware texts.
        const Bytes versions = wire::payload_of(c.exchange(8001));
        QCOMPARE(std::string(reinterpret_cast<const char*>(versions.data())), std::string("M30"));
        QCOMPARE(std::string(reinterpret_cast<const char*>(versions.data() + 32)),
                 std::string("2.14.3"));
    }
};

QTEST_GUILESS_MAIN(TestSimCommands)
#include "test_sim_commands.moc"
