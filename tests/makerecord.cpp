// makerecord FILE [CHANNELS [SAMPLES [SEED]]]: writes a record file of decaying sine bursts,
// for looking at the program and for seeding the fuzzer.
#include "support/records.h"
#include "wave_stor.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: makerecord FILE [CHANNELS [SAMPLES [SEED]]]\n");
        return 2;
    }
    const int channels = argc > 2 ? std::atoi(argv[2]) : 4;
    const int samples = argc > 3 ? std::atoi(argv[3]) : 100000;
    const auto seed = quint32(argc > 4 ? std::atoi(argv[4]) : 1);
    auto record = testrecords::make(channels, samples, seed);
    if (!record)
        return 1;
    const int result = writeRaw(*record, QString::fromLocal8Bit(argv[1]));
    if (result != 0)
        std::fprintf(stderr, "makerecord: writing failed (%d)\n", result);
    return result == 0 ? 0 : 1;
}
