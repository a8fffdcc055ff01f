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
    void lanes_data();
    void lanes();
    void fileKeys();
    void hexForm();
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

void tst_Errors::lanes_data()
{
    QTest::addColumn<bool>("withErrno");
    QTest::addColumn<int>("errnoValue");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("line");
    QTest::addColumn<ErrorCode>("expected");

    const auto row = [](const char* name, bool withErrno, int errnoValue, int code,
                         const char* file, int line, ErrorCode expected) {
        QTest::newRow(name) << withErrno << errnoValue << code << QString(file) << line << expected;
    };
    row("library file 1, no errno", false, 5, 0xA404, "../../libqtmisc/src/qtm_init.cpp", 691,
        0x0000000102B3A404);
    row("fatal SIGSEGV from the signals file", true, 0, 11, "/x/y/libqtmisc/src/qtm_signals.cpp",
        91, 0x00000006005B000B);
    row("program file 16 with errno 2", true, 2, 0xA602, "../../main/src/wave_stor.cpp", 173,
        0x0002001000ADA602);
    row("unregistered file gives 0", false, 0, 0x1234, "a/b/c/unknown.cpp", 1, 0x11234);
    row("line 65536 wraps without spilling", true, 3, 0xFFFF, "main/src/data.h", 65536 + 7,
        0x000300140007FFFF);
    row("errno above 65534 saturates", true, 70000, 1, "x.cpp", 0, 0xFFFF000000000001);
    row("negative errno saturates", true, -1, 1, "x.cpp", 0, 0xFFFF000000000001);
    row("errno ignored unless asked for", false, 70000, 1, "x.cpp", 0, 1);
}

void tst_Errors::lanes()
{
    QFETCH(bool, withErrno);
    QFETCH(int, errnoValue);
    QFETCH(int, code);
    QFETCH(QString, file);
    QFETCH(int, line);
    QFETCH(ErrorCode, expected);
    errno = errnoValue;
    QCOMPARE(qtmisc::makeErrorCode(withErrno, quint16(code), file, line), expected);
}

void tst_Errors::fileKeys()
{
    const std::pair<const char*, int> cases[] = {
        { "../../../external/libqtmisc/src/qtm_signals.cpp", 6 },
        { "/home/u/src/libqtmisc/include/QtMisc/qtm_io.h", 12 },
        { "/tmp/b/build/include/qtm_files_list.cpp", 7 }, { "include/QtMisc/qtm_files_list.h", 21 },
        { "../../main/src/wave_stor.cpp", 16 }, { "main/src/wave_stor.h", 34 },
        { "/a/b/c/d/main/src/fmain.cpp", 5 }, { "main/src/init.cpp", 4 },
        { "../build/files_list.h", 37 }, { "src/fmain.cpp", 0 } // two components only
    };
    for (const auto& [path, number] : cases)
        QCOMPARE(qtmisc::makeErrorCode(false, 0, path, 0) >> 32, ErrorCode(number));
}

void tst_Errors::hexForm()
{
    const std::pair<ErrorCode, const char*> cases[]
        = { { 0, "00" }, { 1, "01" }, { 0xA, "0a" }, { 0x1F, "1f" },
              { 0x0000000102B3A404, "102b3a404" }, { 0xFFFF000000000001, "ffff000000000001" } };
    for (const auto& [value, text] : cases)
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
