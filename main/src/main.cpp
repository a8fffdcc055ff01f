// Process entry of voltrix.
#include "fmain.h"
#include "init.h"
#include "umisc.h"

#include <QApplication>
#include <QtMisc/qtm_common_def.h>
#include <cstdio>
#include <new>

int main(int argc, char** argv)
{
    if (argc == 0 || !argv)
        return 1;
    application = new (std::nothrow) QApplication(argc, argv);
    if (!application)
        return qtmisc::resultReported;
    std::fputs("created application\n", stdout);
    std::fflush(stdout);
    applicationDir = applicationDirFromPath(QString::fromLocal8Bit(argv[0]));

    if (const quint16 result = startup(QCoreApplication::arguments()))
        return result;
    if (mainWnd)
        mainWnd->update();
    const int code = QApplication::exec();
    delete mainWnd; // still there when the loop ended before its deferred deletion
    delete application;
    application = nullptr;
    return code;
}
