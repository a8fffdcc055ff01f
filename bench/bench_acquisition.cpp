// A 4-channel digitisation run of 131068 samples per channel through the real serial port,
// against the simulated unit in its own process paced at the line rate: the run's wall time
// against the ideal (every byte on the line plus the 200 ms of fixed pauses), and the
// program's processor time against its wall time. Set BENCH_HALF_COUNT for shorter runs.
#include "data.h"
#include "fmain.h"
#include "rs232.h"
#include "wave_stor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Measured
{
    bool done = false;
    double wall = 0;
    double ideal = 0;
    double cpu = 0;
};

Measured measure(qint32 baud, quint16 halfCount, const QTemporaryDir& dir)
{
    Measured m;
    const QString link = dir.filePath(QStringLiteral("korun-%1").arg(baud));
    const QString ready = link + QStringLiteral(".ready");
    QProcess unit;
    unit.start(QStringLiteral(KORUN_SIM_BINARY),
        { "--link", link, "--baud", QString::number(baud), "--busy-ms", "0", "--ready", ready });
    for (int i = 0; i < 500 && !QFile::exists(ready); ++i)
        QThread::msleep(10);
    comPortName = link;
    comBaudRate = baud;
    acqParams = { 0, halfCount, 24, { 0, 1, 2, 3 }, 0, 0, 0 };
    const int samples = 2 * halfCount;
    WaveStore record(QRect(0, 0, 639, 399));
    record.initialise(4, samples);

    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    m.done = runAcquisition(record, nullptr, serialLink(), acqParams, comPortName, comBaudRate);
    m.wall = clock.nsecsElapsed() / 1e9;
    m.cpu = cpuSeconds() - cpuBefore;

    // Program to unit: synchronisation and frame of each exchange; unit to program: the
    // answers, status byte and checksum, and every channel's samples with their checksum.
    const double sent = (4 + 15) + (4 + 2) + 4 * (4 + 7);
    const double received = 2 + 4 + 4 * (2 + samples + 1);
    m.ideal = (sent + received) * 10.0 / baud + 0.2;
    unit.terminate();
    unit.waitForFinished(3000);
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainWnd window;
    if (!window.create(QString()))
        return 2;
    mainWnd = &window;
    const quint16 halfCount = quint16(qEnvironmentVariableIntValue("BENCH_HALF_COUNT") > 0
            ? qEnvironmentVariableIntValue("BENCH_HALF_COUNT")
            : 65534);
    QTemporaryDir dir;
    int missed = 0;
    std::printf("%-58s %10s %8s  %s\n", "goal", "ratio", "limit", "result");
    for (qint32 baud : { 115200, 19200 }) {
        const Measured m = measure(baud, halfCount, dir);
        const double timeRatio = m.wall / m.ideal;
        const double cpuRatio = m.cpu / m.wall;
        const bool timeMet = m.done && timeRatio <= 1.01;
        const bool cpuMet = m.done && cpuRatio <= 0.05;
        missed += !timeMet + !cpuMet;
        std::printf("%-58s %10.3f %8.2f  %s\n",
            qPrintable(QStringLiteral("run 4 x %1 at %2 bit/s: wall / ideal")
                           .arg(2 * halfCount)
                           .arg(baud)),
            timeRatio, 1.01, m.done ? (timeMet ? "met" : "NOT MET") : "run failed");
        std::printf("%-58s %10.3f %8.2f  %s\n",
            qPrintable(QStringLiteral("run 4 x %1 at %2 bit/s: processor / wall")
                           .arg(2 * halfCount)
                           .arg(baud)),
            cpuRatio, 0.05, m.done ? (cpuMet ? "met" : "NOT MET") : "run failed");
        std::fflush(stdout);
    }
    mainWnd = nullptr;
    return missed == 0 ? 0 : 1;
}
