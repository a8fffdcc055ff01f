// Error codes: lanes, truncation, the registry keys and the text form.
#include "files_list.h"

#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_fault.h>
#include <QtMisc/qtm_files_list.h>
#include <QtMisc/qtm_io.h>
#include <QtMisc/qtm_messager.h>

#include <QTemporaryDir>
#include <QtTest>

using qtmisc::ErrorCode;

class tst_Errors : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void lanesFileKeysAndHexForm();
    void headerReportCarriesItsFile();
    void faultCodeNames();
};

void tst_Errors::init()
{
    qtmisc::filesHash = new QHash<QString, int>;
    qtmisc::filesHash->insert(QString(), 0);
    qtmisc::registerSourceFiles(qtmisc::qtmFilesListArray, qtmisc::qtmFilesListCount);
    qtmisc::registerSourceFiles(filesListArray, filesListCount);
}

void tst_Errors::cleanup()
{
    delete qtmisc::filesHash;
    qtmisc::filesHash = nullptr;
}

// Code, line, file number and errno each in their lane: a line wraps at 65536 without spilling,
// errno saturates outside 0 ... 65534 and counts only when asked for; a file is known by the
// last three parts of its path; the hexadecimal form has no leading zeros beyond two digits.
void tst_Errors::lanesFileKeysAndHexForm()
{
    const struct
    {
        bool withErrno;
        int errnoValue;
        int code;
        const char* file;
        int line;
        ErrorCode expected;
    } cases[] = {
        { false, 5, 0xA404, "../../libqtmisc/src/qtm_init.cpp", 691, 0x0000000102B3A404 },
        { true, 0, 11, "/x/y/libqtmisc/src/qtm_signals.cpp", 91, 0x00000006005B000B },
        { true, 2, 0xA602, "../../main/src/wave_stor.cpp", 173, 0x0002001000ADA602 },
        { false, 0, 0x1234, "a/b/c/unknown.cpp", 1, 0x11234 }, // an unregistered file is 0
        { true, 3, 0xFFFF, "main/src/data.h", 65536 + 7, 0x000300140007FFFF },
        { true, 70000, 1, "x.cpp", 0, 0xFFFF000000000001 },
        { true, -1, 1, "x.cpp", 0, 0xFFFF000000000001 },
        { false, 70000, 1, "x.cpp", 0, 1 },
    };
    for (const auto& c : cases) {
        errno = c.errnoValue;
        QCOMPARE(qtmisc::makeErrorCode(c.withErrno, quint16(c.code), c.file, c.line), c.expected);
    }

    const std::pair<const char*, int> keys[] = {
        { "../../../external/libqtmisc/src/qtm_signals.cpp", 6 },
        { "/home/u/src/libqtmisc/include/QtMisc/qtm_io.h", 12 },
        { "/tmp/b/build/include/qtm_files_list.cpp", 7 }, { "include/QtMisc/qtm_files_list.h", 21 },
        { "../../main/src/wave_stor.cpp", 16 }, { "main/src/wave_stor.h", 34 },
        { "/a/b/c/d/main/src/fmain.cpp", 5 }, { "main/src/init.cpp", 4 },
        { "../build/files_list.h", 37 }, { "src/fmain.cpp", 0 } // two components only
    };
    for (const auto& [path, number] : keys)
        QCOMPARE(qtmisc::makeErrorCode(false, 0, path, 0) >> 32, ErrorCode(number));

    const std::pair<ErrorCode, const char*> hex[]
        = { { 0, "00" }, { 1, "01" }, { 0xA, "0a" }, { 0x1F, "1f" },
              { 0x0000000102B3A404, "102b3a404" }, { 0xFFFF000000000001, "ffff000000000001" } };
    for (const auto& [value, text] : hex)
        QCOMPARE(qtmisc::errorCodeToHex(value), QString(text));
}

// A failure reported from a library header carries that header's number (12) and errno, which
// proves the build's file names reduce to the registry's keys.
void tst_Errors::headerReportCarriesItsFile()
{
    qtmisc::MessagerDaemon capture; // not initialised: its signal reaches only this test
    qtmisc::mesDaemon = &capture;
    QList<quint64> reported;
    connect(&capture, &qtmisc::MessagerDaemon::sig_ShowCritical, this,
        [&reported](quint64 value) { reported.append(value); });
    QTemporaryDir dir;
    QVERIFY(!qtmisc::ensureDirectory(dir.path() + "/missing/crash/"));
    qtmisc::mesDaemon = nullptr;

    QCOMPARE(reported.size(), 1);
    QCOMPARE(reported[0] & 0xFFFF, quint64(0xA407));
    QCOMPARE((reported[0] >> 32) & 0xFFFF, quint64(12));
    QCOMPARE(reported[0] >> 48, quint64(ENOENT));
}

// The crash log names a signal's own code, up to the last of each signal's list.
void tst_Errors::faultCodeNames()
{
    const struct
    {
        int signo;
        int code;
        const char* name;
    } cases[] = { { SIGSEGV, 2, "SEGV_ACCERR" }, { SIGFPE, 1, "FPE_INTDIV" },
        { SIGFPE, 8, "FPE_FLTSUB" }, { SIGILL, 8, "ILL_BADSTK" }, { SIGBUS, 3, "BUS_OBJERR" },
        { SIGBUS, 4, "4" }, { SIGSEGV, int(SI_USER), "SI_USER" } };
    for (const auto& c : cases) {
        siginfo_t info {};
        info.si_signo = c.signo;
        info.si_code = c.code;
        QString text;
        qtmisc::FaultDaemon::describeFault({ &info, c.signo }, text);
        QVERIFY2(text.endsWith(QString("code: ") + c.name + "\n"), qPrintable(text));
    }
}

QTEST_MAIN(tst_Errors)
#include "test_errors.moc"
