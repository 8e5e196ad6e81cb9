#include "instrument_session.h"

#include <mxx_bytes.h>

#include <QTest>

#include <cstring>
#include <vector>

using testing::InstrumentSession;

namespace {

sim::SimOptions options(std::size_t records, std::size_t chunk = sim::kMaxChunk)
{
    sim::SimOptions o = session::loopback_options();
    o.records = records;
    o.chunk = chunk;
    return o;
}

// A chunk answer of `n` in its head and `carried` item bytes behind it.
sim::Rule chunkAnswer(uint32_t n, std::size_t carried)
{
    sim::Bytes b(8 + carried, 0x11);
    MXX_put_u32(b.data(), n);
    MXX_put_u32(b.data() + 4, 0);
    return sim::Rule::reply(b);
}

} // namespace

class TestTxBuff : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0); }
    void cleanupTestCase() { MXX_shut(); }

    void downloadsTheIndexListAndRecords()
    {
        InstrumentSession s(options(700, 1000));
        QVERIFY(s.connect());
        std::vector<uint32_t> indices(10000, 0);
        int count = -1, r2 = -1, r3 = -1, total = -1;
        QVERIFY(s.m30->txBuffDownload(1, 0, 1, 10000, 0, 0, &count, &r2, &r3,
                                      reinterpret_cast<char*>(indices.data()), &total));
        const auto& records = s.store().records();
        QCOMPARE(count, int(records.size()));
        QCOMPARE(total, 4 * count);
        QCOMPARE(r2, 4 * count);
        QCOMPARE(r3, int(records.size()));
        for (int i = 0; i < count; ++i)
            QCOMPARE(indices[std::size_t(i)], records[std::size_t(i)].index);
        // 2800 bytes in chunks of 1000: three chunks and the empty one.
        QCOMPARE(s.instrument()->count(8412), std::size_t(4));

        const sim::SurveyRecord& last = records.back();
        char record[M30_SURVEY_RECORD_SIZE];
        int one = 0;
        QVERIFY(s.m30->txBuffDownload(3, 0, int(last.index), 1, 0, 0, &one, nullptr, &r3, record,
                                      &total));
        QCOMPARE(total, M30_SURVEY_RECORD_SIZE);
        QCOMPARE(r3, int(last.time));
        const sim::Bytes expected = sim::SurveyStore::encode(last);
        QCOMPARE(QByteArray(record, M30_SURVEY_RECORD_SIZE),
                 QByteArray(reinterpret_cast<const char*>(expected.data()), int(expected.size())));
    }

    void chunkRequestsCarryOffsetHandleAndSelector()
    {
        InstrumentSession s(options(3, 100));
        QVERIFY(s.connect());
        const uint32_t index = s.store().records()[1].index;
        s.instrument()->clear_log();
        char record[M30_SURVEY_RECORD_SIZE];
        QVERIFY(s.m30->txBuffDownload(3, 5, int(index), 1, 0, 0, nullptr, nullptr, nullptr, record,
                                      nullptr));
        std::vector<sim::Frame> chunks;
        for (const sim::Frame& f : s.instrument()->received())
            if (f.code == 8412)
                chunks.push_back(f);
        QCOMPARE(chunks.size(), std::size_t(36)); // 34 of 100, one of 36, one empty
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const uint8_t* p = chunks[i].payload.data();
            QCOMPARE(MXX_get_u32(p), uint32_t(std::min<std::size_t>(100 * i, 3436)));
            QCOMPARE(MXX_get_u32(p + 4), s.sim.instruments()[0].model->handle());
            QCOMPARE(MXX_get_u32(p + 8), 5u);
        }
        const sim::Frame prepare = *s.instrument()->last_request(8411);
        QCOMPARE(prepare.payload.size(), std::size_t(68));
        QCOMPARE(MXX_get_u32(prepare.payload.data() + 4), 5u);
        QCOMPARE(MXX_get_u32(prepare.payload.data() + 8), index);
    }

    void emptyStoreAndRefusals()
    {
        InstrumentSession s(options(0));
        QVERIFY(s.connect());
        char data[16];
        std::memset(data, 0xAA, sizeof data);
        int count = -1, total = -1;
        QVERIFY(s.m30->txBuffDownload(1, 0, 1, 4, 0, 0, &count, nullptr, nullptr, data, &total));
        QCOMPARE(count, 0);
        QCOMPARE(total, 0);
        QCOMPARE(data[0], char(0xAA));

        // Info failing: the outputs read 0 and prepare is never sent.
        sim::Faults f;
        f.fail = 8410;
        s.instrument()->set_faults(f);
        int r2 = -1, r3 = -1;
        count = -1;
        QVERIFY(!s.m30->txBuffDownload(1, 0, 1, 4, 0, 0, &count, &r2, &r3, data, nullptr));
        QCOMPARE(count, 0);
        QCOMPARE(r2, 0);
        QCOMPARE(r3, 0);
        QCOMPARE(s.instrument()->count(8411), std::size_t(1)); // only the first download's
        s.instrument()->set_faults({});

        // A record the instrument does not have: prepare refused.
        count = -1;
        QVERIFY(
            !s.m30->txBuffDownload(3, 0, 12345, 1, 0, 0, &count, nullptr, nullptr, data, nullptr));
        QCOMPARE(count, 0);
    }

    void hostileChunksNeverOverrun()
    {
        InstrumentSession s(options(2));
        QVERIFY(s.connect());
        const int index = int(s.store().records()[0].index);
        std::vector<char> buffer(M30_SURVEY_RECORD_SIZE + 64, char(0x5A));
        auto download = [&](int capacity) {
            return s.m30->txBuffDownload(3, 0, index, 1, 0, 0, nullptr, nullptr, nullptr,
                                         buffer.data(), capacity, nullptr);
        };
        auto untouchedFrom = [&](std::size_t at) {
            for (std::size_t i = at; i < buffer.size(); ++i)
                if (buffer[i] != char(0x5A))
                    return false;
            return true;
        };

        // n above what one chunk may carry, and n above what this one carries.
        s.instrument()->set_rule(8412, chunkAnswer(9000, 8170));
        QVERIFY(!download(M30_SURVEY_RECORD_SIZE));
        QVERIFY(untouchedFrom(0));
        s.instrument()->set_rule(8412, chunkAnswer(100, 50));
        QVERIFY(!download(M30_SURVEY_RECORD_SIZE));
        QVERIFY(untouchedFrom(0));
        // An endless item stops at the destination's end, and nothing is written past it.
        s.instrument()->set_rule(8412, chunkAnswer(1000, 1000));
        QVERIFY(!download(M30_SURVEY_RECORD_SIZE));
        QVERIFY(untouchedFrom(M30_SURVEY_RECORD_SIZE - M30_SURVEY_RECORD_SIZE % 1000));
        // The form without a capacity takes one record's room for a record.
        std::fill(buffer.begin(), buffer.end(), char(0x5A));
        QVERIFY(!s.m30->txBuffDownload(3, 0, index, 1, 0, 0, nullptr, nullptr, nullptr,
                                       buffer.data(), nullptr));
        QVERIFY(untouchedFrom(M30_SURVEY_RECORD_SIZE));
        // A chunk too long for the command layer to take ends the item.
        s.instrument()->set_rule(8412, chunkAnswer(16, 8200));
        int total = -1;
        QVERIFY(s.m30->txBuffDownload(3, 0, index, 1, 0, 0, nullptr, nullptr, nullptr,
                                      buffer.data(), M30_SURVEY_RECORD_SIZE, &total));
        QCOMPARE(total, 0);
        // A chunk request that fails ends the download with false.
        s.instrument()->set_rule(8412, sim::Rule::fail(3));
        QVERIFY(!download(M30_SURVEY_RECORD_SIZE));
    }
};

QTEST_GUILESS_MAIN(TestTxBuff)
#include "test_tx_buff.moc"
