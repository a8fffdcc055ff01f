// Acoustic-emission hits on hand-made signals at 1 MHz (a sample a microsecond) and gain code
// 12 (a code is 5 / 2^20 V): the hit, lockout and peak definition times, counts, energy, a hit
// running off the end, detector data, thresholds in volts and dB_AE, the Akaike onset, events,
// the background and the floating threshold, linear and planar location and the fitted speed.
#include "ae_hits.h"
#include "wave_stor.h"

#include <QRandomGenerator>
#include <QtTest>
#include <cmath>
#include <random>

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

// A decaying sine of period 10 samples added to channel i from onset on: its envelope rises
// over rise samples to amplitude codes, then falls by e every 80 samples, for 400 samples.
void addBurst(WaveStore& record, int i, int onset, double amplitude, double rise = 1)
{
    for (int j = 0; j < 400 && onset + j < record.sampleCount(); ++j) {
        const double envelope = amplitude * std::min(1.0, j / rise) * std::exp(-j / 80.0);
        const int v = record.channel(i)->sample(onset + j)
            + int(std::lround(envelope * std::sin(2 * M_PI * j / 10)));
        record.channel(i)->setSample(onset + j, qint8(std::clamp(v, -128, 127)));
    }
}

// A fixed sequence of -1, 0 and +1 codes added to every sample, plus offset codes.
void addNoise(WaveStore& record, quint32 seed, int offset = 0)
{
    for (int i = 0; i < record.channelCount(); ++i)
        for (int k = 0; k < record.sampleCount(); ++k) {
            seed = seed * 1664525u + 1013904223u;
            const int v = record.channel(i)->sample(k) + int(seed >> 16) % 3 - 1 + offset;
            record.channel(i)->setSample(k, qint8(std::clamp(v, -128, 127)));
        }
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
    void reflectionsOffsetAndCounts();
    void backgroundAndThresholds();
    void locationAndSpeed();
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
    } cases[] = { { 250, 10, { 100, 400 }, { 119, 419 } }, // split
        { 300, 50, { 100 }, { 419 } }, // joined
        { 250, 50, { 100 }, { 119 } } }; // locked out from the hit's end, 119 + 250
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
        record->channel(0)->setSample(k, k % 14 ? -3 : 3); // background below the threshold
    const QList<Hit> hits = findHits(*record, 0, 0, 920, settings(800, 1000, 200));
    QCOMPARE(hits.size(), 1);
    QCOMPARE(hits[0].arrival, 900);
    QCOMPARE(hits[0].last, 919);
    QCOMPARE(hits[0].counts, 10);
    QVERIFY(std::fabs(hits[0].energy / (20 * std::pow(20 * code, 2) * 1e-6) - 1) < 1e-3);
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
    // Onsets at 1000, 1400 and 2000 us (at the window's end); channel 1 twice in one window
    // starts a new event.
    QList<Hit> hits(5);
    const int onsets[] = { 1000, 1400, 2000, 5000, 5001 };
    const int channels[] = { 1, 0, 2, 0, 0 };
    for (int h = 0; h < 5; ++h) {
        hits[h].channel = channels[h];
        hits[h].onset = onsets[h];
        hits[h].arrival = onsets[h] + 30;
    }
    QCOMPARE(groupEvents(hits, 0.001, 1e6), (QList<int> { 0, 0, 0, 1, 2 }));
    QCOMPARE(groupEvents(hits, 0.00098, 1e6), (QList<int> { 0, 0, 1, 2, 3 }));
    QCOMPARE(linearPosition(0.0014, 0.001, 1.0, 1000.0), 0.7);
    QVERIFY(linearPosition(0.0, 0.0016, 1.0, 1000.0) < 0); // outside the sensors

    // Noise of one code then of ten from sample 300 on: the onset is found within two samples.
    QRandomGenerator random(3);
    std::vector<qint8> x(400);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = qint8(random.bounded(-1, 2) * (i < 300 ? 1 : 10));
    QVERIFY(std::abs(akaikeOnset(x.data(), 400, 400) - 300) <= 2);
}

