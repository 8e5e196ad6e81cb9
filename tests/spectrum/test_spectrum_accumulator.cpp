#include <energy_axis.h>
#include <spectrum_accumulator.h>
#include <spectrum_accumulator_from_instrument.h>

#include <m26_spectrum.h>
#include <protocol_events.h>
#include <spectrum.h>

#include "sim/events.h"

#include <QTest>

#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>

namespace {

// The simulator's current spectra (5 s each, 3 keV a channel), read as the
// protocol layer reads an M30's.
std::vector<std::shared_ptr<Spectrum>> streamed(int count)
{
    sim::EventStream events(11, sim::StatusValues{});
    auto frame = std::make_unique<MXX_frame>();
    std::vector<std::shared_ptr<Spectrum>> out;
    for (int i = 0; i < count; ++i) {
        const sim::Bytes payload = events.spectrum(1);
        std::memcpy(frame->payload, payload.data(), payload.size());
        frame->length = static_cast<uint16_t>(payload.size() + 1);
        out.push_back(mxx_events::surveySpectrum(frame.get()));
    }
    return out;
}

// The centroid, in channels counted from the first's lower edge, of the
// peak's channels above half its height over a line through the region's ends.
double peakCentroid(const std::vector<uint64_t>& c, int lo, int hi)
{
    auto mean3 = [&](int at) { return double(c[at - 1] + c[at] + c[at + 1]) / 3; };
    const double b0 = mean3(lo), b1 = mean3(hi);
    auto net = [&](int i) { return double(c[i]) - (b0 + (b1 - b0) * (i - lo) / (hi - lo)); };
    int top = lo;
    for (int i = lo; i <= hi; ++i)
        top = net(i) > net(top) ? i : top;
    int a = top, b = top;
    while (a > lo && net(a - 1) > net(top) / 2)
        --a;
    while (b < hi && net(b + 1) > net(top) / 2)
        ++b;
    double w = 0, x = 0;
    for (int i = a; i <= b; ++i) {
        w += net(i);
        x += (i + 0.5) * net(i);
    }
    return x / w;
}

SpectrumData hand(std::vector<uint64_t> counts, double live = 1, double real = 1)
{
    SpectrumData s;
    s.counts = std::move(counts);
    s.liveSeconds = live;
    s.realSeconds = real;
    return s;
}

} // namespace

class TestSpectrumAccumulator : public QObject
{
    Q_OBJECT

private slots:
    void sumsTheStreamAndReadsCaesiumOnTheAxis()
    {
        const auto stream = streamed(4000); // 20000 live seconds
        SpectrumAccumulator acc;
        SpectrumAccumulator latest(SpectrumAccumulator::Mode::Latest);
        Spectrum reference(*stream[0]);
        for (std::size_t i = 0; i < stream.size(); ++i) {
            if (i == 50 || i == 51 || i == 52 || i == 900) // lost on the way: two gaps
                continue;
            const SpectrumData data = fromInstrument(*stream[i]);
            const uint64_t number = stream[i]->sequenceNumber();
            QCOMPARE(acc.add(data, number), SpectrumAccumulator::Outcome::Added);
            latest.add(data, number);
            if (i > 0)
                reference += *stream[i];
            if (i == 10 || i == 3000) { // sent twice
                QCOMPARE(acc.add(data, number), SpectrumAccumulator::Outcome::Duplicate);
                latest.add(data, number);
            }
        }
        QCOMPARE(acc.spectraAdded(), uint64_t(3996));
        QCOMPARE(acc.duplicates(), uint64_t(2));
        QCOMPARE(acc.gaps(), uint64_t(2));
        QCOMPARE(acc.missed(), uint64_t(4));
        QCOMPARE(latest.duplicates(), uint64_t(2));
        QCOMPARE(latest.spectrum().counts, fromInstrument(*stream.back()).counts);

        const SpectrumData& sum = acc.spectrum();
        uint64_t total = 0;
        for (int i = 0; i < reference.data().size(); ++i) {
            QCOMPARE(sum.counts[std::size_t(i)], uint64_t(uint32_t(reference.data()[i])));
            total += uint32_t(reference.data()[i]);
        }
        QCOMPARE(sum.liveSeconds, double(reference.liveTime()));
        QCOMPARE(sum.realSeconds, double(reference.clockTime()));
        QCOMPARE(acc.totalCounts(), total);
        QCOMPARE(acc.countsPerSecond(), double(total) / reference.liveTime());

        // Calibrated on Pb-214 and K-40 as a surveyor would, Cs-137 falls
        // within a channel (3 keV) of 661.7 keV.
        const double pb = peakCentroid(sum.counts, 95, 140);
        const double k = peakCentroid(sum.counts, 445, 530);
        const double cs = peakCentroid(sum.counts, 195, 250);
        const auto axis = EnergyAxis::fromPeaks(pb, 351.9, k, 1460.8, acc.channels());
        QVERIFY(axis);
        qInfo("Cs-137 at channel %.2f, %.2f keV", cs, axis->energyOf(cs));
        QVERIFY(std::abs(axis->energyOf(cs) - 661.7) < 3.0);
        QVERIFY(std::abs(*axis->channelOf(661.7) - cs) < 1.0);

        // Regions of interest against the protocol layer's own sum.
        const auto independent = [&](int from, int to) {
            const auto& d = reference.data();
            return std::accumulate(d.begin() + from, d.begin() + to + 1, uint64_t(0),
                                   [](uint64_t s, int v) { return s + uint32_t(v); });
        };
        QCOMPARE(acc.roiSum(0, 0), independent(0, 0));
        QCOMPARE(acc.roiSum(210, 231), independent(210, 231));
        QCOMPARE(acc.roiSum(1022, 1022), independent(1022, 1022)); // the parser zeroes 1023
        QCOMPARE(acc.roiSum(-5, 3), independent(0, 3));
        QCOMPARE(acc.roiSum(1000, 5000), independent(1000, 1023));
        QCOMPARE(acc.roiSum(0, 1023), acc.totalCounts());
        QCOMPARE(acc.roiSum(300, 299), uint64_t(0));
        QCOMPARE(acc.roiRate(210, 231), double(independent(210, 231)) / reference.liveTime());
    }

