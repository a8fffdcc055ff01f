// Fuzz target: the settings loader reads an adc.ini of any bytes. No input may crash or corrupt
// memory, and every value the loader brings into range must come out within it.
#include "settings.h"
#include "support/files.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A folder of its own for every input: the settings class keeps what it has read by name,
    // size and time, and two inputs of one size can be written within one tick of the clock.
    static QTemporaryDir folders;
    static int inputs = 0;
    const QString dir = folders.filePath(QString::number(++inputs));
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!QDir().mkpath(dir) || !testfiles::write(dir + "/adc.ini", bytes))
        return 0;
    SettingsValues v;
    readSettings(settingsDirectory(dir), v);
    QDir(dir).removeRecursively();
    const auto in
        = [](double value, double low, double high) { return value >= low && value <= high; };
    const AcqParams& acq = v.acq;
    const HitSettings& hits = v.ae.query.settings;
    const std::pair<const char*, bool> rules[] = { { "NumItems", in(acq.halfCount, 1, 65534) },
        { "WaitA", in(acq.freqCode, 2, 65534) },
        { "Gain", *std::max_element(acq.gains, acq.gains + 4) <= 12 }, { "Mux", acq.muxGroup <= 7 },
        { "Sync", acq.sync <= 1 }, { "Detector", acq.detector <= 1 },
        { "Baud", in(v.baudRate, 1200, 115200) }, { "ComName", !v.comName.isEmpty() },
        { "WinFun", in(v.windowFunction, 0, 5) },
        { "Threshold", in(hits.thresholdVolts, 1e-6, 10) }, { "HDT", in(hits.hdtMicros, 1, 1e6) },
        { "HLT", in(hits.hltMicros, 0, 1e6) }, { "PDT", in(hits.pdtMicros, 1, 1e6) },
        { "Spacing", in(v.ae.query.spacingMetres, 1e-3, 1e3) },
        { "Speed", in(v.ae.query.speedMps, 1, 2e4) },
        { "Window", v.ae.query.windowSeconds == -1 || in(v.ae.query.windowSeconds, 0, 1) },
        { "Pair",
            in(v.ae.query.pair[0], 0, 4) && in(v.ae.query.pair[1], 0, 4)
                && v.ae.query.pair[0] != v.ae.query.pair[1] },
        { "FloatingMargin", in(v.ae.marginDb, 0, 60) },
        { "HighPass", in(hits.highPassKhz, 0, 500) }, { "Preamp", in(v.ae.query.preampDb, 0, 100) },
        { "Sensors",
            v.ae.query.sensors.isEmpty()
                || (in(double(v.ae.query.sensors.size()), 3, 4)
                    && std::all_of(v.ae.query.sensors.begin(), v.ae.query.sensors.end(),
                        [&in](const QPointF& p) {
                            return in(p.x(), -1000, 1000) && in(p.y(), -1000, 1000);
                        })) } };
    for (const auto& [key, kept] : rules)
        if (!kept) {
            std::fprintf(stderr, "%s is out of its range\n", key);
            std::abort();
        }
    return 0;
}
