#include "fixture.h"

#include "boxes.h"
#include "fmain.h"
#include "init.h"
#include "selsig_dialog.h"
#include "windows.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

void WindowTest::initTestCase()
{
    QVERIFY(testboxes::startLibrary());
    applicationDir = dir.path() + "/";
}

void WindowTest::cleanupTestCase()
{
    qtmisc::shutdown();
}

void WindowTest::init()
{
    testboxes::reset();
    window = testwindows::openMainWindow();
    QVERIFY(window);
    prepare();
}

void WindowTest::cleanup()
{
    testwindows::closeMainWindow(window);
    QVERIFY(!mainWnd);
    QFile::remove(dir.filePath("adc.ini"));
}

namespace testwindows {

void answerChooser(const QList<int>& channels)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, channels] {
        auto* chooser = qobject_cast<TSelSigDlg*>(QApplication::activeModalWidget());
        if (!chooser)
            return;
        timer->deleteLater();
        timer->stop();
        for (int i : channels)
            chooser->findChild<QCheckBox*>(QString("selBox%1").arg(i + 1))->setChecked(true);
        chooser->findChild<QPushButton*>(channels.isEmpty() ? "cancelBtn" : "okBtn")->click();
    });
    timer->start(5);
}

} // namespace testwindows
