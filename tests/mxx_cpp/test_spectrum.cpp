#include <spectrum.h>

#include <QTest>

#include <limits>

class TestSpectrum : public QObject
{
    Q_OBJECT

private slots:
    void deadTimeNeverDividesByZero()
    {
        QCOMPARE(deadTime(80, 100), 20.0f);
        QCOMPARE(deadTime(100, 100), 0.0f);
        QCOMPARE(deadTime(0, 0), 100.0f);
        const float eps = std::numeric_limits<float>::epsilon();
        QCOMPARE(deadTime(5, 0), (1.0f - 5.0f / eps) * 100.0f);
        Spectrum s(QVector<int>{1}, 30, 40, 0, 0, 0);
        QCOMPARE(s.deadTime(), 25.0f);
        QCOMPARE(s.property("dead_time").toFloat(), 25.0f);
    }

    void sumIsCachedUntilTheDataChanges()
    {
        Spectrum s(QVector<int>{1, 2, 3}, 0, 0, 0, 0, 0);
        QCOMPARE(s.size(), size_t(3));
        QCOMPARE(s.channels(), 3);
        QCOMPARE(s.sum(), 6);
        s.setData({4});
        QCOMPARE(s.sum(), 4);
        QCOMPARE(s.channels(), 3);
        Spectrum zeros(5);
        QCOMPARE(zeros.sum(), 0);
        QCOMPARE(zeros.channels(), 1024);
        QCOMPARE(zeros.property("size").toULongLong(), 5ull);
    }

    void addsWithRebinningBothWays()
    {
        Spectrum narrow(QVector<int>{0, 0}, 1, 2, 3, 9, 0);
        narrow += Spectrum(QVector<int>{1, 1, 1, 1}, 10, 20, 30, 4, 0);
        QCOMPARE(narrow.data(), (QVector<int>{1, 1}));
        QCOMPARE(narrow.liveTime(), uint64_t(11));
        QCOMPARE(narrow.clockTime(), uint64_t(22));
        QCOMPARE(narrow.totalCount(), uint64_t(33));
        QCOMPARE(narrow.sequenceNumber(), std::numeric_limits<uint64_t>::max());
        QCOMPARE(narrow.sum(), 2);

        Spectrum wide(QVector<int>{0, 0, 0, 0}, 0, 0, 0, 0, 0);
        wide += Spectrum(QVector<int>{5, 7}, 0, 0, 0, 0, 0);
        QCOMPARE(wide.data(), (QVector<int>{5, 5, 7, 7}));

        Spectrum same(QVector<int>{1, 2}, 0, 0, 0, 0, 0);
        same.sum();
        same += Spectrum(QVector<int>{10, 20}, 0, 0, 0, 0, 0);
        QCOMPARE(same.data(), (QVector<int>{11, 22}));
        QCOMPARE(same.sum(), 33);

        // An empty spectrum adds only its times and counts.
        Spectrum kept(QVector<int>{3}, 1, 1, 1, 1, 0);
        kept.setType(2);
        kept += Spectrum(QVector<int>{}, 4, 5, 6, 7, 0);
        QCOMPARE(kept.data(), (QVector<int>{3}));
        QCOMPARE(kept.liveTime(), uint64_t(5));
        QCOMPARE(kept.type(), 2u);

        // Odd channel counts: every channel takes one of the other's, none beyond its end.
        Spectrum seven(7);
        QVector<int> three{1, 2, 3};
        seven += Spectrum(three, 0, 0, 0, 0, 0);
        QCOMPARE(seven.data(), (QVector<int>{1, 1, 1, 2, 2, 3, 3}));
    }

    void clearKeepsChannelsAndSamples()
    {
        Spectrum s(QVector<int>{4, 5}, 7, 8, 9, 10, 1.5f);
        s.setActSample(3);
        s.setTotalSample(12);
        s.setAccTotalCnt(99);
        s.setDose(2.f);
        s.setFinished(1);
        s.clear();
        QCOMPARE(s.data(), (QVector<int>{0, 0}));
        QCOMPARE(s.sequenceNumber(), std::numeric_limits<uint64_t>::max());
        QCOMPARE(s.type(), 4294967295u);
        QCOMPARE(s.liveTime(), uint64_t(0));
        QCOMPARE(s.dose(), 0.f);
        QCOMPARE(s.finished(), 0);
        QCOMPARE(s.actSample(), 3);
        QCOMPARE(s.totalSample(), 12);
        QCOMPARE(s.accTotalCnt(), uint64_t(99));
        QCOMPARE(s.channels(), 2);
        QCOMPARE(s.sum(), 0);
    }

    void copiesEverythingButTheCache()
    {
        Spectrum s(QVector<int>{1, 2}, 1, 2, 3, 4, 5.f);
        s.setActSample(6);
        s.setTotalSample(7);
        s.setType(3);
        QCOMPARE(s.sum(), 3);
        Spectrum c(s);
        QCOMPARE(c.actSample(), 6);
        QCOMPARE(c.totalSample(), 7);
        QCOMPARE(c.type(), 3u);
        QCOMPARE(c.fwhmCs137(), 5.f);
        QVERIFY(c.parent() == nullptr);
        c.setData({10});
        Spectrum d(1);
        d = c;
        QCOMPARE(d.sum(), 10);
    }
};

QTEST_GUILESS_MAIN(TestSpectrum)
#include "test_spectrum.moc"
