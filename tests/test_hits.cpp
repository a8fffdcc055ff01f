// Acoustic-emission hits on hand-made signals at 1 MHz (a sample a microsecond) and gain code
// 12 (a code is 5 / 2^20 V): the hit, lockout and peak definition times, counts, energy, a hit
// running off the end, detector data, thresholds in volts and dB_AE, the Akaike onset, events
// and the linear location.
#include "ae_hits.h"
#include "wave_stor.h"

#include <QRandomGenerator>
#include <QtTest>
#include <cmath>

namespace {

constexpr double code = 5.0 / 1048576.0; // volts of one code at gain code 12

// A record of the given channels and samples at 1 MHz, silent, gain code 12.
std::unique_ptr<WaveStore> silence(int channels, int samples)
{
    auto record = std::make_unique<WaveStore>(QRect(0, 0, 639, 399));
    record->initialise(channels, samples);
    record->header.clockKHz = 12000;
    record->header.ticksPerSample = 12;
    for (int i = 0; i < channels; ++i)
        record->channelSlots[i].header.gainCode = 12;
    return record;
}

// Alternating +a, -a over samples from ... to - 1 of channel i: a positive crossing every
// other sample.
void burst(WaveStore& record, int i, int from, int to, int a)
{
    for (int k = from; k < to; ++k)
        record.channel(i)->setSample(k, qint8((k - from) % 2 ? -a : a));
}

HitSettings settings(double hdt, double hlt, double pdt)
{
    HitSettings s;
    s.thresholdVolts = 10.5 * code;
    s.hdtMicros = hdt;
    s.hltMicros = hlt;
    s.pdtMicros = pdt;
    return s;
}

} // namespace

class tst_Hits : public QObject
{
    Q_OBJECT
private slots:
    void definitions();
    void peakCountsEnergyAndTheEnd();
    void detectorRecordAndDecibels();
    void onsetEventsAndLocation();
};

// Two bursts of 20 samples at 100 and 400: the 281 us from the last crossing of the first to
// the second split or join them by the HDT, and the HLT may swallow the second.
void tst_Hits::definitions()
{
    const struct
    {
        double hdt;
        double hlt;
        QList<int> arrivals;
        QList<int> lasts;
    } cases[] = { { 250, 50, { 100, 400 }, { 119, 419 } }, // split
        { 300, 50, { 100 }, { 419 } }, // joined
        { 250, 300, { 100 }, { 119 } } }; // locked out
    auto record = silence(1, 1000);
    burst(*record, 0, 100, 120, 20);
    burst(*record, 0, 400, 420, 20);
    for (const auto& c : cases) {
        const QList<Hit> hits = findHits(*record, 0, 0, 1000, settings(c.hdt, c.hlt, 200));
        QCOMPARE(hits.size(), c.arrivals.size());
        for (int h = 0; h < hits.size(); ++h) {
            QCOMPARE(hits[h].arrival, c.arrivals[h]);
            QCOMPARE(hits[h].last, c.lasts[h]);
        }
    }
}

// Peaks 30 at 100 and 50 at 400: with a PDT of 200 us the first stands, with 500 the second
// takes over. Then a burst of +-20 from 900 to the last sample: ten positive crossings, the
// energy of its samples, and a hit that ends with the record.
void tst_Hits::peakCountsEnergyAndTheEnd()
{
    auto record = silence(1, 1000);
    for (int k = 50; k < 500; k += 10)
        record->channel(0)->setSample(k, 15);
    record->channel(0)->setSample(100, 30);
    record->channel(0)->setSample(400, 50);
    QCOMPARE(findHits(*record, 0, 0, 1000, settings(800, 0, 200))[0].peak, 100);
    const Hit late = findHits(*record, 0, 0, 1000, settings(800, 0, 500))[0];
    QCOMPARE(late.peak, 400);
    QCOMPARE(late.peakVolts, 50 * code);
    QCOMPARE(decibelsAe(late.peakVolts), 20 * std::log10(50 * code / 1e-6));

    record = silence(1, 920);
    burst(*record, 0, 900, 920, 20);
    for (int k = 0; k < 900; k += 7)
        record->channel(0)->setSample(k, 3); // background below the threshold
    const QList<Hit> hits = findHits(*record, 0, 0, 920, settings(800, 1000, 200));
    QCOMPARE(hits.size(), 1);
    QCOMPARE(hits[0].arrival, 900);
    QCOMPARE(hits[0].last, 919);
    QCOMPARE(hits[0].counts, 10);
    QVERIFY(std::fabs(hits[0].energy - 20 * std::pow(20 * code, 2) * 1e-6) < 1e-18);
    QVERIFY(hits[0].backgroundRms > 0 && hits[0].backgroundRms < 3 * code);
}

// Detector data count from -128 without polarity: -128 is 0 V, -100 is 28 x 2.5 / 2^20 V.
void tst_Hits::detectorRecordAndDecibels()
{
    auto record = silence(1, 500);
    record->channel(0)->applyDetectorOffset();
    for (int k = 0; k < 500; ++k)
        record->channel(0)->setSample(k, qint8(k >= 200 && k < 210 ? -100 : -128));
    HitSettings s = settings(100, 100, 50);
    s.thresholdVolts = voltsOfDecibelsAe(20 * std::log10(60e-6 / 1e-6)); // 60 uV
    const QList<Hit> hits = findHits(*record, 0, 0, 500, s);
    QCOMPARE(hits.size(), 1);
    QCOMPARE(hits[0].arrival, 200);
    QCOMPARE(hits[0].peakVolts, 28 * 2.5 / 1048576.0);
    s.thresholdVolts = 70e-6; // above 66.8 uV: nothing
    QVERIFY(findHits(*record, 0, 0, 500, s).isEmpty());
}

// Hits at 1000 us (channel 2) and 1400 us (channel 1) form one event within 1 ms; at 1 m and
// 1000 m/s the source lies (1 - 1000 x (0.001 - 0.0014)) / 2 = 0.7 m from sensor 1.
void tst_Hits::onsetEventsAndLocation()
{
    QList<Hit> hits(3);
    hits[0].channel = 1;
    hits[0].arrival = 1000;
    hits[1].channel = 0;
    hits[1].arrival = 1400;
    hits[2].channel = 0;
    hits[2].arrival = 5000;
    QCOMPARE(groupEvents(hits, 0.001, 1e6), (QList<int> { 0, 0, 1 }));
    QCOMPARE(linearPosition(0.0014, 0.001, 1.0, 1000.0), 0.7);
    QVERIFY(linearPosition(0.0, 0.0016, 1.0, 1000.0) < 0); // outside the sensors

    // Noise of 1 then of 10 from sample 300 on: the onset is found within two samples.
    QRandomGenerator random(3);
    std::vector<double> x(400);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = (i < 300 ? 1.0 : 10.0) * (random.generateDouble() * 2 - 1);
    QVERIFY(std::abs(akaikeOnset(x.data(), 400, 400) - 300) <= 2);
}

QTEST_GUILESS_MAIN(tst_Hits)
#include "test_hits.moc"
