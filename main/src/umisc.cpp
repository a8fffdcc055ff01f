#include "umisc.h"

#include <QtMisc/qtm_messager.h>

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <utility>

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

QString completedSaveName(const QString& chosen, const QString& suffix)
{
    const QString name = chosen.endsWith(suffix) ? chosen : chosen + suffix;
    if (name == chosen || !QFileInfo::exists(name))
        return name;
    auto answer = QMessageBox::NoButton;
    if (qtmisc::mesDaemon)
        qtmisc::mesDaemon->showQuestion(0x170A, QFileInfo(name).fileName(), QString(), &answer,
            false, true, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes ? name : QString();
}

namespace {

void logFileFault(qtmisc::ErrorCode value)
{
    std::fprintf(stderr, "voltrix: a file was not read, code 0x%s\n",
        qPrintable(qtmisc::errorCodeToHex(value)));
}

} // namespace

FileFaultsLogged::FileFaultsLogged()
    : previous(std::exchange(qtmisc::errorSink, logFileFault))
{
}

FileFaultsLogged::~FileFaultsLogged()
{
    qtmisc::errorSink = previous;
}
