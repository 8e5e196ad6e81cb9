// The M23 data-buffer file transfer through the command layer, against a
// simulated instrument keeping files (an M26): chunked reads and writes,
// lengths cut at the file and at the destination, failed chunks and refusals.
#include "instrument_session.h"

#include <m23_comm.h>
#include <mxx_bytes.h>
#include <sim/commands.h>

#include <QTest>

#include <cstring>
#include <vector>

using testing::InstrumentSession;

namespace {

sim::Bytes pattern(std::size_t n, std::uint8_t seed)
{
    sim::Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 13 + (i >> 8));
    return b;
}

// An operation answer of 28 bytes with `at` holding `value`.
sim::Rule opAnswer(std::size_t at, std::uint32_t value, std::size_t at2 = 0,
                   std::uint32_t value2 = 0)
{
    sim::Bytes b(28, 0);
    MXX_put_u32(b.data() + at, value);
    if (at2)
        MXX_put_u32(b.data() + at2, value2);
    return sim::Rule::reply(b);
}

} // namespace

class TestM23Transfer : public QObject
{
    Q_OBJECT

    std::unique_ptr<InstrumentSession> s;
    int conn = -1;

    sim::Instrument& instrument() { return *s->instrument(); }
    sim::FileStore& files() { return *s->sim.instruments()[0].set.files; }

