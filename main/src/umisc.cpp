#include "umisc.h"

#include <QDir>

QString applicationDirFromPath(const QString& programPath)
{
    const int last = programPath.lastIndexOf(QDir::separator());
    return last < 0 ? QString() : programPath.left(last + 1);
}

QString directoryOfFile(const QString& fileName)
{
    const int last = fileName.lastIndexOf(QDir::separator());
    return last < 0 ? QString() : fileName.left(last);
}

QString withRawSuffix(const QString& fileName)
{
    return fileName.endsWith(QLatin1String(".raw")) ? fileName : fileName + QLatin1String(".raw");
}
