// Session databases of hand-made captures at 1 MHz, read back through SQLite's own calls and
// compared with values worked out here: a capture's rows and the trend values, the numbering
// across reopening, a failing capture that leaves nothing, refusals that leave other files as
// they were, and a writer killed at random moments that leaves a sound database whose every
// capture has its file and all its hits.
#include "ae_hits.h"
#include "cause_texts.h"
#include "session_db.h"
#include "session_series.h"
#include "support/child.h"
#include "support/files.h"
#include "wave_stor.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <csignal>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double code = 5.0 / 1048576.0; // volts of one code at gain code 12
const QDateTime sessionStart(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC);

// Two channels at 1 MHz, gain code 12, silent but for 50 samples alternating +-30 codes on
// channel 1 from sample 1400 and on channel 2 from 1000: a hit on each, 25 crossings apiece.
std::unique_ptr<WaveStore> twoBursts()
{
    auto record = std::make_unique<WaveStore>(QRect(0, 0, 639, 399));
    record->initialise(2, 3000);
    record->header.clockKHz = 12000;
    record->header.ticksPerSample = 12;
    for (int i = 0; i < 2; ++i) {
        record->channelSlots[i].header.gainCode = 12;
        const int from = i == 0 ? 1400 : 1000;
        for (int k = from; k < from + 50; ++k)
            record->channel(i)->setSample(k, qint8((k - from) % 2 ? -30 : 30));
    }
    return record;
}

// 40 dB_AE, two sensors 1 m apart on a path of 1000 m/s: the source lies at
// (1 - 1000 (0.0010 - 0.0014)) / 2 = 0.7 m from channel 1's sensor.
HitQuery located()
{
    HitQuery query;
    query.settings.thresholdVolts = 1e-4;
    query.spacingMetres = 1;
    query.speedMps = 1000;
    return query;
}

// Writes the record as capture number, started number minutes after the session's start, and
// stores its hits (with extra rows after them); the cause, empty when stored.
QString addTo(SessionDb& db, WaveStore& record, int number, const QList<HitRow>& extra = {})
{
    const QDateTime start = sessionStart.addSecs(60 * number);
    const QString name = captureFileName(start, number);
    QList<HitRow> rows;
    QString cause;
    if (writeRaw(record, db.folder() + "/" + name) != 0)
        return "not written";
    if (tabulateHits(record, located(), rows, cause))
        db.addCapture(
            captureOf(record, name, number, start), rows + extra, located(), 1e6, false, cause);
    return cause;
}

// The rows of a query on the folder's database, their columns joined by '|'.
QStringList sql(const QString& folder, const char* query)
{
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    QStringList rows;
    const QByteArray file = (folder + "/session.sqlite").toUtf8();
    if (sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, query, -1, &statement, nullptr) == SQLITE_OK)
        while (sqlite3_step(statement) == SQLITE_ROW) {
            QStringList columns;
            for (int c = 0; c < sqlite3_column_count(statement); ++c)
                columns << QString::fromUtf8(
                    reinterpret_cast<const char*>(sqlite3_column_text(statement, c)));
            rows << columns.join('|');
        }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

double number(const QStringList& rows, int row, int column)
{
    return rows.value(row).split('|').value(column).toDouble();
}

} // namespace

class tst_Session : public QObject
{
    Q_OBJECT
private slots:
    void rowsOfACapture();
    void failuresLeaveNothingAndNumberingGoesOn();
    void refusalsLeaveFilesAsTheyWere();
    void killedWriterLeavesASoundDatabase();
    void seriesCapturesAndPortNames();
};

