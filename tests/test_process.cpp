// Effective-id helpers and a library shutdown after a failed start, in child processes.
#include "support/child.h"

#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_misc.h>

#include <QtTest>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int inChild(const std::function<bool()>& body)
{
    return testchild::run([&body] { return body() ? 0 : 1; });
}

constexpr uid_t nobody = 65534;

} // namespace

class tst_Process : public QObject
{
    Q_OBJECT
private slots:
    void effectiveIds();
    void shutdownWithNothingStarted();
};

// Root needs both effective ids. Without the right to change ids the first call fails and
// nothing else is tried: the real group id, which a later setregid would have touched, stays.
void tst_Process::effectiveIds()
{
    if (::geteuid() != 0)
        QSKIP("needs root to change its ids");
    QVERIFY(qtmisc::isRoot());
    QCOMPARE(inChild([] { return ::setegid(nobody) == 0 && !qtmisc::isRoot(); }), 0);
    QCOMPARE(inChild([] { return ::seteuid(nobody) == 0 && !qtmisc::isRoot(); }), 0);
    QCOMPARE(inChild([] {
        if (::setregid(nobody, nobody) != 0 || ::setreuid(nobody, nobody) != 0)
            return false;
        return !qtmisc::switchToRoot() && ::geteuid() == nobody && ::getgid() == nobody;
    }),
        0);
}

void tst_Process::shutdownWithNothingStarted()
{
    qtmisc::shutdown();
    qtmisc::shutdown();
    QVERIFY(!qtmisc::locale);
}

QTEST_MAIN(tst_Process)
#include "test_process.moc"