    std::vector<sim::Frame> requests(std::uint16_t code)
    {
        return testing::requestsOf(instrument(), code);
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0);
        s = std::make_unique<InstrumentSession>(testing::familyOptions("M26"));
        QVERIFY(s->connectDevice());
        QCOMPARE(s->device.type(), 9);
        conn = s->device.connId();
    }

    void init()
    {
        s->restoreRules();
        s->sim.instruments()[0].set.files->install(instrument(), s->sim.instruments()[0].set.files);
        instrument().clear_log();
    }

    void cleanupTestCase()
    {
        s.reset();
        MXX_shut();
    }

    void readsInChunksUpToTheFileSize()
    {
        const sim::Bytes file = pattern(5000, 1);
        files().put("test/long", file);
        std::vector<uint8_t> dest(8000, 0xEE);
        uint32_t got = 0;
        QCOMPARE(M23_file_read(conn, "test/long", dest.data(), 8000, 7, 9, 0, &got, 1000, 1), 0);
        QCOMPARE(got, 5000u);
        QVERIFY(std::equal(file.begin(), file.end(), dest.begin()));
        QCOMPARE(dest[5000], uint8_t(0xEE)); // the file ended there
        const auto load = requests(sim::m23::data_buff_op);
        QCOMPARE(load.size(), std::size_t(1));
        QCOMPARE(MXX_get_u32(load[0].payload.data()), uint32_t(M23_OP_LOAD));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(load[0].payload.data() + 4)),
                 QByteArray("test/long"));
        QCOMPARE(MXX_get_u32(load[0].payload.data() + 28), 7u);
        QCOMPARE(MXX_get_u32(load[0].payload.data() + 32), 9u);
        // The instrument's chunk of 1024: five chunks, each from where the last ended.
        const auto chunks = requests(sim::m23::file_read);
        QCOMPARE(chunks.size(), std::size_t(5));
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            QCOMPARE(MXX_get_u32(chunks[i].payload.data()), uint32_t(1024 * i));
            QCOMPARE(MXX_get_u32(chunks[i].payload.data() + 4), i < 4 ? 1024u : 904u);
        }

        // A destination shorter than the file, and a chunk limit of ours.
        instrument().clear_log();
        std::fill(dest.begin(), dest.end(), 0xEE);
        QCOMPARE(M23_file_read(conn, "test/long", dest.data(), 1000, 0, 0, 300, &got, 1000, 1), 0);
        QCOMPARE(got, 1000u);
        QVERIFY(std::equal(file.begin(), file.begin() + 1000, dest.begin()));
        QCOMPARE(dest[1000], uint8_t(0xEE));
        QCOMPARE(requests(sim::m23::file_read).size(), std::size_t(4)); // 300, 300, 300, 100
    }

    void aReadNeverWritesPastItsDestination()
    {
        // The instrument claims a huge file and answers more than asked.
        instrument().set_rule(sim::m23::data_buff_op, opAnswer(4, 1000000, 16, 60000));
        sim::Bytes flood(2000, 0x77);
        instrument().set_rule(sim::m23::file_read, sim::Rule::reply(flood));
        std::vector<uint8_t> dest(200, 0xEE);
        uint32_t got = 12345;
        QCOMPARE(M23_file_read(conn, "big", dest.data(), 100, 0, 0, 0, &got, 1000, 1), -1);
        QCOMPARE(got, 12345u);
        QCOMPARE(std::count(dest.begin(), dest.end(), 0xEE), 200L);
        // Asked for 100, the answer of 2000 was not taken.
        QCOMPARE(MXX_get_u32(requests(sim::m23::file_read).at(0).payload.data() + 4), 100u);

        // An empty chunk ends the read with failure instead of looping.
        instrument().set_rule(sim::m23::file_read, sim::Rule::reply({}));
        QCOMPARE(M23_file_read(conn, "big", dest.data(), 100, 0, 0, 0, &got, 1000, 1), -1);
    }

    void failedStepsReportTheirResults()
    {
        files().put("test/short", pattern(3000, 5));
        std::vector<uint8_t> dest(3000, 0);
        uint32_t got = 0;
        instrument().set_rule(sim::m23::file_read, sim::Rule::fail(3));
        QCOMPARE(M23_file_read(conn, "test/short", dest.data(), 3000, 0, 0, 0, &got, 1000, 1), 1);
        QCOMPARE(got, 0u);
        s->restoreRules();
        files().install(instrument(), s->sim.instruments()[0].set.files);

        // A missing file: the operation's status byte is the result.
        QCOMPARE(M23_file_read(conn, "no/such", dest.data(), 10, 0, 0, 0, &got, 1000, 1),
                 int(sim::refusal::no_file));
        uint32_t size = 0;
        QCOMPARE(M23_file_info(conn, "test/short", &size, 1), 0);
        QCOMPARE(size, 3000u);
        // A failure frame of status 0 is no success; silence is no answer.
        instrument().set_rule(sim::m23::data_buff_op, sim::Rule::fail(0));
        QCOMPARE(M23_data_buff_op(conn, M23_OP_FILE_INFO, "test/short", 0, 0, nullptr, 500, 1),
                 M23_OP_NO_ANSWER);
        instrument().set_rule(sim::m23::data_buff_op, sim::Rule::silence());
        QCOMPARE(M23_data_buff_op(conn, M23_OP_FILE_INFO, "test/short", 0, 0, nullptr, 100, 1),
                 M23_OP_NO_ANSWER);
        // A path longer than its field is not cut into another file's name.
        const std::size_t before = instrument().total_received();
        QCOMPARE(M23_file_info(conn, "log/stab/a-longer-path", &size, 1), -1);
        QCOMPARE(instrument().total_received(), before);
    }

    void writesInChunksThenStores()
    {
        const sim::Bytes file = pattern(3000, 9);
        uint32_t stored = 0;
        QCOMPARE(
            M23_file_write(conn, "test/written", file.data(), 3000, 4, 5, 1000, &stored, 1000, 1),
            0);
        QCOMPARE(stored, 3000u); // operation 4's answer bytes 8-11
        QCOMPARE(files().get("test/written").value(), file);
        const auto ops = requests(sim::m23::data_buff_op);
        QCOMPARE(ops.size(), std::size_t(2));
        QCOMPARE(MXX_get_u32(ops[0].payload.data()), uint32_t(M23_OP_BUFFER_INFO));
        QCOMPARE(ops[0].param, uint16_t(250));
        QCOMPARE(MXX_get_u32(ops[1].payload.data()), uint32_t(M23_OP_STORE));
        QCOMPARE(MXX_get_u32(ops[1].payload.data() + 28), 4u);
        QCOMPARE(MXX_get_u32(ops[1].payload.data() + 32), 5u);
        const auto chunks = requests(sim::m23::file_write);
        QCOMPARE(chunks.size(), std::size_t(3));
        for (std::size_t i = 0; i < 3; ++i) {
            QCOMPARE(MXX_get_u32(chunks[i].payload.data()), uint32_t(1000 * i));
            QCOMPARE(MXX_get_u32(chunks[i].payload.data() + 4), 1000u);
        }
    }

    void writeRefusalsStoreNothing()
    {
        // Larger than the buffer: refused before any byte is written.
        const sim::Bytes big(sim::kBufferCapacity + 1, 1);
        QCOMPARE(M23_file_write(conn, "test/big", big.data(), uint32_t(big.size()), 0, 0, 0,
                                nullptr, 1000, 1),
                 -1);
        QCOMPARE(requests(sim::m23::file_write).size(), std::size_t(0));
        QVERIFY(!files().get("test/big"));

        // A failed chunk ends the write; the file is not stored.
        instrument().clear_log();
        instrument().set_rule(sim::m23::file_write, sim::Rule::fail(12));
        const sim::Bytes file = pattern(2000, 3);
        QCOMPARE(M23_file_write(conn, "test/failed", file.data(), 2000, 0, 0, 0, nullptr, 1000, 1),
                 1);
        QCOMPARE(requests(sim::m23::data_buff_op).size(), std::size_t(1)); // no store
        QVERIFY(!files().get("test/failed"));
    }
};

QTEST_GUILESS_MAIN(TestM23Transfer)
#include "test_m23_transfer.moc"
