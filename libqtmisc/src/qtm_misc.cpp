#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_messager.h>
#include <QtMisc/qtm_misc.h>

#include <QDir>
#include <unistd.h>

namespace qtmisc {

QString sourceFileKey(const QString& path)
{
    return path.section(QDir::separator(), -3, -1);
}

void registerSourceFiles(const char* const* list, int count)
{
    if (!filesHash)
        return;
    for (int i = 0; i < count; ++i)
        filesHash->insert(sourceFileKey(QString::fromUtf8(list[i])), i + 1);
}

void reportError(ErrorCode value)
{
    if (initHooks.onReport)
        initHooks.onReport();
    if (mesDaemon)
        mesDaemon->showCritical(value);
}

QString errorCodeToHex(ErrorCode value)
{
    QString text = QString::number(value, 16);
    if (text.size() == 1)
        text.prepend(QLatin1Char('0'));
    return text;
}

bool isRoot()
{
    return ::geteuid() == 0 && ::getegid() == 0;
}

bool switchToRoot()
{
    return ::seteuid(0) == 0 && ::setegid(0) == 0 && ::setreuid(0, 0) == 0 && ::setregid(0, 0) == 0;
}

} // namespace qtmisc
