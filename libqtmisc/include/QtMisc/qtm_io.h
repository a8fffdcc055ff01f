// File-system helpers used by the crash log. Failures here are reported from this header.
#pragma once

#include <QtMisc/qtm_errors.h>

#include <QString>
#include <cerrno>
#include <sys/stat.h>

namespace qtmisc {

// Makes sure the directory exists (mode 0777 before the umask). Returns false when it could
// not be created or examined (reported as 0xA407 with errno) and when a non-directory of that
// name is in the way (errno is then EEXIST, nothing reported).
inline bool ensureDirectory(const QString& dir)
{
    const QByteArray path = dir.toUtf8();
    if (::mkdir(path.constData(), 0777) == 0)
        return true;
    if (errno != EEXIST) {
        QTM_REPORT_ERRNO(0xA407);
        return false;
    }
    struct stat st;
    if (::stat(path.constData(), &st) != 0) {
        QTM_REPORT_ERRNO(0xA407);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        errno = EEXIST;
        return false;
    }
    return true;
}

} // namespace qtmisc
