// Small helpers on paths and names.
#pragma once

#include <QtMisc/qtm_errors.h>

#include <QString>

// The program path up to and including its last directory separator; empty when it has none.
QString applicationDirFromPath(const QString& programPath);

// A file name without its last path section and the separator before it ("/data/run.raw" ->
// "/data"; a bare name gives an empty text).
QString directoryOfFile(const QString& fileName);

// The name with ".raw" appended unless it already ends so (case-sensitive).
QString withRawSuffix(const QString& fileName);

// The chosen name with the suffix appended unless it already ends in it (case-sensitive). The
// file dialog asked about replacing the chosen name only: when the completed one exists the
// operator is asked here (question 0x170A), and an empty name says the save is called off.
QString completedSaveName(const QString& chosen, const QString& suffix);

// While a user's file is read, what the reader reports is the file's fault, not the
// program's: the code is logged on the standard error, and the operator gets the warning with
// its cause alone.
class FileFaultsLogged
{
public:
    FileFaultsLogged();
    ~FileFaultsLogged();
    FileFaultsLogged(const FileFaultsLogged&) = delete;
    FileFaultsLogged& operator=(const FileFaultsLogged&) = delete;

private:
    qtmisc::ErrorSink previous;
};
