#include "session_db.h"

#include "file_io.h"
#include "record_export.h"
#include "versioninfo.h"
#include "wave_stor.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const sessionDbName = "session.sqlite";

namespace {

// The tables as the README's «База сеанса» describes them. Times are seconds since
// 1970-01-01 UTC (start_s, utc_s) or within their capture; channels count from 1; a hit's
// event and dt_s, and the events with their locations, are stored when the search locates.
const char* const schemaSql = R"(
CREATE TABLE IF NOT EXISTS session (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    created_utc TEXT NOT NULL,
    program_version TEXT NOT NULL,
    acquisition TEXT NOT NULL,
    threshold_v REAL,
    floating_db REAL,
    hdt_us REAL NOT NULL,
    hlt_us REAL NOT NULL,
    pdt_us REAL NOT NULL,
    high_pass_khz REAL NOT NULL,
    preamp_db REAL NOT NULL,
    channels TEXT,
    location TEXT NOT NULL CHECK (location IN ('none', 'line', 'plane')),
    spacing_m REAL,
    pair TEXT,
    sensors TEXT,
    speed_mps REAL,
    window_s REAL);
CREATE TABLE IF NOT EXISTS captures (
    id INTEGER PRIMARY KEY,
    number INTEGER NOT NULL,
    file TEXT NOT NULL UNIQUE,
    start_utc TEXT NOT NULL,
    start_s REAL NOT NULL,
    duration_s REAL NOT NULL,
    samples INTEGER NOT NULL,
    rate_hz REAL NOT NULL,
    channels INTEGER NOT NULL,
    inputs TEXT NOT NULL,
    gains TEXT NOT NULL,
    detector INTEGER NOT NULL,
    sync TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS events (
    id INTEGER PRIMARY KEY,
    capture INTEGER NOT NULL REFERENCES captures(id),
    number INTEGER NOT NULL,
    first_utc_s REAL NOT NULL,
    located INTEGER NOT NULL,
    UNIQUE (capture, number));
CREATE TABLE IF NOT EXISTS locations (
    event INTEGER PRIMARY KEY REFERENCES events(id),
    position_m REAL,
    x_m REAL,
    y_m REAL,
    residual_m REAL,
    zone INTEGER);
CREATE TABLE IF NOT EXISTS hits (
    id INTEGER PRIMARY KEY,
    capture INTEGER NOT NULL REFERENCES captures(id),
    channel INTEGER NOT NULL,
    utc_s REAL NOT NULL,
    arrival_s REAL NOT NULL,
    onset_s REAL NOT NULL,
    amplitude_v REAL NOT NULL,
    amplitude_db REAL NOT NULL,
    rise_s REAL NOT NULL,
    duration_s REAL NOT NULL,
    counts INTEGER,
    energy_v2s REAL NOT NULL,
    background_rms_v REAL NOT NULL,
    clipped INTEGER NOT NULL,
    peak_hz REAL,
    centroid_hz REAL,
    event INTEGER REFERENCES events(id),
    dt_s REAL);
CREATE INDEX IF NOT EXISTS hits_utc ON hits(utc_s);
CREATE INDEX IF NOT EXISTS hits_capture ON hits(capture);
CREATE INDEX IF NOT EXISTS events_capture ON events(capture);
)";

// The first bytes of every SQLite database file.
const char sqliteMagic[16] = "SQLite format 3";

// A prepared statement, finalised when it goes; a statement that could not be prepared steps
// to the cause.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
        : prepared(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr))
    {
    }
    ~Statement() { sqlite3_finalize(statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void real(int i, double value) { sqlite3_bind_double(statement, i, value); }
    void integer(int i, qint64 value) { sqlite3_bind_int64(statement, i, value); }
    void text(int i, const QString& value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(statement, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    // Binds the value when present, else NULL.
    void realOrNull(int i, double value, bool present)
    {
        present ? real(i, value) : (void)sqlite3_bind_null(statement, i);
    }
    void integerOrNull(int i, qint64 value, bool present)
    {
        present ? integer(i, value) : (void)sqlite3_bind_null(statement, i);
    }
    void textOrNull(int i, const QString& value)
    {
        value.isEmpty() ? (void)sqlite3_bind_null(statement, i) : text(i, value);
    }
    // SQLITE_ROW, SQLITE_DONE or the failure; ready for the next bindings after SQLITE_DONE.
    int step()
    {
        if (prepared != SQLITE_OK)
            return prepared;
        const int result = sqlite3_step(statement);
        if (result != SQLITE_ROW)
            sqlite3_reset(statement);
        return result;
    }
    double realAt(int column) const { return sqlite3_column_double(statement, column); }
    qint64 integerAt(int column) const { return sqlite3_column_int64(statement, column); }
    QString textAt(int column) const
    {
        return QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(statement, column)));
    }

private:
    sqlite3_stmt* statement = nullptr;
    int prepared;
};

// The cause of a failed call in words; errno, where the system said more, in the file layer's.
QString databaseCause(sqlite3* db, int result)
{
    const int error = db ? sqlite3_system_errno(db) : 0;
    switch (result & 0xff) {
    case SQLITE_FULL:
        return saveCause(-1, ENOSPC);
    case SQLITE_NOTADB:
        return QStringLiteral("not an SQLite database");
    case SQLITE_CORRUPT:
        return QStringLiteral("the database is damaged");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("the database is in use by another program");
    case SQLITE_READONLY:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        if (error != 0)
            return saveCause(-1, error);
        break;
    default:
        break;
    }
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(result));
}

