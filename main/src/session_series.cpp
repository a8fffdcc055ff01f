#include "session_series.h"

#include "file_io.h"
#include "record_export.h"
#include "session_db.h"
#include "wave_stor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

bool keepCapture(SessionDb& session, WaveStore& record, const QDateTime& startUtc, int number,
    const HitQuery& query, bool onlyWithHits, KeptCapture& kept, QString& cause)
{
    kept = KeptCapture();
    QList<HitRow> rows;
    HitFacts facts;
    if (!tabulateHits(record, query, rows, cause, &facts))
        return false;
    kept.hits = int(rows.size());
    kept.events = rows.isEmpty() ? 0 : rows.last().event + 1;
    if (onlyWithHits && rows.isEmpty())
        return true;
    kept.number = number;
    kept.file = captureFileName(startUtc, kept.number);
    const QString path = QDir(session.folder()).filePath(kept.file);
    // A file of that name is never replaced.
    if (QFileInfo::exists(path)) {
        cause = QStringLiteral("%1 exists already").arg(kept.file);
        return false;
    }
    const int written = writeRaw(record, path);
    if (written != 0) {
        cause = saveCause(written, errno);
        return false;
    }
    kept.written = true;
    const CaptureInfo info = captureOf(record, kept.file, kept.number, startUtc);
    if (!session.addCapture(info, rows, query, sampleRateHz(record), facts.detector, cause))
        return false;
    kept.kept = true;
    return true;
}

int takeInStrayCaptures(
    SessionDb& session, const HitQuery& query, QStringList& unreadable, QString& cause)
{
    const QStringList stored = session.captureFiles();
    const QDir folder(session.folder());
    int taken = 0;
    for (const QString& name :
        folder.entryList({ QStringLiteral("*.raw") }, QDir::Files, QDir::Name)) {
        QDateTime start;
        int number = 0;
        if (stored.contains(name) || !parseCaptureFileName(name, start, number))
            continue;
        WaveStore record(QRect(0, 0, 640, 400));
        QList<HitRow> rows;
        HitFacts facts;
        QString why;
        if (!readRaw(record, folder.filePath(name), &why)) {
            unreadable << QStringLiteral("%1 (%2)").arg(name, why);
            continue;
        }
        if (!tabulateHits(record, query, rows, why, &facts)
            || !session.addCapture(captureOf(record, name, number, start), rows, query,
                sampleRateHz(record), facts.detector, why)) {
            cause = QStringLiteral("%1: %2").arg(name, why);
            return -1;
        }
        ++taken;
    }
    return taken;
}

QString stablePortName(const QString& port, const QString& byIdFolder)
{
    const QString target = QFileInfo(port).canonicalFilePath();
    if (target.isEmpty())
        return port;
    const QDir folder(byIdFolder);
    for (const QFileInfo& link : folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (link.isSymLink() && link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
    return port;
}

bool appendSessionLog(const QString& folder, const QString& line)
{
    QFile log(QDir(folder).filePath(QStringLiteral("session.log")));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    const QByteArray text = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + ' '
        + line.toUtf8() + '\n';
    return log.write(text) == text.size() && log.flush();
}
