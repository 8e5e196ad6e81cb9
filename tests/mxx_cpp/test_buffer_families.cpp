// M24's numbered data-buffer items and M32's commands and files, against
// simulated instruments of each.
#include "instrument_session.h"

#include <m24_protocol.h>
#include <m32_protocol.h>
#include <mxx_bytes.h>
#include <sim/commands.h>

#include <QSignalSpy>
#include <QTest>

#include <cstring>

using testing::InstrumentSession;

class TestBufferFamilies : public QObject
{
    Q_OBJECT

    std::unique_ptr<InstrumentSession> s24, s32;
    std::shared_ptr<M24Protocol> m24 = std::make_shared<M24Protocol>();
    std::shared_ptr<M32Protocol> m32 = std::make_shared<M32Protocol>();

    std::vector<sim::Frame> requests(InstrumentSession& s, uint16_t code)
    {
        return testing::requestsOf(*s.instrument(), code);
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0);
        s24 = std::make_unique<InstrumentSession>(testing::familyOptions("M24"));
        QVERIFY(s24->connectDevice());
        QCOMPARE(s24->device.type(), m24->type());
        QVERIFY(s24->device.registerProtocol(m24));
        s32 = std::make_unique<InstrumentSession>(testing::familyOptions("M32"));
        QVERIFY(s32->connectDevice());
        QCOMPARE(s32->device.type(), m32->type());
        QVERIFY(s32->device.registerProtocol(m32));
    }

    void cleanupTestCase()
    {
        s24.reset();
        s32.reset();
        MXX_shut();
    }

    void m24Items()
    {
        M24_test_data block;
        for (int i = 0; i < 24; ++i)
            block.bytes[i] = static_cast<uint8_t>(i + 1);
        QVERIFY(m24->test(block));
        QCOMPARE(block.bytes[23], uint8_t(24));

        M24_status status;
        QVERIFY(m24->getStatus(status));
        QCOMPARE(M24Protocol::getModelName(int(MXX_get_u32(status.bytes))),
                 QStringLiteral("M24 MCA-Plus"));
        const auto load = requests(*s24, sim::m24::data_buff_op).back();
        QCOMPARE(MXX_get_u32(load.payload.data()), uint32_t(M24_ITEM_STATUS));
        QCOMPARE(load.param, uint16_t(3000));

        // Parameters written as item 3 come back as item 2.
        M24_params params;
        for (std::size_t i = 0; i < sizeof params.bytes; ++i)
            params.bytes[i] = static_cast<uint8_t>(255 - i);
        QVERIFY(m24->setParams(params));
        const auto store = requests(*s24, sim::m24::data_buff_op).back();
        QCOMPARE(MXX_get_u32(store.payload.data()), uint32_t(M24_ITEM_PARAMS_WRITE));
        QCOMPARE(MXX_get_u32(store.payload.data() + 12), uint32_t(sizeof params.bytes));
        M24_params back;
        QVERIFY(m24->getParams(back));
        QCOMPARE(std::memcmp(back.bytes, params.bytes, sizeof params.bytes), 0);
        M24_mca_params mca;
        QVERIFY(m24->getMcaParams(mca));
        QCOMPARE(MXX_get_u32(mca.bytes), 1024u);

        // Memory over several chunks of the buffer, both ways.
        QByteArray memory;
        QVERIFY(m24->readMemory(1000, 3000, memory));
        QCOMPARE(memory.size(), 3000);
        const sim::Bytes expected = s24->sim.instruments()[0].set.items->memory(1000, 3000);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(expected.data()), 3000), memory);
        QByteArray written(2500, 'x');
        QVERIFY(m24->writeMemory(40000, written));
        // One chunk for the parameters, three of at most 1024 bytes for these.
        QCOMPARE(requests(*s24, sim::m24::data_buff_write).size(), std::size_t(1 + 3));
        QVERIFY(m24->readMemory(40000, 2500, memory));
        QCOMPARE(memory, written);
        // Beyond the memory: refused, the output as it was.
        QVERIFY(!m24->readMemory(65000, 3000, memory));
        QCOMPARE(memory, written);
        // An item shorter than its record fails and leaves the record alone.
        s24->instrument()->set_rule(sim::m24::data_buff_op,
                                    sim::Rule::reply(session::words({10, 1024})));
        status.bytes[0] = 0x42;
        QVERIFY(!m24->getStatus(status));
        QCOMPARE(status.bytes[0], uint8_t(0x42));
        s24->sim.instruments()[0].set.items->install(*s24->instrument(),
                                                     s24->sim.instruments()[0].set.items);
    }

    void m24SpectrumEvent()
    {
        QSignalSpy spectra(m24.get(), &M24Protocol::spectrumData);
        s24->sim.server().push(*s24->instrument(), s24->sim.instruments()[0].set.tick(5));
        sim::Bytes shortSpectrum(20, 0);
        MXX_put_u32(shortSpectrum.data(), 1024);
        s24->sim.server().push(*s24->instrument(), {sim::Frame{8601, 0, 0, shortSpectrum}});
        QTRY_COMPARE_WITH_TIMEOUT(spectra.count(), 2, 3000);
        auto first = spectra[0][0].value<std::shared_ptr<M24_mca_spect>>();
        QCOMPARE(MXX_get_u32(first->bytes), 1024u);
        QCOMPARE(MXX_get_u32(first->bytes + 12), 5u);
        auto cut = spectra[1][0].value<std::shared_ptr<M24_mca_spect>>();
        QCOMPARE(cut->bytes[19], uint8_t(0));
        QCOMPARE(cut->bytes[sizeof cut->bytes - 1], uint8_t(0));
    }

    void theSimulatorsStream()
    {
        sim::SimOptions o = testing::familyOptions("M24");
        o.events_hz = 100;
        InstrumentSession streaming(o);
        auto protocol = std::make_shared<M24Protocol>();
        QVERIFY(streaming.connectDevice());
        QVERIFY(streaming.device.registerProtocol(protocol));
        QSignalSpy spectra(protocol.get(), &M24Protocol::spectrumData);
        QTRY_VERIFY_WITH_TIMEOUT(spectra.count() >= 2, 5000);
        QVERIFY(MXX_get_u32(spectra[1][0].value<std::shared_ptr<M24_mca_spect>>()->bytes + 12) >
                MXX_get_u32(spectra[0][0].value<std::shared_ptr<M24_mca_spect>>()->bytes + 12));
    }

    void m32CommandsAndFiles()
    {
        M32_params params;
        params.bytes[251] = 9;
        QVERIFY(m32->setParams(params));
        QCOMPARE(s32->instrument()->last_request(sim::m32::set_params)->param, uint16_t(3000));
        M32_params back;
        QVERIFY(m32->getParams(back));
        QCOMPARE(back.bytes[251], uint8_t(9));
        QVERIFY(m32->deleteRecords(3, 8));
        QCOMPARE(s32->instrument()->last_request(sim::m32::delete_records)->payload,
                 (sim::Bytes{3, 0, 0, 0, 8, 0, 0, 0}));
        QVERIFY(!m32->deleteRecords(8, 3));

        // The head information hands out the answer's status byte.
        M32_head_info info;
        info.bytes[17] = 4;
        int status = -1;
        QVERIFY(m32->setHeadInfo(info, status));
        QCOMPARE(status, 0);
        M32_head_info read;
        QVERIFY(m32->getHeadInfo(read, status));
        QCOMPARE(read.bytes[17], uint8_t(4));
        s32->instrument()->set_rule(sim::m32::get_head_info, sim::Rule::reply({}, 6));
        QVERIFY(!m32->getHeadInfo(read, status));
        QCOMPARE(status, 6);
        s32->instrument()->clear_rule(sim::m32::get_head_info);

        // Files of the transfer.
        QVector<M32Protocol::Window> windows = {{10, 20}, {300, 420}};
        QVERIFY(m32->setIpWindows(windows));
        QVector<M32Protocol::Window> readWindows;
        QVERIFY(m32->getIpWindows(readWindows));
        QCOMPARE(readWindows.size(), 8);
        QCOMPARE(readWindows[1], M32Protocol::Window(300, 420));
        QCOMPARE(readWindows[2], M32Protocol::Window(0, 0));
        QVERIFY(!m32->setIpWindows(QVector<M32Protocol::Window>(9)));
        M32_head_params head;
        QVERIFY(m32->getHeadParams(head));
        head.bytes[395] = 0x55;
        QVERIFY(m32->setHeadParams(head));
        QCOMPARE(s32->sim.instruments()[0].set.files->get("log/head_params")->at(395),
                 uint8_t(0x55));
        M32_conc_lut lut;
        QVERIFY(m32->getConcLut(lut));
        M32_log_info log;
        QVERIFY(m32->getLogInfo(log));
        QCOMPARE(MXX_get_u32(log.bytes), 120u);

        quint32 card = 0;
        QVERIFY(m32->getSdRawSize(card));
        QCOMPARE(card, 64u * 512);
        QByteArray sector;
        QVERIFY(m32->readSdSector(17, sector));
        QCOMPARE(sector.size(), 512);
        QCOMPARE(MXX_get_u32(sector.constData()), 17u);
        const auto load = *s32->instrument()->last_request(sim::m23::data_buff_op);
        QCOMPARE(MXX_get_u32(load.payload.data() + 28), 17u); // the sector is argument 1
        QVERIFY(!m32->readSdSector(64, sector));
        QCOMPARE(MXX_get_u32(sector.constData()), 17u);
    }
};

QTEST_GUILESS_MAIN(TestBufferFamilies)
#include "test_buffer_families.moc"
