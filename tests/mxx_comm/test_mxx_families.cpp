// The instrument families: each command table against the functions, codes
// and time-outs the family has, and identification of every family against
// the simulator posing as it.
#include "sim_link.h"

#include <m15_comm.h>
#include <m16_comm.h>
#include <m18_comm.h>
#include <m20_comm.h>
#include <m21_comm.h>
#include <m22_comm.h>
#include <m38_comm.h>
#include <mch_comm.h>
#include <mxx_families.h>

#include <sim/families.h>
#include <sim/simulator.h>

#include <QtTest>

#include <set>

using namespace testing;

namespace {

struct Table
{
    const char* family;
    const MXX_command* commands;
    int count;
    int functions; // the family's number of command functions
    int lowest, highest;
    std::set<int> timeouts;
    std::set<int> events; // codes the family's instruments send unasked
};

const Table kTables[] = {
    {"M15", M15_commands, M15_command_count, 20, 1001, 1118, {1000}, {2020, 2030, 2105}},
    {"M16", M16_commands, M16_command_count, 28, 1001, 1057, {1000, 10000, 20000}, {2020, 2031}},
    {"M18", M18_commands, M18_command_count, 27, 8004, 8033, {2000, 5000, 50000}, {}},
    {"M20", M20_commands, M20_command_count, 18, 8008, 8212, {2000, 5000}, {9302}},
    {"M21", M21_commands, M21_command_count, 14, 8016, 8213, {800, 300000}, {9302}},
    {"M22", M22_commands, M22_command_count, 13, 8301, 8314, {1000, 3000, 30000}, {8350}},
    {"M38", M38_commands, M38_command_count, 19, 8011, 8203, {1000, 2000}, {9000, 9001}},
    {"MCH", MCH_commands, MCH_command_count, 1, 48878, 48878, {1000}, {48878}},
};

sim::SimOptions posing_as(const char* family)
{
    sim::SimOptions o;
    o.listen_port = 0;
    o.discovery = false;
    o.events_hz = 0;
    o.records = 1;
    o.family = family;
    return o;
}

} // namespace

class TestMxxFamilies : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(MXX_init(nullptr, noUsbChange, nullptr), 0); }
    void cleanupTestCase() { QCOMPARE(MXX_shut(), 0); }

    void everyTableHasTheFamilysFunctionsCodesAndTimeouts()
    {
        for (const Table& t : kTables) {
            QVERIFY2(t.count == t.functions, t.family);
            std::set<int> codes, timeouts;
            for (int i = 0; i < t.count; ++i) {
                const MXX_command& c = t.commands[i];
                const QByteArray where = QByteArray(t.family) + "_" + c.name;
                QVERIFY2(c.code >= t.lowest && c.code <= t.highest, where);
                QVERIFY2(codes.insert(c.code).second, where + ": code used twice");
                // An answer carrying an event's code would be taken for the event.
                QVERIFY2(!t.events.count(c.code + MXX_CODE_ANSWER_OFFSET), where);
                timeouts.insert(c.timeout_ms);
            }
            QVERIFY2(timeouts == t.timeouts, t.family);
        }
        // M15's and M16's identification queries are commands of their sets.
        QCOMPARE(M15_commands[M15_command_count - 2].code, uint16_t(1109));
        QCOMPARE(M16_commands[0].code, uint16_t(1001));
    }

    // Every family identification walks, against an instrument posing as it:
    // its type id, and the attempt count its test leaves on the connection.
    void identifiesEveryFamily()
    {
        const struct
        {
            const char* family;
            int type, tries;
        } families[] = {
            {"M48", 72, 1}, {"M38", 16, 3}, {"M36", 15, 3}, {"M34", 14, 3},
            {"M32", 13, 3}, {"M30", 12, 3}, {"M28", 11, 3}, {"M26", 9, 6},
            {"M24", 8, 3},  {"M22", 6, 3},  {"M21", 10, 3}, {"M20", 5, 3},
            {"M18", 4, 3},  {"M17", 3, 3},  {"M16", 2, 3},  {"M15", 1, 3},
        };
        int walked = 0;
        for (int i = 0; i < MXX_family_count; ++i)
            walked += MXX_families[i].in_mdd_walk;
        QCOMPARE(int(std::size(families)), walked);

        for (const auto& f : families) {
            sim::Simulator s(posing_as(f.family));
            s.start();
            Events events;
            int conn = -1;
            QCOMPARE(openLink(tcpString(s.instruments()[0].port), events, &conn), 0);
            QVERIFY2(events.waitFor(1), f.family);
            QVERIFY2(events.deviceType() == f.type, f.family);
            QVERIFY2(numTry(conn) == f.tries, f.family);
            QVERIFY(closeAndWait(conn, events));
        }
    }

    // Each family has one type id and one name, and the lookups, the
    // identification table and the simulator agree on them. The command
    // sets have names and ids too, but identification never reports them.
    void everyFamilyIsNamedOnce()
    {
        std::set<int> ids;
        for (int i = 0; i < MXX_family_count; ++i) {
            const MXX_family& f = MXX_families[i];
            QVERIFY2(ids.insert(f.type_id).second, f.name);
            QCOMPARE(QByteArray(MXX_family_name(f.type_id)), QByteArray(f.name));
            QCOMPARE(MXX_family_of(f.type_id), &f);
            const sim::FamilyInfo* posed = sim::find_family(f.name);
            QVERIFY2(posed && posed->type == f.type_id, f.name);
        }
        QCOMPARE(int(MXX_TYPE_M30), 12);
        QCOMPARE(int(MXX_TYPE_M48), 72);
        for (int set : {int(MXX_TYPE_M23), int(MXX_TYPE_MCH)}) {
            QVERIFY(!ids.count(set));
            QVERIFY(MXX_family_name(set));
            QVERIFY(!MXX_family_of(set));
            QVERIFY(!sim::find_family(MXX_family_name(set)));
        }
        QCOMPARE(QByteArray(MXX_family_name(MXX_TYPE_MCH)), QByteArray("MCH"));
        QVERIFY(!MXX_family_name(MXX_TYPE_NONE));
        QVERIFY(!MXX_family_name(99));
        QCOMPARE(sim::family_type("m28"), int(MXX_TYPE_M28));
        QCOMPARE(sim::family_type("M23"), int(MXX_TYPE_NONE));
    }

    // MVD is not in that walk: its own probe and test find it.
    void identifiesMvdByItsOwnProbe()
    {
        sim::Simulator s(posing_as("MVD"));
        s.start();
        Events events;
        int conn = -1;
        QCOMPARE(MXX_connect(tcpString(s.instruments()[0].port).constData(), &conn,
                             Events::connected, Events::error, Events::closed, MVD_probe,
                             MVD_test_probe, &events),
                 0);
        QVERIFY(events.waitFor(1));
        QCOMPARE(events.deviceType(), 255);
        QVERIFY(closeAndWait(conn, events));
    }
};

QTEST_GUILESS_MAIN(TestMxxFamilies)
#include "test_mxx_families.moc"