void tst_Session::rowsOfACapture()
{
    QTemporaryDir dir;
    SessionDb db;
    QString cause;
    QVERIFY2(db.open(dir.path(), cause), qPrintable(cause));
    QVERIFY2(db.writeSession(located(), "channels=2", cause), qPrintable(cause));
    auto record = twoBursts();
    QCOMPARE(addTo(db, *record, 1), QString());

    QCOMPARE(sql(dir.path(),
                 "SELECT number, file, start_utc, start_s, samples, rate_hz, gains, "
                 "detector, sync FROM captures"),
        QStringList("1|20240501-100100-0001.raw|2024-05-01T10:01:00.000Z|1714557660.0|3000|"
                    "1000000.0|12,12|0|internal"));
    QCOMPARE(sql(dir.path(),
                 "SELECT threshold_v, floating_db, location, pair, sensors, speed_mps "
                 "FROM session"),
        QStringList("0.0001||line|1,2||1000.0"));
    const QStringList hits = sql(dir.path(),
        "SELECT channel, utc_s - 1714557660, arrival_s, amplitude_v, amplitude_db, counts, dt_s, "
        "event = (SELECT id FROM events) FROM hits ORDER BY id");
    QCOMPARE(hits.size(), 2);
    for (int h = 0; h < 2; ++h) {
        const double arrival = h == 0 ? 0.0010 : 0.0014;
        QCOMPARE(hits[h].split('|')[0], QString::number(2 - h));
        QVERIFY(std::fabs(number(hits, h, 1) - arrival) < 1e-6);
        QVERIFY(std::fabs(number(hits, h, 2) - arrival) < 1e-12);
        QVERIFY(std::fabs(number(hits, h, 3) - 30 * code) < 1e-12);
        QVERIFY(std::fabs(number(hits, h, 4) - 20 * std::log10(30 * code / 1e-6)) < 1e-9);
        QCOMPARE(number(hits, h, 5), 25.0);
        QVERIFY(std::fabs(number(hits, h, 6) - (arrival - 0.001)) < 1e-12);
        QCOMPARE(hits[h].split('|')[7], QString("1"));
    }
    const QStringList place = sql(dir.path(),
        "SELECT e.number, e.located, l.position_m, l.x_m IS NULL, l.zone FROM events e "
        "JOIN locations l ON l.event = e.id");
    QCOMPARE(place.size(), 1);
    QVERIFY(std::fabs(number(place, 0, 2) - 0.7) < 1e-9);
    QVERIFY(place[0].startsWith("1|1|") && place[0].endsWith("|1|2"));

    const QVector<TrendHit> trend = db.trendHits(0);
    QCOMPARE(trend.size(), 2);
    QVERIFY(trend[0].channel == 1 && trend[1].channel == 0 && trend[0].id < trend[1].id);
    QVERIFY(std::fabs(trend[1].utcSeconds - 1714557660.0014) < 1e-5);
    QVERIFY(trend[0].located && !trend[0].inPlane && trend[0].event == trend[1].event);
    QVERIFY(std::fabs(trend[1].positionMetres - 0.7) < 1e-9 && trend[0].energy > 0);
    QCOMPARE(db.trendHits(trend[0].id).size(), 1);
    QVERIFY(db.trendHits(trend[1].id).isEmpty());
    SessionSummary summary;
    QVERIFY(db.summary(summary, cause));
    QVERIFY(summary.captures == 1 && summary.hits == 2 && summary.events == 1);
    // Seconds since 1970 hold about 0.2 us at this time of day.
    QVERIFY(std::fabs(summary.spanSeconds() - 0.003) < 1e-6);
    QVERIFY(std::fabs(summary.hitsPerHour() / (2 * 3600 / 0.003) - 1) < 1e-3);
}

void tst_Session::failuresLeaveNothingAndNumberingGoesOn()
{
    QTemporaryDir dir;
    QCOMPARE(nextCaptureNumber(dir.path()), 1);
    SessionDb db;
    QString cause;
    QVERIFY2(db.open(dir.path(), cause), qPrintable(cause));
    auto record = twoBursts();
    QCOMPARE(addTo(db, *record, 1), QString());
    // A row that cannot be stored, after two that can: the capture's every row goes with it.
    HitRow broken;
    broken.hit.peakVolts = std::nan("");
    QVERIFY(addTo(db, *record, 2, { broken }).contains("NOT NULL constraint failed"));
    CaptureInfo missing = captureOf(*record, "absent.raw", 3, sessionStart);
    QVERIFY(!db.addCapture(missing, {}, located(), 1e6, false, cause));
    QCOMPARE(
        cause, QString("the record file absent.raw is not in the session folder: no rows stored"));
    QCOMPARE(sql(dir.path(),
                 "SELECT count(*), max(number), (SELECT count(*) FROM hits), "
                 "(SELECT count(*) FROM events) FROM captures"),
        QStringList("1|1|2|1"));
    // The file of the failed capture is there: its number is taken.
    QCOMPARE(nextCaptureNumber(dir.path()), 3);
    QCOMPARE(addTo(db, *record, 3), QString());
    db.close();

    QVERIFY(db.open(dir.path(), cause));
    QCOMPARE(db.highestCaptureNumber(), 3);
    QVERIFY(QFile::remove(dir.filePath(captureFileName(sessionStart.addSecs(180), 3))));
    QCOMPARE(nextCaptureNumber(dir.path()), 4);
    QVERIFY(testfiles::write(dir.filePath("20240501-120000-0009.raw"), "x"));
    QCOMPARE(nextCaptureNumber(dir.path()), 10);

    QCOMPARE(captureFileName(QDateTime(QDate(2031, 12, 31), QTime(23, 59, 58), Qt::UTC), 12345),
        QString("20311231-235958-12345.raw"));
    QDateTime start;
    int n = 0;
    QVERIFY(parseCaptureFileName("20240229-000001-0042.raw", start, n));
    QVERIFY(n == 42 && start == QDateTime(QDate(2024, 2, 29), QTime(0, 0, 1), Qt::UTC));
    for (const char* name : { "20230229-000001-0042.raw", "20240101-000001-042.raw", "x.raw" })
        QVERIFY(!parseCaptureFileName(name, start, n));
}