QString databasePath(const QString& folder)
{
    return QDir(folder).filePath(QLatin1String(sessionDbName));
}

bool exists(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

// The folder held for one writer of its session: a lock on the folder itself, which another
// program's writer (a series, a rebuild) cannot take while this one lives; the descriptor, or
// -1 with the cause in words.
int holdFolder(const QString& folder, QString& cause)
{
    const int fd = ::open(pathBytes(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        cause = readCause(errno);
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        cause = errno == EWOULDBLOCK ? QStringLiteral("the database is in use by another program")
                                     : readCause(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

// Why a folder cannot hold a session (to write in it when writable); empty when it can.
QString folderProblem(const QString& folder, bool writable)
{
    const QByteArray path = pathBytes(folder);
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return saveCause(-1, errno);
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("not a folder");
    if (writable && ::access(path.constData(), W_OK | X_OK) != 0)
        return saveCause(-1, errno);
    return QString();
}

// What stands at path: 0 nothing or an empty file, 1 a file that begins as an SQLite database
// does, -1 anything else, which is never opened by SQLite (it might take it for its own).
int existingFile(const QString& path, QString& cause)
{
    struct stat st;
    const QByteArray bytes = pathBytes(path);
    if (::stat(bytes.constData(), &st) != 0)
        return errno == ENOENT ? 0 : (cause = readCause(errno), -1);
    if (!S_ISREG(st.st_mode)) {
        cause = QStringLiteral("not a regular file");
        return -1;
    }
    if (st.st_size == 0)
        return 0;
    char head[sizeof sqliteMagic] = {};
    const int fd = ::open(bytes.constData(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd < 0 ? -1 : ::read(fd, head, sizeof head);
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (n < 0) {
        cause = readCause(error);
        return -1;
    }
    if (n != ssize_t(sizeof head) || std::memcmp(head, sqliteMagic, sizeof head) != 0) {
        cause = QStringLiteral("not an SQLite database");
        return -1;
    }
    return 1;
}

// The name and flags SQLite opens path with. A reader opens read-write where it may (with
// queries only), so that its close, as the last connection's, takes the write-ahead log and
// its index away; where it may not, read-only; and on ground it cannot write and without a
// log (a finished session on read-only media) as an immutable file, for which SQLite asks
// for no shared-memory index it could not make.
QByteArray openingName(const QString& folder, const QString& path, SessionDb::Use use, int& flags)
{
    const QByteArray bytes = pathBytes(path);
    if (use != SessionDb::Use::reading)
        return bytes;
    const bool writable = ::access(pathBytes(folder).constData(), W_OK | X_OK) == 0
        && ::access(bytes.constData(), W_OK) == 0;
    flags = writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    if (writable || exists(bytes + "-wal"))
        return bytes;
    flags |= SQLITE_OPEN_URI;
    return "file:" + bytes.toPercentEncoding("/") + "?immutable=1";
}

bool syncPath(const QByteArray& path, int flags, QString& cause)
{
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        cause = saveCause(-1, error);
    return synced;
}

QString numbersText(const QList<double>& values)
{
    QStringList words;
    for (const double v : values)
        words << QString::number(v, 'g', 15);
    return words.join(',');
}

QString channelsText(const QList<int>& channels)
{
    QStringList words;
    for (const int c : channels)
        words << QString::number(c + 1);
    return words.join(',');
}

double secondsOf(const QDateTime& time)
{
    return double(time.toMSecsSinceEpoch()) / 1000;
}

} // namespace

// --- Captures and their files ------------------------------------------------------------------

CaptureInfo captureOf(
    const WaveStore& record, const QString& file, int number, const QDateTime& startUtc)
{
    CaptureInfo capture;
    capture.file = file;
    capture.number = number;
    capture.startUtc = startUtc.toUTC();
    capture.samples = record.sampleCount();
    capture.rateHz = sampleRateHz(record);
    capture.durationSeconds = capture.rateHz > 0 ? capture.samples / capture.rateHz : 0;
    capture.channels = record.channelCount();
    QStringList inputs;
    QStringList gains;
    for (int i = 0; i < capture.channels; ++i) {
        inputs << QString::number(record.channelSlots[i].header.inputNumber);
        gains << QString::number(record.channelSlots[i].header.gainCode);
    }
    capture.inputs = inputs.join(',');
    capture.gains = gains.join(',');
    capture.detector = record.header.detector != 0;
    capture.syncExternal = record.header.syncExternal != 0;
    return capture;
}

QString acquisitionText(const CaptureInfo& capture)
{
    return QStringLiteral(
        "channels=%1 inputs=%2 gains=%3 rate_Hz=%4 samples=%5 detector=%6 sync=%7")
        .arg(capture.channels)
        .arg(capture.inputs, capture.gains, QString::number(capture.rateHz, 'g', 15))
        .arg(capture.samples)
        .arg(capture.detector ? "on" : "off", capture.syncExternal ? "external" : "internal");
}

QString captureFileName(const QDateTime& startUtc, int number)
{
    return startUtc.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"))
        + QStringLiteral("-%1.raw").arg(number, 4, 10, QLatin1Char('0'));
}

bool parseCaptureFileName(const QString& name, QDateTime& startUtc, int& number)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{8})-(\\d{6})-(\\d{4,9})\\.raw$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return false;
    const QDate date = QDate::fromString(match.captured(1), QStringLiteral("yyyyMMdd"));
    const QTime time = QTime::fromString(match.captured(2), QStringLiteral("HHmmss"));
    if (!date.isValid() || !time.isValid())
        return false;
    startUtc = QDateTime(date, time, Qt::UTC);
    number = match.captured(3).toInt();
    return true;
}

int nextCaptureNumber(const QString& folder)
{
    int highest = 0;
    QDateTime start;
    int number = 0;
    for (const QString& name : QDir(folder).entryList({ QStringLiteral("*.raw") }, QDir::Files))
        if (parseCaptureFileName(name, start, number))
            highest = std::max(highest, number);
    SessionDb db;
    QString cause;
    if (db.openForReading(folder, cause))
        highest = std::max(highest, db.highestCaptureNumber());
    return highest + 1;
}

double SessionSummary::hitsPerHour() const
{
    return spanSeconds() > 0 ? double(hits) * 3600 / spanSeconds() : -1;
}

// --- Opening -----------------------------------------------------------------------------------

SessionDb::~SessionDb()
{
    close();
}

bool SessionDb::open(const QString& folder, QString& cause)
{
    return openFile(folder, databasePath(folder), Use::session, cause);
}

bool SessionDb::openForReading(const QString& folder, QString& cause)
{
    return openFile(folder, databasePath(folder), Use::reading, cause);
}

void SessionDb::close()
{
    if (db)
        sqlite3_close_v2(db);
    db = nullptr;
    folderPath.clear();
    if (folderHold >= 0)
        ::close(folderHold);
    folderHold = -1;
}

bool SessionDb::openFile(const QString& folder, const QString& path, Use use, QString& cause)
{
    close();
    cause = folderProblem(folder, use != Use::reading);
    if (!cause.isEmpty())
        return false;
    const int found = existingFile(path, cause);
    if (found < 0)
        return false;
    if (use == Use::reading && found == 0) {
        cause = QStringLiteral("no session database in the folder");
        return false;
    }
    if (use == Use::session) {
        folderHold = holdFolder(folder, cause);
        if (folderHold < 0)
            return false;
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const QByteArray name = openingName(folder, path, use, flags);
    const int result = sqlite3_open_v2(name.constData(), &db, flags, nullptr);
    bool fresh = false;
    if (result != SQLITE_OK) {
        cause = databaseCause(db, result);
    } else {
        sqlite3_busy_timeout(db, 5000);
        if (recognise(fresh, cause) && configure(use, fresh, cause)) {
            folderPath = folder;
            openedFor = use;
            return true;
        }
    }
    close();
    return false;
}

// Whether the database is one of ours of a schema this program reads (fresh: no tables at all
// yet, to be made); nothing is written until it is known.
bool SessionDb::recognise(bool& fresh, QString& cause)
{
    qint64 values[3] = {};
    const char* const queries[3]
        = { "PRAGMA application_id", "PRAGMA user_version", "SELECT count(*) FROM sqlite_schema" };
    for (int k = 0; k < 3; ++k) {
        Statement query(db, queries[k]);
        const int result = query.step();
        if (result != SQLITE_ROW)
            return failed(result, cause);
        values[k] = query.integerAt(0);
    }
    const auto [application, version, objects] = values;
    fresh = application == 0 && version == 0 && objects == 0;
    if (application == sessionApplicationId && version > sessionSchemaVersion)
        cause = QStringLiteral("written by a newer program (schema %1; this one reads %2)")
                    .arg(version)
                    .arg(sessionSchemaVersion);
    else if (application != sessionApplicationId && !fresh)
        cause = QStringLiteral("not a session database of this program");
    return cause.isEmpty();
}

// The journal and durability of each use, and a fresh database's tables. A session writes a
// write-ahead log synced at every commit (synchronous FULL): a killed program loses nothing
// committed either way, and FULL keeps a commit through a power cut too, at one flush per
// capture, nothing beside its transfer. A scratch database, thrown away when its build fails,
// keeps its journal in memory and is flushed once, whole, before it is renamed into place.
bool SessionDb::configure(Use use, bool fresh, QString& cause)
{
    if (use == Use::reading) {
        if (fresh)
            cause = QStringLiteral("no session database in the folder");
        return !fresh && execute("PRAGMA query_only = ON", cause);
    }
    if (use == Use::session) {
        Statement journal(db, "PRAGMA journal_mode = WAL");
        const int result = journal.step();
        if (result != SQLITE_ROW)
            return failed(result, cause);
        if (journal.textAt(0).compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            cause = QStringLiteral("the folder's file system keeps no write-ahead log");
            return false;
        }
    }
    if (!execute(use == Use::session ? "PRAGMA synchronous = FULL; PRAGMA foreign_keys = ON"
                                     : "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF; "
                                       "PRAGMA foreign_keys = ON",
            cause))
        return false;
    if (!fresh)
        return true;
    const QByteArray make = QByteArray("BEGIN IMMEDIATE; PRAGMA application_id = ")
        + QByteArray::number(sessionApplicationId) + "; PRAGMA user_version = "
        + QByteArray::number(sessionSchemaVersion) + ";" + schemaSql + "COMMIT;";
    return execute(make.constData(), cause);
}

bool SessionDb::execute(const char* sql, QString& cause)
{
    const int result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (result == SQLITE_OK)
        return true;
    failed(result, cause);
    if (!sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool SessionDb::failed(int result, QString& cause)
{
    cause = databaseCause(db, result);
    return false;
}

// --- Writing -----------------------------------------------------------------------------------

namespace {

const char* const notOpen = "no session database is open";

int insertCapture(sqlite3* db, const CaptureInfo& info, qint64& id)
{
    Statement capture(db,
        "INSERT INTO captures (number, file, start_utc, start_s, duration_s, samples, rate_hz, "
        "channels, inputs, gains, detector, sync) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, "
        "?10, ?11, ?12)");
    capture.integer(1, info.number);
    capture.text(2, info.file);
    capture.text(3, info.startUtc.toUTC().toString(Qt::ISODateWithMs));
    capture.real(4, secondsOf(info.startUtc));
    capture.real(5, info.durationSeconds);
    capture.integer(6, info.samples);
    capture.real(7, info.rateHz);
    capture.integer(8, info.channels);
    capture.text(9, info.inputs);
    capture.text(10, info.gains);
    capture.integer(11, info.detector);
    capture.text(12, QLatin1String(info.syncExternal ? "external" : "internal"));
    const int result = capture.step();
    id = sqlite3_last_insert_rowid(db);
    return result;
}

// The event of row, first hit at utcSeconds, and its source when located.
int insertEvent(sqlite3* db, Statement& event, Statement& place, qint64 capture, const HitRow& row,
    double utcSeconds, qint64& id)
{
    event.integer(1, capture);
    event.integer(2, row.event + 1);
    event.real(3, utcSeconds);
    event.integer(4, row.located);
    int result = event.step();
    id = sqlite3_last_insert_rowid(db);
    if (result != SQLITE_DONE || !row.located)
        return result;
    place.integer(1, id);
    place.realOrNull(2, row.positionMetres, !row.inPlane);
    place.realOrNull(3, row.x, row.inPlane);
    place.realOrNull(4, row.y, row.inPlane);
    place.realOrNull(5, row.residualMetres, row.inPlane && row.residualMetres >= 0);
    place.integerOrNull(6, row.zone + 1, row.zone >= 0);
    return place.step();
}

int insertRows(sqlite3* db, qint64 capture, double startSeconds, const QList<HitRow>& rows,
    const HitQuery& query, double rate, bool detector)
{
    Statement event(
        db, "INSERT INTO events (capture, number, first_utc_s, located) VALUES (?1, ?2, ?3, ?4)");
    Statement place(db, "INSERT INTO locations VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    Statement hit(db,
        "INSERT INTO hits (capture, channel, utc_s, arrival_s, onset_s, amplitude_v, "
        "amplitude_db, rise_s, duration_s, counts, energy_v2s, background_rms_v, clipped, "
        "peak_hz, centroid_hz, event, dt_s) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, "
        "?11, ?12, ?13, ?14, ?15, ?16, ?17)");
    const bool grouped = query.locates();
    QHash<int, qint64> events; // the rows of the search's events
    for (const HitRow& row : rows) {
        const Hit& h = row.hit;
        const double arrival = h.arrival / rate;
        qint64 eventId = events.value(row.event);
        if (grouped && eventId == 0) {
            const int result
                = insertEvent(db, event, place, capture, row, startSeconds + arrival, eventId);
            if (result != SQLITE_DONE)
                return result;
            events.insert(row.event, eventId);
        }
        hit.integer(1, capture);
        hit.integer(2, h.channel + 1);
        hit.real(3, startSeconds + arrival);
        hit.real(4, arrival);
        hit.real(5, h.onset / rate);
        hit.real(6, h.peakVolts);
        hit.real(7, decibelsAe(h.peakVolts, query.preampDb));
        hit.real(8, (h.peak - h.arrival) / rate);
        hit.real(9, (h.last - h.arrival) / rate);
        hit.integerOrNull(10, h.counts, !detector);
        hit.real(11, h.energy);
        hit.real(12, h.backgroundRms);
        hit.integer(13, h.clipped);
        hit.realOrNull(14, h.peakHz, h.peakHz >= 0);
        hit.realOrNull(15, h.centroidHz, h.centroidHz >= 0);
        hit.integerOrNull(16, eventId, grouped);
        hit.realOrNull(17, row.dtSeconds, grouped);
        const int result = hit.step();
        if (result != SQLITE_DONE)
            return result;
    }
    return SQLITE_DONE;
}

} // namespace

bool SessionDb::writeSession(const HitQuery& query, const QString& acquisition, QString& cause)
{
    if (!db) {
        cause = QLatin1String(notOpen);
        return false;
    }
    Statement row(db,
        "INSERT OR REPLACE INTO session VALUES (1, COALESCE((SELECT created_utc FROM session), "
        "?1), ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17)");
    const HitSettings& s = query.settings;
    const bool floating = s.floatingDb >= 0;
    const bool plane = query.planar();
    const bool line = !plane && query.locates();
    QStringList places;
    for (const QPointF& p : query.sensors)
        places << numbersText({ p.x(), p.y() });
    row.text(1, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    row.text(2, versioninfo::numberText());
    row.text(3, acquisition);
    row.realOrNull(4, s.thresholdVolts, !floating);
    row.realOrNull(5, s.floatingDb, floating);
    row.real(6, s.hdtMicros);
    row.real(7, s.hltMicros);
    row.real(8, s.pdtMicros);
    row.real(9, s.highPassKhz);
    row.real(10, query.preampDb);
    row.textOrNull(11, channelsText(query.channels));
    row.text(12, QLatin1String(plane ? "plane" : line ? "line" : "none"));
    row.realOrNull(13, query.spacingMetres, line);
    row.textOrNull(14, line ? channelsText({ query.pair[0], query.pair[1] }) : QString());
    row.textOrNull(15, plane ? places.join(';') : QString());
    row.realOrNull(16, query.speedMps, plane || line);
    row.realOrNull(17, query.windowSeconds, query.windowSeconds >= 0);
    const int result = row.step();
    return result == SQLITE_DONE || failed(result, cause);
}

bool SessionDb::addCapture(const CaptureInfo& info, const QList<HitRow>& rows,
    const HitQuery& query, double rateHz, bool detector, QString& cause)
{
    const QByteArray file = pathBytes(QDir(folderPath).filePath(info.file));
    struct stat st;
    const bool filed = !info.file.isEmpty() && !info.file.contains('/')
        && ::stat(file.constData(), &st) == 0 && S_ISREG(st.st_mode);
    if (!db || !(rateHz > 0 && std::isfinite(rateHz)) || !filed) {
        cause = !db ? QLatin1String(notOpen)
            : !filed
            ? QStringLiteral("the record file %1 is not in the session folder: no rows stored")
                  .arg(info.file)
            : QStringLiteral("the capture has no sampling frequency");
        return false;
    }
    // A session's rows are committed durably: their file, and its name in the folder, first.
    if (openedFor == Use::session
        && (!syncPath(file, O_RDONLY, cause)
            || !syncPath(pathBytes(folderPath), O_RDONLY | O_DIRECTORY, cause)))
        return false;
    if (!execute("BEGIN IMMEDIATE", cause))
        return false;
    qint64 capture = 0;
    int result = insertCapture(db, info, capture);
    if (result == SQLITE_DONE)
        result = insertRows(db, capture, secondsOf(info.startUtc), rows, query, rateHz, detector);
    if (result == SQLITE_DONE)
        return execute("COMMIT", cause);
    failed(result, cause);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

// --- Reading -----------------------------------------------------------------------------------

QVector<TrendHit> SessionDb::trendHits(qint64 afterHitId) const
{
    QVector<TrendHit> hits;
    if (!db)
        return hits;
    Statement query(db,
        "SELECT h.id, h.capture, h.channel, h.utc_s, h.amplitude_db, h.energy_v2s, h.event, "
        "l.event IS NOT NULL, l.x_m IS NOT NULL, l.position_m, l.x_m, l.y_m FROM hits h "
        "LEFT JOIN locations l ON l.event = h.event WHERE h.id > ?1 ORDER BY h.id");
    query.integer(1, afterHitId);
    while (query.step() == SQLITE_ROW) {
        TrendHit hit;
        hit.id = query.integerAt(0);
        hit.capture = query.integerAt(1);
        hit.channel = int(query.integerAt(2)) - 1;
        hit.utcSeconds = query.realAt(3);
        hit.amplitudeDb = query.realAt(4);
        hit.energy = query.realAt(5);
        hit.event = query.integerAt(6) > 0 ? query.integerAt(6) : -1;
        hit.located = query.integerAt(7) != 0;
        hit.inPlane = query.integerAt(8) != 0;
        hit.positionMetres = query.realAt(9);
        hit.x = query.realAt(10);
        hit.y = query.realAt(11);
        hits.append(hit);
    }
    return hits;
}

bool SessionDb::summary(SessionSummary& result, QString& cause) const
{
    result = SessionSummary();
    if (!db) {
        cause = QLatin1String(notOpen);
        return false;
    }
    Statement query(db,
        "SELECT count(*), min(start_s), max(start_s + duration_s), total(duration_s), "
        "(SELECT count(*) FROM hits), (SELECT count(*) FROM events) FROM captures");
    const int stepped = query.step();
    if (stepped != SQLITE_ROW) {
        cause = databaseCause(db, stepped);
        return false;
    }
    result.captures = int(query.integerAt(0));
    result.firstUtcSeconds = query.realAt(1);
    result.lastUtcSeconds = query.realAt(2);
    result.recordedSeconds = query.realAt(3);
    result.hits = query.integerAt(4);
    result.events = query.integerAt(5);
    return true;
}

int SessionDb::highestCaptureNumber() const
{
    if (!db)
        return 0;
    Statement query(db, "SELECT max(number) FROM captures");
    return query.step() == SQLITE_ROW ? int(query.integerAt(0)) : 0;
}

QStringList SessionDb::captureFiles() const
{
    QStringList files;
    if (!db)
        return files;
    Statement query(db, "SELECT file FROM captures ORDER BY number");
    while (query.step() == SQLITE_ROW)
        files << query.textAt(0);
    return files;
}

// --- Rebuilding --------------------------------------------------------------------------------

namespace {

// Whether the folder's database may be replaced: none, or a session database of this program
// that no other program holds open. Opening and closing it checkpoints its write-ahead log into
// it and removes the log, as the last connection's close does; a log left then belongs to
// another connection. A log without its database is stale and removed: it must not be taken
// for the new file's.
bool replaceable(const QString& folder, QString& cause)
{
    const QByteArray path = pathBytes(databasePath(folder));
    const QByteArray log = path + "-wal";
    if (!exists(path)) {
        ::unlink(log.constData());
        ::unlink((path + "-shm").constData());
        return true;
    }
    SessionDb old;
    if (!old.open(folder, cause))
        return false;
    old.close();
    if (exists(log))
        cause = QStringLiteral("the database is in use by another program");
    return cause.isEmpty();
}

} // namespace

SessionRebuild::~SessionRebuild()
{
    drop();
}

bool SessionRebuild::begin(const QString& folder, QString& cause)
{
    drop();
    cause.clear();
    if (!replaceable(folder, cause))
        return false;
    QByteArray name = pathBytes(databasePath(folder)) + ".XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        cause = saveCause(-1, errno);
        return false;
    }
    // Made for the session's people as any new file of theirs would be.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    [[maybe_unused]] const int chmodded = ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    temporary = name;
    holdPendingTemporary(pathText(temporary));
    folderPath = folder;
    if (building.openFile(folder, pathText(temporary), SessionDb::Use::scratch, cause))
        return true;
    drop();
    return false;
}

bool SessionRebuild::commit(QString& cause)
{
    if (!building.isOpen()) {
        cause = QLatin1String(notOpen);
        return false;
    }
    // The file is whole once its last transaction is; it becomes a session's write-ahead-log
    // database before it is flushed and renamed into place.
    const QByteArray target = pathBytes(databasePath(folderPath));
    const bool done = building.execute("PRAGMA journal_mode = WAL", cause)
        && (building.close(), syncPath(temporary, O_RDONLY, cause))
        && replaceable(folderPath, cause)
        && (::rename(temporary.constData(), target.constData()) == 0
            || (cause = saveCause(-1, errno), false));
    if (!done) {
        drop();
        return false;
    }
    releasePendingTemporary();
    temporary.clear();
    return syncPath(pathBytes(folderPath), O_RDONLY | O_DIRECTORY, cause);
}

void SessionRebuild::drop()
{
    building.close();
    if (temporary.isEmpty())
        return;
    for (const char* companion : { "", "-journal", "-wal", "-shm" })
        ::unlink((temporary + companion).constData());
    releasePendingTemporary();
    temporary.clear();
}
