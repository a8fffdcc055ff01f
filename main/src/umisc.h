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
