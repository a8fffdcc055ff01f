// SIGUSR1 reaches the GUI thread once per signal, and a flood never blocks the process.
#include "init.h"

#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_signals.h>

#include <QThread>
#include <QtTest>
#include <csignal>
#include <thread>

namespace {

int usr1Calls = 0;
bool usr1OffGuiThread = false;

void onUsr1()
{
    ++usr1Calls;
    if (QThread::currentThread() != qtmisc::mainThread)
        usr1OffGuiThread = true;
}

// Processes events until the hook count stops changing.
void drain()
{
    int before = -1;
    while (before != usr1Calls) {
        before = usr1Calls;
        QTest::qWait(50);
    }
}

} // namespace

class tst_Signals : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void oncePerSignalOnTheGuiThread();
    void floodDoesNotBlock();
    void wakeUpWithoutData();
};

void tst_Signals::initTestCase()
{
    qtmisc::InitHooks hooks = programInitHooks();
    hooks.onUsr1 = onUsr1;
    QCOMPARE(qtmisc::init(hooks), quint16(0));
}

void tst_Signals::cleanupTestCase()
{
    qtmisc::shutdown();
    ::raise(SIGUSR1); // after shutdown the handler has nowhere to write and does nothing
}

void tst_Signals::oncePerSignalOnTheGuiThread()
{
    usr1Calls = 0;
    for (int i = 1; i <= 3; ++i) {
        ::raise(SIGUSR1);
        QTRY_COMPARE(usr1Calls, i);
    }
    QTest::qWait(50);
    QCOMPARE(usr1Calls, 3);
    std::thread worker([] { ::raise(SIGUSR1); }); // handled on the worker, delivered to the GUI
    worker.join();
    QTRY_COMPARE(usr1Calls, 4);
    QVERIFY(!usr1OffGuiThread);
}

// The GUI thread is busy raising signals and reads nothing meanwhile: the socket fills up and
// the handler must drop notices instead of waiting for room.
void tst_Signals::floodDoesNotBlock()
{
    usr1Calls = 0;
    const int flood = 100000;
    for (int i = 0; i < flood; ++i)
        ::raise(SIGUSR1);
    drain();
    QVERIFY(usr1Calls >= 1);
    QVERIFY(usr1Calls < flood);
    const int afterFlood = usr1Calls;
    ::raise(SIGUSR1);
    QTRY_COMPARE(usr1Calls, afterFlood + 1);
}

// A wake-up with nothing to read must not be taken for a notice, and must leave the
// notifier working.
void tst_Signals::wakeUpWithoutData()
{
    drain();
    usr1Calls = 0;
    auto* daemon = static_cast<qtmisc::SignalsDaemon*>(qtmisc::faultDaemon);
    daemon->handleSig_usr1(qtmisc::SignalsDaemon::sigFdUsr1[1]);
    QCOMPARE(usr1Calls, 0);
    ::raise(SIGUSR1);
    QTRY_COMPARE(usr1Calls, 1);
}

QTEST_MAIN(tst_Signals)
#include "test_signals.moc"
