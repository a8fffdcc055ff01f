// Error codes: building, reporting and the text form; the source-file registry.
#pragma once

#include <QtMisc/qtm_types.h>

#include <QHash>
#include <QString>
#include <cerrno>

namespace qtmisc {

// File key -> file number. Created by the library start-up, null before and after.
extern QHash<QString, int>* filesHash;

// The last three components of a path ("../../main/src/wave_stor.cpp" -> "main/src/wave_stor.cpp").
QString sourceFileKey(const QString& path);

// Inserts the entries of a file list with the numbers 1, 2, ... (no-op without a registry).
void registerSourceFiles(const char* const* list, int count);

inline ErrorCode makeErrorCode(bool withErrno, uint16 code, const QString& file, int line)
{
    const int savedErrno = errno; // before anything below can change it
    quint64 errnoLane = 0;
    if (withErrno)
        errnoLane = (savedErrno >= 0 && savedErrno <= 65534) ? quint64(savedErrno) : 0xFFFFu;
    const quint64 lowHalf = quint64(code) | (quint64(quint16(line)) << 16);
    quint64 fileLane = 0;
    if (filesHash && !filesHash->isEmpty())
        fileLane = quint16(filesHash->value(sourceFileKey(file), 0));
    return (errnoLane << 48) | (fileLane << 32) | lowHalf;
}

// Where reported errors go: the messager daemon of a program with windows (a critical box later,
// from the event loop), a command-line tool's own output; nowhere while unset.
using ErrorSink = void (*)(ErrorCode value);
extern ErrorSink errorSink;

// Hands the value to the error sink.
void reportError(ErrorCode value);

// Lower-case hexadecimal without leading zeros, at least two digits ("01", "0a", "102b3a404").
QString errorCodeToHex(ErrorCode value);

} // namespace qtmisc

#define QTM_ERROR(code) qtmisc::makeErrorCode(false, (code), QStringLiteral(__FILE__), __LINE__)
#define QTM_ERROR_ERRNO(code)                                                                      \
    qtmisc::makeErrorCode(true, (code), QStringLiteral(__FILE__), __LINE__)
#define QTM_REPORT(code) qtmisc::reportError(QTM_ERROR(code))
#define QTM_REPORT_ERRNO(code) qtmisc::reportError(QTM_ERROR_ERRNO(code))
