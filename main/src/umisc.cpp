#include "umisc.h"

#include <QDir>

QString applicationDirFromPath(const QString& programPath)
{
    const int last = programPath.lastIndexOf(QDir::separator());
    return last < 0 ? QString() : programPath.left(last + 1);
}
