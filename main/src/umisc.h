// Small helpers on paths and names.
#pragma once

#include <QString>

// The program path up to and including its last directory separator; empty when it has none.
QString applicationDirFromPath(const QString& programPath);
