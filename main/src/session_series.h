// A monitoring series: digitisations one after another into a session folder, each searched
// for hits and kept as a record file named by its start, then as rows of the session database.
// What a capture goes through once it is transferred, and the port name that outlives a
// renumbered adapter; the windows and the unit's link run the series. Depends on the record
// model, the hit search, file writing and the session database; never on a window.
#pragma once

#include "ae_hits.h"

#include <QDateTime>
#include <QString>

class SessionDb;
class WaveStore;

// What the operator asks of a series: its folder, how many captures (0: until STOP), the
// pause between them, and whether captures without hits are let go.
struct SeriesPlan
{
    QString folder;
    int captures = 10;
    int pauseSeconds = 0;
    bool onlyWithHits = false;
};

// What became of one capture: whether it was kept (file and rows) or its file at least
// written, its number and file name in the folder, and its hits and events.
struct KeptCapture
{
    bool kept = false;
    bool written = false;
    int number = 0;
    QString file;
    int hits = 0;
    int events = 0;
};

// A transferred capture started at startUtc: searched for hits with query; unless it has none
// and only captures with hits are kept, written into the session's folder as the file its start
// and number name (nextCaptureNumber for the first of a series, one more for each kept), and
// then its rows stored in one transaction. False with
// the cause in words when the search, the file or the rows failed; a file whose rows failed
// stays, so that no capture already transferred is lost (a rebuild of the database takes it).
bool keepCapture(SessionDb& session, WaveStore& record, const QDateTime& startUtc, int number,
    const HitQuery& query, bool onlyWithHits, KeptCapture& kept, QString& cause);

// The capture files of the session's folder that have no rows (a program stopped between a
// file and its rows leaves one), searched with query and stored: how many, or -1 with the
// cause in words. Files named so that are no records are left out, each with its cause into
// unreadable.
int takeInStrayCaptures(
    SessionDb& session, const HitQuery& query, QStringList& unreadable, QString& cause);

// The name under which port is found again when its adapter is unplugged and comes back under
// another number: the link in byIdFolder (the system's /dev/serial/by-id) that leads to it, or
// port itself when none does.
QString stablePortName(const QString& port, const QString& byIdFolder = QStringLiteral("/dev/serial/by-id"));

// A line of the session's log (session.log in its folder), stamped with the UTC time: false
// when it could not be written.
bool appendSessionLog(const QString& folder, const QString& line);
