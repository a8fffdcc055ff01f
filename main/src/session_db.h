// A monitoring session's database: one SQLite file, session.sqlite, in the session's folder
// beside the capture files, with the session's settings, its captures, their hits, events and
// the events' sources; written one capture to a transaction through a write-ahead log, read by
// the trend plots and the summary. A capture's record file is written before its rows, so that
// a program killed at any moment leaves no rows without their file. Depends on the hit search
// (ae_hits.h), the trend values (trend_data.h), QtCore and SQLite; never on a window.
#pragma once

#include "ae_hits.h"
#include "trend_data.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

struct sqlite3;
class WaveStore;

// The database's name in its session folder.
extern const char* const sessionDbName; // "session.sqlite"

// The schema this program writes and reads, kept in the database's user_version; the database's
// application_id tells a session database from any other SQLite file.
constexpr int sessionSchemaVersion = 1;
constexpr int sessionApplicationId = 0x564c5853; // "VLXS"

// A capture as its row holds it: its record file (a name in the session folder), its number
// in the session (from 1), when its transfer started, and its acquisition parameters.
struct CaptureInfo
{
    QString file;
    int number = 0;
    QDateTime startUtc;
    double durationSeconds = 0;
    int samples = 0; // per channel
    double rateHz = 0;
    int channels = 0;
    QString inputs; // the channels' input numbers, "1,2,3,4"
    QString gains; // their gain codes, "0,3,6,12"
    bool detector = false;
    bool syncExternal = false;
};

// The capture of record, kept in file as number, started at startUtc.
CaptureInfo captureOf(
    const WaveStore& record, const QString& file, int number, const QDateTime& startUtc);

// The acquisition parameters in words, as the session's row keeps them: "channels=4
// inputs=1,2,3,4 gains=0,3,6,12 rate_Hz=120000 samples=4096 detector=off sync=internal".
QString acquisitionText(const CaptureInfo& capture);

// A capture file's name: "YYYYMMDD-HHMMSS-NNNN.raw" of its start (UTC, whole seconds) and its
// number (four digits, more from 10000 on).
QString captureFileName(const QDateTime& startUtc, int number);

// The start and number that a capture file's name gives; false for a name not made so.
bool parseCaptureFileName(const QString& name, QDateTime& startUtc, int& number);

// The number of a folder's next capture: one more than the highest among its capture files'
// names and its database's captures; 1 for a new folder.
int nextCaptureNumber(const QString& folder);

// What a session holds: its captures, hits and events, the first capture's start and the last
// one's end (seconds since 1970-01-01 UTC) and the time the captures recorded.
struct SessionSummary
{
    int captures = 0;
    qint64 hits = 0;
    qint64 events = 0;
    double firstUtcSeconds = 0;
    double lastUtcSeconds = 0;
    double recordedSeconds = 0;

    double spanSeconds() const { return lastUtcSeconds - firstUtcSeconds; }
    // Hits per hour over the span; negative when the session spans no time.
    double hitsPerHour() const;
};

// A session folder's database. Every failure gives its cause in words (English, naming no
// file: the caller names session.sqlite); a file that is not a session database of this
// program, or one of a newer schema, is refused and left as it is.
class SessionDb
{
public:
    SessionDb() = default;
    ~SessionDb();
    SessionDb(const SessionDb&) = delete;
    SessionDb& operator=(const SessionDb&) = delete;

    // Opens the database of an existing, writable folder, making it when there is none (or
    // when an empty file stands in its place, as a program killed while making it leaves).
    // One writer at a time: while one has it open, another (a series, a rebuild, in this
    // program or another) is refused as "in use by another program".
    bool open(const QString& folder, QString& cause);
    // Opens an existing database to read only: nothing is written or made.
    bool openForReading(const QString& folder, QString& cause);
    void close();
    bool isOpen() const { return db != nullptr; }
    QString folder() const { return folderPath; }

    // The session's row: when it was made (kept from the first time), the program's version,
    // the acquisition parameters in words and the AE settings of query.
    bool writeSession(const HitQuery& query, const QString& acquisition, QString& cause);

    // A capture and its rows in one transaction, rolled back on any failure: the hits of rows
    // (the search's, with rateHz the capture's sampling frequency and detector whether its
    // counts are of an envelope), and when query locates, their events and the events'
    // sources. Refused when the capture's record file is not in the folder; a session's file
    // and its folder are flushed to the disk first, so that no power cut keeps rows without it.
    bool addCapture(const CaptureInfo& info, const QList<HitRow>& rows, const HitQuery& query,
        double rateHz, bool detector, QString& cause);

    // Every hit stored after the hit afterHitId (0: all), in the order they were stored.
    QVector<TrendHit> trendHits(qint64 afterHitId) const;

    bool summary(SessionSummary& result, QString& cause) const;

    // The highest capture number stored; 0 when there is none.
    int highestCaptureNumber() const;
    // The record files of the captures stored.
    QStringList captureFiles() const;

    // How a database is used: a session's, read only, or built anew (SessionRebuild).
    enum class Use { session, reading, scratch };

private:
    friend class SessionRebuild;
    bool openFile(const QString& folder, const QString& path, Use use, QString& cause);
    bool recognise(bool& fresh, QString& cause);
    bool configure(Use use, bool fresh, QString& cause);
    bool execute(const char* sql, QString& cause);
    bool failed(int result, QString& cause);

    sqlite3* db = nullptr;
    QString folderPath;
    Use openedFor = Use::reading;
    int folderHold = -1; // a session's writer holds its folder (flock) while it is open
};

// A folder's database built anew into a temporary file beside it, which replaces the old one
// whole at commit (the old one's write-ahead log checkpointed first, so that no stale log
// lives on beside the new file); a build that fails or is dropped leaves the old one as it was.
class SessionRebuild
{
public:
    SessionRebuild() = default;
    ~SessionRebuild();
    SessionRebuild(const SessionRebuild&) = delete;
    SessionRebuild& operator=(const SessionRebuild&) = delete;

    // Refuses a folder whose session.sqlite is not a session database of this program.
    bool begin(const QString& folder, QString& cause);
    SessionDb& database() { return building; }
    bool commit(QString& cause);

private:
    void drop();

    SessionDb building;
    QString folderPath;
    QByteArray temporary;
};
