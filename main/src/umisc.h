// Small helpers on paths and names.
#pragma once

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