    void sequenceNumbersWrapAndRestart()
    {
        struct Case
        {
            std::vector<uint64_t> numbers;
            uint64_t added, duplicates, gaps, missed, renumberings;
        };
        const uint64_t none = SpectrumAccumulator::kNoSequence;
        const Case cases[] = {
            {{65534, 65535, 0, 1}, 4, 0, 0, 0, 0},  // 16-bit wrap
            {{65535, 2}, 2, 0, 1, 2, 0},            // a gap across it
            {{65535, 0, 0}, 2, 1, 0, 0, 0},         // repeated after it
            {{65535, 65536, 65537}, 3, 0, 0, 0, 0}, // a 32-bit number passing 16 bits
            {{4294967295u, 0}, 2, 0, 0, 0, 0},      // 32-bit wrap
            {{4294967294u, 1}, 2, 0, 1, 2, 0},      // a gap across it
            {{500, 501, 1, 2}, 4, 0, 0, 0, 1},      // the instrument restarted
            {{5, none, 9}, 3, 0, 0, 0, 0},          // unnumbered: nothing to check
            {{none, none}, 2, 0, 0, 0, 0},          // not duplicates either
            {{7, 8, 8, 8, 12}, 3, 2, 1, 3, 0},
        };
        for (const Case& c : cases) {
            SpectrumAccumulator acc;
            for (uint64_t n : c.numbers)
                acc.add(hand({1, 2, 3}), n);
            const QByteArray at = QByteArray::number(qulonglong(c.numbers.front()));
            QVERIFY2(acc.spectraAdded() == c.added, at);
            QVERIFY2(acc.duplicates() == c.duplicates, at);
            QVERIFY2(acc.gaps() == c.gaps, at);
            QVERIFY2(acc.missed() == c.missed, at);
            QVERIFY2(acc.renumberings() == c.renumberings, at);
            QVERIFY2(acc.totalCounts() == 6 * c.added, at);
        }
    }

    void anotherChannelCountStartsAgain()
    {
        SpectrumAccumulator acc;
        acc.add(hand(std::vector<uint64_t>(1024, 1), 5, 6), 40);
        acc.add(hand(std::vector<uint64_t>(1024, 1), 5, 6), 41);
        QVERIFY(acc.message().isEmpty());
        // M38 sends its 256 channels under the 1024's number: not a duplicate.
        QCOMPARE(acc.add(hand(std::vector<uint64_t>(256, 2), 5, 6), 41),
                 SpectrumAccumulator::Outcome::Restarted);
        QCOMPARE(acc.channels(), 256);
        QCOMPARE(acc.spectraAdded(), uint64_t(1));
        QCOMPARE(acc.totalCounts(), uint64_t(512));
        QCOMPARE(acc.spectrum().liveSeconds, 5.0);
        QVERIFY(acc.message().contains("256") && acc.message().contains("1024"));
        QCOMPARE(acc.add(hand(std::vector<uint64_t>(256, 2), 5, 6), 42),
                 SpectrumAccumulator::Outcome::Added);
        QCOMPARE(acc.totalCounts(), uint64_t(1024));
        QCOMPARE(acc.gaps(), uint64_t(0));

        acc.setMode(SpectrumAccumulator::Mode::Latest); // a sum and a latest do not mix
        QCOMPARE(acc.spectraAdded(), uint64_t(0));
        QVERIFY(acc.message().isEmpty());
        QCOMPARE(acc.channels(), 0);
    }