// Four bursts each followed by its reflection 1.4 ms later: with HDT 800 and HLT 1000 us only
// the direct waves are hits, with their own amplitude. The same record 4 codes up finds the
// same hits; counts are positive-going crossings of a sine (not the samples above the
// threshold), and a burst beyond the codes is clipped.
void tst_Hits::reflectionsOffsetAndCounts()
{
    auto record = silence(2, 20000);
    for (int b = 0; b < 4; ++b) {
        addBurst(*record, 0, 1000 + 4000 * b, 100);
        addBurst(*record, 0, 2400 + 4000 * b, 25);
    }
    addNoise(*record, 7);
    HitSettings s = settings(800, 1000, 200);
    s.thresholdVolts = 6.5 * code;
    const QList<Hit> direct = findHits(*record, 0, 0, 20000, s);
    QCOMPARE(direct.size(), 4);
    for (int b = 0; b < 4; ++b) {
        QVERIFY(std::abs(direct[b].arrival - (1001 + 4000 * b)) <= 2);
        QVERIFY(std::fabs(direct[b].peakVolts / (100 * std::exp(-3 / 80.0) * code) - 1) < 0.03);
    }
    for (int k = 0; k < 20000; ++k) {
        record->channel(1)->setSample(k, qint8(record->channel(0)->sample(k) + 4));
        record->channel(0)->setSample(
            k, qint8(std::clamp(record->channel(0)->sample(k) * 2, -128, 127)));
    }
    const QList<Hit> shifted = findHits(*record, 1, 0, 20000, s);
    s.thresholdVolts = 13 * code;
    const QList<Hit> doubled = findHits(*record, 0, 0, 20000, s);
    QCOMPARE(shifted.size(), 4);
    for (int b = 0; b < 4; ++b) {
        QCOMPARE(shifted[b].arrival, direct[b].arrival);
        QCOMPARE(shifted[b].counts, direct[b].counts);
        QVERIFY(!direct[b].clipped && doubled[b].clipped);
    }
    // The envelope 100 e^(-j / 80) stays over 6.5 codes for 80 ln(100 / 6.5) = 219 samples:
    // some 22 periods of 10 samples, a crossing each, against about five samples above in each.
    QVERIFY2(std::abs(direct[0].counts - 22) <= 1, qPrintable(QString::number(direct[0].counts)));
}

// Gaussian noise of 2 codes rounded to codes (RMS sqrt(4 + 1/12) codes) 4 codes up: the
// background mean and RMS, the floating threshold over it and its floor of 1.5 codes on a silent
// channel, and all 60 bursts found where they fill half the time; a fixed threshold under one
// code, under three RMS or beyond the scale is warned of.
void tst_Hits::backgroundAndThresholds()
{
    auto record = silence(3, 30000);
    std::mt19937 generator(11);
    std::normal_distribution<double> gauss(0, 2);
    for (const int i : { 0, 2 })
        for (int k = 0; k < 30000; ++k)
            record->channel(i)->setSample(k, qint8(std::lround(gauss(generator)) + 4));
    for (int b = 0; b < 60; ++b)
        addBurst(*record, 2, 200 + 500 * b, 40);
    HitSettings s = settings(100, 50, 50);
    s.floatingDb = 20;
    ChannelBackground noisy;
    ChannelBackground silent;
    ChannelBackground busy;
    const double rms = std::sqrt(4 + 1 / 12.0) * code;
    QVERIFY(findHits(*record, 0, 0, 30000, s, &noisy).isEmpty());
    findHits(*record, 1, 0, 30000, s, &silent);
    QCOMPARE(findHits(*record, 2, 0, 30000, s, &busy).size(), 60);
    QVERIFY(std::fabs(noisy.meanVolts / (4 * code) - 1) < 0.03);
    QVERIFY2(std::fabs(noisy.rmsVolts / rms - 1) < 0.05,
        qPrintable(QString::number(noisy.rmsVolts / rms)));
    QVERIFY(std::fabs(busy.rmsVolts / rms - 1) < 0.1);
    QVERIFY(std::fabs(noisy.thresholdVolts / (10 * rms) - 1) < 0.05);
    QCOMPARE(silent.thresholdVolts, 1.5 * code);
    QCOMPARE(noisy.warnings, 0);
    s.floatingDb = -1;
    for (const auto& [volts, warnings] :
        { std::pair { 0.5 * code, 3 }, { 2 * code, 2 }, { 1.0, 4 } }) {
        s.thresholdVolts = volts;
        findHits(*record, 0, 0, 30000, s, &noisy);
        QCOMPARE(noisy.warnings, warnings);
    }
    QCOMPARE(decibelsAe(0.001, 40), 20.0);
    QCOMPARE(voltsOfDecibelsAe(45, 40), 1e-6 * std::pow(10, 85 / 20.0));
}

