#include "instrument_session.h"

#include <m17_comm.h>
#include <mxx_comm.h>

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

using testing::InstrumentSession;

class TestM17Protocol : public QObject
{
    Q_OBJECT

    std::unique_ptr<InstrumentSession> s;

private slots:
    void initTestCase()
    {
        QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0);
        s = std::make_unique<InstrumentSession>();
        QVERIFY(s->connect());
    }

    void cleanupTestCase()
    {
        s.reset();
        MXX_shut();
    }

    void bindState()
    {
        M17Protocol p;
        QVERIFY(!p.isBound());
        QVERIFY(!p.disconnectDevice());
        QSignalSpy spy(&p, &Protocol::bindStateChanged);
        p.bind(5, nullptr);
        QVERIFY(p.isBound());
        p.unbind();
        QVERIFY(!p.isBound());
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy[0][0].toBool(), true);
        QCOMPARE(spy[1][0].toBool(), false);
        QCOMPARE(p.type(), 3);
    }

    void serialShortAndOverlong()
    {
        auto serial = [this] { return testing::readSerial(*s->m17); };
        QCOMPARE(serial(), QString::fromStdString(s->sim.instruments()[0].serial));
        auto inst = s->instrument();
        inst->set_rule(8007, sim::Rule::reply({'C', '1', '2'}));
        QCOMPARE(serial(), QStringLiteral("C12"));
        // More than the 8-byte capacity: the exchange succeeds, nothing is taken.
        inst->set_rule(8007, sim::Rule::reply(sim::Bytes(9, 'D')));
        char text[9] = {};
        QTRY_COMPARE(M17_get_serial(s->device.connId(), text, 1), 0);
        QCOMPARE(text[0], char(0));
        QCOMPARE(s->m17->getSerial(), QString());
        inst->clear_rule(8007);
    }

    void setSerialCutsAtItsField()
    {
        auto inst = s->instrument();
        QVERIFY(s->m17->setSerial(QStringLiteral("C7654321XYZ")));
        QCOMPARE(inst->last_request(8104)->payload,
                 (sim::Bytes{'C', '7', '6', '5', '4', '3', '2', '1'}));
        QCOMPARE(testing::readSerial(*s->m17), QStringLiteral("C7654321"));
        QVERIFY(s->m17->setSerial(QStringLiteral("C1")));
        QCOMPARE(inst->last_request(8104)->payload, (sim::Bytes{'C', '1', 0, 0, 0, 0, 0, 0}));
        QVERIFY(s->m17->setSerial(QString::fromStdString(s->sim.instruments()[0].serial)));
    }

    void clockRoundTripAndSilence()
    {
        const QDateTime set(QDate(2026, 3, 14), QTime(15, 9, 26), Qt::UTC);
        QVERIFY(s->m17->setTime(set));
        QDateTime got;
        QVERIFY(s->m17->getTime(got));
        QVERIFY(qAbs(got.time().secsTo(set.time())) <= 2);
        QCOMPARE(got.date(), set.date());

        auto inst = s->instrument();
        inst->set_rule(8002, sim::Rule::silence());
        QDateTime untouched(QDate(2001, 2, 3), QTime(4, 5, 6));
        const QDateTime before = untouched;
        QVERIFY(!s->m17->getTime(untouched));
        QCOMPARE(untouched, before);
        s->restoreRules();
    }

    void modelRevisionByteOrder()
    {
        M17Protocol::Revision r;
        r.byte[0] = 1;
        r.byte[1] = 2;
        r.byte[2] = 3;
        r.byte[3] = 4;
        QVERIFY(s->m17->setModelRev(r));
        QCOMPARE(s->instrument()->last_request(8105)->payload, (sim::Bytes{1, 2, 3, 4}));
        M17Protocol::Revision back;
        QVERIFY(s->m17->getModelRev(back));
        QCOMPARE(back.byte[3], uint8_t(4));
        QCOMPARE(back.byte[0], uint8_t(1));
    }

    void externalFlash()
    {
        int erased = 0;
        QVERIFY(s->m17->eraseExtFlash(erased));
        QCOMPARE(erased, 4096);
        unsigned char page[64];
        for (int i = 0; i < 64; ++i)
            page[i] = static_cast<unsigned char>(i * 3);
        QVERIFY(s->m17->writeExtFlash(7, page, sizeof page));
        QCOMPARE(s->instrument()->last_request(8102)->payload.size(), size_t(66));
        unsigned char back[64] = {};
        QVERIFY(s->m17->readExtFlash(7, back));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(back), 64),
                 QByteArray(reinterpret_cast<char*>(page), 64));
        // The instrument refuses a page outside its flash: false, buffer untouched.
        back[0] = 0x5A;
        QVERIFY(!s->m17->readExtFlash(-1, back));
        QCOMPARE(back[0], uint8_t(0x5A));

        // More than one frame carries is refused before anything is sent.
        const std::size_t writes = s->instrument()->count(8102);
        std::vector<unsigned char> big(MXX_MAX_CMD_PAYLOAD - 1);
        QVERIFY(!s->m17->writeExtFlash(1, big.data(), static_cast<unsigned>(big.size())));
        QCOMPARE(s->instrument()->count(8102), writes);
    }

    void firmwareAndRestart()
    {
        QVERIFY(s->m17->flashFW(true, 0xCAFE));
        QCOMPARE(s->instrument()->last_request(8103)->payload,
                 (sim::Bytes{1, 0, 0, 0, 0xFE, 0xCA, 0, 0}));
        // Written, not awaited: true even from an instrument that never answers.
        s->instrument()->set_rule(8021, sim::Rule::silence());
        QVERIFY(s->m17->restart());
        QVERIFY(s->instrument()->wait_for(8021, 1, std::chrono::seconds(5)));
        s->restoreRules();
    }
};

QTEST_GUILESS_MAIN(TestM17Protocol)
#include "test_m17_protocol.moc"
