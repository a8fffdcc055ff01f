#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_messager.h>
#include <QtMisc/qtm_misc.h>

#include <QDir>
#include <unistd.h>

namespace qtmisc {

bool isRoot()
{
    return ::geteuid() == 0 && ::getegid() == 0;
}

bool switchToRoot()
{
    return ::seteuid(0) == 0 && ::setegid(0) == 0 && ::setreuid(0, 0) == 0 && ::setregid(0, 0) == 0;
}

} // namespace qtmisc