// Sources on a line 1 m long (3000 m/s: 333 samples end to end), at and between the sensors,
// weaker at the far one, and picked 3 samples late on channel 2; then four sensors on a 1 m
// square with sources inside and on the edges. Positions within 1 % of the spacing; a burst's
// peak frequency is its sine's. Ten sources at one point fit the speed within 1 %.
void tst_Hits::locationAndSpeed()
{
    const double line[] = { 0, 0.25, 0.5, 0.8, 1 };
    auto record = silence(2, 5000 * 5);
    for (int s = 0; s < 5; ++s)
        for (int i = 0; i < 2; ++i) {
            const double d = i == 0 ? line[s] : 1 - line[s];
            addBurst(*record, i, 1000 + 5000 * s + int(std::lround(d / 3000 * 1e6)) + 3 * i,
                100 * std::pow(0.3, d), 30);
        }
    addNoise(*record, 5);
    HitQuery query;
    query.settings = settings(800, 1000, 200);
    query.settings.floatingDb = 16;
    query.spacingMetres = 1;
    QList<HitRow> rows;
    QString cause;
    QVERIFY(tabulateHits(*record, query, rows, cause));
    QCOMPARE(rows.size(), 10);
    for (int s = 0; s < 5; ++s) {
        QCOMPARE(rows[2 * s].event, s);
        QVERIFY(rows[2 * s].located);
        QVERIFY2(std::fabs(rows[2 * s].positionMetres - line[s]) < 0.01,
            qPrintable(QString::number(rows[2 * s].positionMetres)));
    }
    QVERIFY(std::fabs(rows[0].hit.peakHz - 1e5) <= 1e6 / 512);
    const double window = coincidenceWindow(query, 1e6);
    QVERIFY(window > 1 / 3000.0 + 5e-6 && window < 1.2 / 3000 + 20e-6);

    const QPointF sources[] = { { 0.5, 0.5 }, { 0.2, 0.7 }, { 0.9, 0.1 }, { 0.5, 0 }, { 1, 0.6 } };
    query.sensors = { { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } };
    record = silence(4, 5000 * 16);
    for (int s = 0; s < 15; ++s) {
        const QPointF p = s < 5 ? sources[s] : QPointF(0.2, 0.3);
        for (int i = 0; i < 4; ++i) {
            const double d = std::hypot(p.x() - query.sensors[i].x(), p.y() - query.sensors[i].y());
            addBurst(*record, i, 1000 + 5000 * s + int(std::lround(d / 3000 * 1e6)),
                100 * std::pow(0.3, d), 30);
        }
    }
    // Onsets no source explains: 480 us between sensors 1 m apart.
    for (int i = 0; i < 4; ++i)
        addBurst(*record, i, 76000 + 480 * (i % 2), 60, 30);
    addNoise(*record, 9);
    QVERIFY(tabulateHits(*record, query, rows, cause));
    QCOMPARE(rows.size(), 64);
    QVERIFY(!rows[60].inPlane && !rows[60].located && rows[60].zone == 0);
    for (int s = 0; s < 5; ++s) {
        const HitRow& row = rows[4 * s];
        QVERIFY(row.inPlane && row.residualMetres >= 0);
        QVERIFY2(std::hypot(row.x - sources[s].x(), row.y - sources[s].y()) < 0.01,
            qPrintable(QStringLiteral("%1 %2").arg(row.x).arg(row.y)));
    }
    // A source at sensor 1: the far sensor's hit is weak (12 codes against 60) and its onset
    // 4 us late, as a weak wave's onset is picked late. The fix weighs each onset by the square
    // of its hit's peak over the background: it rests on the three strong hits.
    auto corner = silence(4, 4000);
    const double metres[] = { 0, 1, std::sqrt(2.0), 1 };
    for (int i = 0; i < 4; ++i)
        addBurst(*corner, i, 1000 + int(std::lround(metres[i] / 3000 * 1e6)) + (i == 2 ? 4 : 0),
            i == 2 ? 12 : 60);
    addNoise(*corner, 11);
    QList<HitRow> cornerRows;
    QVERIFY(tabulateHits(*corner, query, cornerRows, cause));
    QCOMPARE(cornerRows.size(), 4);
    const HitRow& fixed = cornerRows[0];
    QVERIFY2(std::hypot(fixed.x, fixed.y) < 0.005,
        qPrintable(QStringLiteral("%1 %2").arg(fixed.x).arg(fixed.y)));
    // Onsets of sources near a sensor, weighed by their waves' loss: a misfit valley runs out
    // beyond the sensor, and the fix must not end in it. At (0.058, 0.931) m, 6 cm from sensor
    // 4 (not at -0.36, 1.35); at (0.05, 0.05) m, losing 63 % a metre (not at -0.39, -0.39).
    std::vector<double> loss;
    for (const double d : { 0.0707, 0.9513, 1.3435, 0.9513 })
        loss.push_back(std::exp(-2 * d));
    const PlanarFix nearOne = planarPosition(query.sensors, { 24e-6, 317e-6, 448e-6, 317e-6 }, 3000,
        1e-6, QList<double>(loss.begin(), loss.end()));
    QVERIFY2(std::hypot(nearOne.position.x() - 0.05, nearOne.position.y() - 0.05) < 0.02,
        qPrintable(QStringLiteral("%1 %2").arg(nearOne.position.x()).arg(nearOne.position.y())));
    const PlanarFix nearFour = planarPosition(query.sensors,
        { 0.042319, 0.042447, 0.04232, 0.042032 }, 3000, 1e-6, { 59.0, 53.3, 67.7, 197.6 });
    QVERIFY2(std::hypot(nearFour.position.x() - 0.058, nearFour.position.y() - 0.931) < 0.02,
        qPrintable(QStringLiteral("%1 %2").arg(nearFour.position.x()).arg(nearFour.position.y())));

    SpeedFit fit;
    QVERIFY(fitSpeed(rows.mid(20), query, QPointF(0.2, 0.3), 1e6, fit, cause));
    QCOMPARE(fit.events, 10);
    QVERIFY2(std::fabs(fit.speedMps / 3000 - 1) < 0.01, qPrintable(QString::number(fit.speedMps)));

    // A slow rise from 1000 crosses 20 codes after a quick one from 1040 does: the event's
    // differences count from its earliest onset, not from its first crossing.
    HitQuery pair;
    pair.settings = settings(800, 1000, 200);
    pair.settings.thresholdVolts = 20 * code;
    pair.spacingMetres = 1;
    record = silence(2, 3000);
    addBurst(*record, 0, 1000, 120, 150);
    addBurst(*record, 1, 1040, 100);
    addNoise(*record, 3);
    QVERIFY(tabulateHits(*record, pair, rows, cause));
    QCOMPARE(rows.size(), 2);
    QVERIFY(rows[0].hit.channel == 1 && rows[0].dtSeconds > 0 && rows[1].dtSeconds == 0);
}

QTEST_GUILESS_MAIN(tst_Hits)
#include "test_hits.moc"