void tst_Session::refusalsLeaveFilesAsTheyWere()
{
    QTemporaryDir dir;
    SessionDb db;
    QString cause;
    QVERIFY(testfiles::write(dir.filePath("plain"), "x"));
    QVERIFY(!db.open(dir.filePath("plain"), cause) && cause == "not a folder");
    QVERIFY(!db.open(dir.filePath("none"), cause) && cause == "no such folder");

    QVERIFY(QDir(dir.path()).mkdir("text") && QDir(dir.path()).mkdir("other"));
    const QByteArray text = "neither a session nor SQLite, but longer than its header";
    QVERIFY(testfiles::write(dir.filePath("text/session.sqlite"), text));
    sqlite3* other = nullptr;
    sqlite3_open(qPrintable(dir.filePath("other/session.sqlite")), &other);
    QCOMPARE(sqlite3_exec(
                 other, "CREATE TABLE t (x); INSERT INTO t VALUES (1)", nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(other);
    const QByteArray foreign = testfiles::read(dir.filePath("other/session.sqlite"));
    SessionRebuild rebuild;
    for (const auto& [folder, expected, bytes] :
        { std::make_tuple("text", "not an SQLite database", text),
            std::make_tuple("other", "not a session database of this program", foreign) }) {
        QVERIFY(!db.open(dir.filePath(folder), cause) && cause == expected);
        QVERIFY(!rebuild.begin(dir.filePath(folder), cause) && cause == expected);
        QCOMPARE(QDir(dir.filePath(folder)).entryList(QDir::Files), QStringList("session.sqlite"));
        QCOMPARE(testfiles::read(dir.filePath(QString(folder) + "/session.sqlite")), bytes);
    }

    // A rebuild dropped before its commit leaves the database it would have replaced.
    QVERIFY(QDir(dir.path()).mkdir("newer"));
    QVERIFY(db.open(dir.filePath("newer"), cause));
    auto record = twoBursts();
    QCOMPARE(addTo(db, *record, 1), QString());
    db.close();
    const QByteArray before = testfiles::read(dir.filePath("newer/session.sqlite"));
    {
        SessionRebuild dropped;
        QVERIFY2(dropped.begin(dir.filePath("newer"), cause), qPrintable(cause));
        QVERIFY(dropped.database().addCapture(
            captureOf(*record, "20240501-100100-0001.raw", 1, sessionStart), {}, located(), 1e6,
            false, cause));
    }
    QCOMPARE(testfiles::read(dir.filePath("newer/session.sqlite")), before);
    QCOMPARE(QDir(dir.filePath("newer")).entryList({ "session*" }, QDir::Files),
        QStringList("session.sqlite"));
    // A database of a later schema is left to the program that wrote it.
    sqlite3_open(qPrintable(dir.filePath("newer/session.sqlite")), &other);
    sqlite3_exec(other, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    QVERIFY(!db.open(dir.filePath("newer"), cause));
    QCOMPARE(cause, QString("written by a newer program (schema 2; this one reads 1)"));

    if (::geteuid() == 0) {
        QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFileDevice::ExeOther);
        const int status = testchild::run([&] {
            SessionDb denied;
            QString why;
            return ::setgid(65534) == 0 && ::setuid(65534) == 0
                    && !denied.open(dir.filePath("newer"), why) && why == "permission denied"
                ? 0
                : 1;
        });
        QCOMPARE(status, 0);
    }
}

void tst_Session::killedWriterLeavesASoundDatabase()
{
    QTemporaryDir dir;
    for (int round = 0; round < 4; ++round) {
        const pid_t child = ::fork();
        if (child == 0) {
            SessionDb db;
            QString cause;
            auto record = twoBursts();
            for (int n = nextCaptureNumber(dir.path()); db.isOpen() || db.open(dir.path(), cause);
                 ++n)
                if (!addTo(db, *record, n).isEmpty())
                    break;
            ::_exit(1);
        }
        QTest::qSleep(int(QRandomGenerator::global()->bounded(30, 400)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        QVERIFY(WIFSIGNALED(status));
    }
    QCOMPARE(sql(dir.path(), "PRAGMA integrity_check"), QStringList("ok"));
    const QStringList files = sql(dir.path(), "SELECT file FROM captures");
    QVERIFY(!files.isEmpty());
    for (const QString& file : files)
        QVERIFY2(QFile::exists(dir.filePath(file)), qPrintable(file));
    QCOMPARE(sql(dir.path(),
                 "SELECT count(*) FROM captures c WHERE "
                 "(SELECT count(*) FROM hits h WHERE h.capture = c.id) != 2"),
        QStringList("0"));
    QCOMPARE(sql(dir.path(), "SELECT count(DISTINCT number) = count(*) FROM captures"),
        QStringList("1"));
}

// A series keeps a capture with hits as its file and rows, and lets one without hits go when
// only those with hits are kept; a file it finds without rows is taken in once. An adapter's
// port is found again by its stable link.
void tst_Session::seriesCapturesAndPortNames()
{
    QTemporaryDir folder;
    SessionDb db;
    QString cause;
    QVERIFY(db.open(folder.path(), cause));
    const auto bursts = twoBursts();
    auto silent = twoBursts();
    for (int i = 0; i < 2; ++i)
        for (int k = 0; k < 3000; ++k)
            silent->channel(i)->setSample(k, 0);
    KeptCapture kept;
    QVERIFY(keepCapture(db, *silent, sessionStart, 7, located(), true, kept, cause));
    QVERIFY(!kept.kept && !kept.written && kept.hits == 0);
    QVERIFY(QDir(folder.path()).entryList({ "*.raw" }).isEmpty());
    QVERIFY(keepCapture(db, *bursts, sessionStart, 7, located(), true, kept, cause));
    QVERIFY(kept.kept && kept.written);
    QCOMPARE(kept.file, QString("20240501-100000-0007.raw"));
    QCOMPARE(kept.hits, 2);
    QCOMPARE(kept.events, 1);
    QVERIFY(!keepCapture(db, *bursts, sessionStart, 7, located(), false, kept, cause));
    QCOMPARE(fileCauseText(cause), QString("файл 20240501-100000-0007.raw уже есть"));
    QVERIFY(QFile::copy(folder.filePath(kept.file), folder.filePath("20240501-100100-0008.raw")));
    QVERIFY(testfiles::write(folder.filePath("20240501-100200-0009.raw"), "junk"));
    QStringList unreadable;
    QCOMPARE(takeInStrayCaptures(db, located(), unreadable, cause), 1);
    QCOMPARE(unreadable.size(), 1);
    QVERIFY(unreadable[0].startsWith("20240501-100200-0009.raw ("));
    QCOMPARE(takeInStrayCaptures(db, located(), unreadable, cause), 0);
    QCOMPARE(sql(folder.path(), "SELECT count(*) FROM hits"), QStringList { "4" });

    QVERIFY(QDir(folder.path()).mkpath("by-id"));
    QVERIFY(testfiles::write(folder.filePath("ttyUSB1"), ""));
    QVERIFY(QFile::link(folder.filePath("ttyUSB1"), folder.filePath("by-id/usb-FTDI_A1-if00")));
    QCOMPARE(stablePortName(folder.filePath("ttyUSB1"), folder.filePath("by-id")),
        folder.filePath("by-id/usb-FTDI_A1-if00"));
    QCOMPARE(stablePortName("/dev/ttyS0", folder.filePath("by-id")), QString("/dev/ttyS0"));

    // While the series has the database open, neither a second writer nor a rebuild may take
    // it; once it is closed, they may.
    SessionDb second;
    SessionRebuild rebuild;
    QVERIFY(!second.open(folder.path(), cause));
    QCOMPARE(fileCauseText(cause), QString("база сеанса занята другой программой"));
    QVERIFY(!rebuild.begin(folder.path(), cause));
    db.close();
    QVERIFY(rebuild.begin(folder.path(), cause));
}

QTEST_GUILESS_MAIN(tst_Session)
#include "test_session.moc"