    void timesInTheInstrumentsUnits()
    {
        Spectrum seconds(QVector<int>{-1, 3}, 30, 40, 0, 1, 0);
        const SpectrumData s = fromInstrument(seconds);
        QCOMPARE(s.counts, (std::vector<uint64_t>{4294967295u, 3})); // u32 counts kept in ints
        QCOMPARE(s.liveSeconds, 30.0);
        QCOMPARE(s.realSeconds, 40.0);
        M26Spectrum milliseconds(QVector<int>{1}, 980, 1000, 0, 1, 0);
        QCOMPARE(fromInstrument(milliseconds).liveSeconds, 0.98);
        QCOMPARE(fromInstrument(milliseconds).realSeconds, 1.0);
        QCOMPARE(fromInstrument(seconds, 0.001).realSeconds, 0.04);

        SpectrumAccumulator acc;
        QCOMPARE(acc.deadTimePercent(), 0.0);
        QCOMPARE(acc.countsPerSecond(), 0.0);
        acc.add(s, 1);
        acc.add(hand({5, 0}, 10, 20), 2);
        QCOMPARE(acc.deadTimePercent(), 100 * (60.0 - 40.0) / 60.0);
        QCOMPARE(acc.countsPerSecond(), (4294967295.0 + 8) / 40);
    }

    void backgroundScaledByLiveTime()
    {
        const SpectrumData gross = hand({100, 50, 10, 0}, 200);
        const SpectrumData background = hand({40, 40, 40, 40}, 100);
        QString why;
        const auto net = subtractBackground(gross, background, &why);
        QVERIFY2(net, qPrintable(why));
        QCOMPARE(net->scale, 2.0);
        QCOMPARE(net->counts, (std::vector<double>{20, -30, -70, -80}));
        QCOMPARE(net->roiSum(1, 2), -100.0);
        QCOMPARE(net->roiSum(-1, 9), -160.0);

        QVERIFY(!subtractBackground(gross, hand({1, 2, 3}, 100), &why));
        QVERIFY(why.contains("3 channels"));
        why.clear();
        QVERIFY(!subtractBackground(gross, hand({1, 2, 3, 4}, 0), &why));
        QVERIFY(!why.isEmpty());
    }

    void calibrationsMustRise()
    {
        QString why;
        QVERIFY(!EnergyAxis::fromCoefficients({3000, -3}, 1024, &why));
        QVERIFY(!why.isEmpty());
        // 3 - 0.004 ch is 0 at channel 750: refused up to it, kept below.
        QVERIFY(!EnergyAxis::fromCoefficients({0, 3, -0.002}, 750));
        const auto bent = EnergyAxis::fromCoefficients({0, 3, -0.002}, 749);
        QVERIFY(bent);
        for (double kev : {0.0, 1.0, 661.7, bent->energyOf(749)})
            QVERIFY(std::abs(bent->energyOf(*bent->channelOf(kev)) - kev) < 1e-9);
        QVERIFY(!bent->channelOf(-0.1));
        QVERIFY(!bent->channelOf(bent->energyOf(749) + 0.1));

        // Flat, none, not a number, and a cubic rising at both ends but falling between.
        for (const std::vector<double>& c :
             {std::vector<double>{5}, std::vector<double>{}, std::vector<double>{0, NAN},
              std::vector<double>{0, 3, -0.01, 0.00001}})
            QVERIFY(!EnergyAxis::fromCoefficients(c, 1024));
        QVERIFY(!EnergyAxis::fromCoefficients({0, 3}, 0));

        QVERIFY(!EnergyAxis::fromPeaks(220, 661.7, 220, 1460.8, 1024, &why));
        QVERIFY(!EnergyAxis::fromPeaks(220, 1460.8, 487, 661.7, 1024));
        const auto either = EnergyAxis::fromPeaks(487, 1460.8, 220, 661.7, 1024);
        QVERIFY(either);
        QVERIFY(std::abs(either->energyOf(220) - 661.7) < 1e-9);
        QVERIFY(std::abs(either->energyOf(487) - 1460.8) < 1e-9);
    }
};

QTEST_GUILESS_MAIN(TestSpectrumAccumulator)
#include "test_spectrum_accumulator.moc"
