// Message texts, parameter filling, line shortening, the open-box limit and the languages.
#include "init.h"
#include "support/boxes.h"
#include "ustrings.h"

#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_messager.h>
#include <QtMisc/qtm_strings.h>

#include <QtTest>
#include <thread>

using qtmisc::MessagerDaemon;

class tst_Messager : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void lookups();
    void fillParams();
    void shortening();
    void questions();
    void boxLimit();
    void languages();
    void unClosableDialog();
};

void tst_Messager::initTestCase()
{
    QVERIFY(testboxes::startLibrary());
}

void tst_Messager::cleanupTestCase()
{
    qtmisc::shutdown();
}

void tst_Messager::init()
{
    QTest::qWait(10); // lets a previous test's last closing timer run out
    testboxes::reset();
}

// Known texts and, for an unknown code, the code in decimal.
void tst_Messager::lookups()
{
    QCOMPARE(stringsKit.warnText(0x1507), QString("Ошибка загрузки!"));
    QCOMPARE(stringsKit.warnText(0x1501),
        QString("Необходимо выделить участок\nдля расчета среднего значения"));
    QCOMPARE(stringsKit.warnText(0x1503), QString("5379"));
    QCOMPARE(stringsKit.questionText(0x1709), QString("Ошибка сохранения ini-файла.\nПовторить?"));
    QCOMPARE(stringsKit.questionText(0x1701), QString("5889"));
    QCOMPARE(stringsKit.infoText(0x1401), QString("%1"));
    QCOMPARE(stringsKit.infoText(0x1403), QString("%1"));
    QCOMPARE(stringsKit.infoText(0x1404), QString("5124"));
    QCOMPARE(qtmisc::qtmSK.warnText(0xA506),
        QString("Произошла ошибка.\nПереименование не выполнено.\nКод ошибки - 0x%1"));
    QCOMPARE(qtmisc::qtmSK.warnText(0xA503), QString("42243")); // outside the library's five
}

// Each parameter given, or missing with and without its "allowed empty" flag; per cent signs
// inside the parameters stay as they are.
void tst_Messager::fillParams()
{
    const struct
    {
        const char* text;
        const char* p1;
        const char* p2;
        bool allow1;
        bool allow2;
        const char* result;
    } cases[] = { { "a%1b%2c", "X", "Y", false, false, "aXbYc" },
        { "a%1b%2c", "X", "", false, false, "aXb\"\"c" },
        { "a%1b%2c", "", "Y", false, false, "aYb\"\"c" },
        { "a%1b%2c", "", "", false, false, "a\"\"b\"\"c" },
        { "a%1b%2c", "", "Y", true, true, "aYb\"\"c" },
        { "a%1b%2c", "", "", true, true, "a\"\"b\"\"c" },
        { "a%1b%2c", "", "Y", true, false, "abYc" }, { "a%1b%2c", "", "", true, false, "ab\"\"c" },
        { "a%1b%2c", "", "Y", false, true, "aYb\"\"c" },
        { "a%1b%2c", "", "", false, true, "ab\"\"c" },
        { "Ошибка чтения файла %1", "4", "", false, true, "Ошибка чтения файла 4" },
        { "Ошибка чтения файла %1", "", "", false, true, "Ошибка чтения файла " },
        { "Файл %1 код %2", "data%1.raw", "%2", false, false, "Файл data%1.raw код %2" },
        { "a%1b%2c", "", "%1", true, false, "ab%1c" },
        { "%1", "whole text", "", false, false, "whole text" } };
    for (const auto& c : cases)
        QCOMPARE(
            MessagerDaemon::fillParams(c.text, c.p1, c.p2, c.allow1, c.allow2), QString(c.result));
}

// A quoted line longer than the width ends in `.."` at exactly the width; a line that only
// starts with a quote, one of the width and anything after an empty line stay.
void tst_Messager::shortening()
{
    const QString path(150, QChar('p'));
    const QString longLine = "Файл \"" + path + "\"";
    const QString shortened = "Файл \"" + QString(91, QChar('p')) + "..\"";
    const QString fits = "\"" + QString(98, QChar('q')) + "\"";
    QCOMPARE(MessagerDaemon::shortenLines(longLine, 100), shortened);
    QCOMPARE(shortened.size(), 100);
    QCOMPARE(MessagerDaemon::shortenLines("Произошла ошибка.\n" + longLine + "\nне удалён.", 100),
        "Произошла ошибка.\n" + shortened + "\nне удалён.");
    for (const QString& same : { "\"" + path, fits, "a\n\n" + longLine })
        QCOMPARE(MessagerDaemon::shortenLines(same, 100), same);
}

// A question is answered with the button chosen; one without its default button is not
// asked; one asked from another thread is not delivered: nobody would be waiting for the answer
// once the box was answered.
void tst_Messager::questions()
{
    testboxes::answers = { QMessageBox::No };
    auto answer = QMessageBox::NoButton;
    qtmisc::mesDaemon->showQuestion(0x1705, "NoName - 1", QString(), &answer, false, true,
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    QCOMPARE(answer, QMessageBox::No);
    QCOMPARE(testboxes::texts, QStringList { "Данные в окне NoName - 1 изменены!\nЗакрыть окно?" });
    testboxes::reset();
    answer = QMessageBox::Yes;
    qtmisc::mesDaemon->showQuestion(0x1709, QString(), QString(), &answer, true, true,
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Cancel);
    QCOMPARE(answer, QMessageBox::NoButton);
    QVERIFY(testboxes::texts.isEmpty());
    answer = QMessageBox::Yes;
    std::thread asker([&answer] {
        qtmisc::mesDaemon->showQuestion(0x1709, QString(), QString(), &answer, true, true,
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    });
    asker.join();
    QCOMPARE(answer, QMessageBox::NoButton);
    answer = QMessageBox::Ignore; // what a late delivery would overwrite
    QCoreApplication::processEvents();
    QCOMPARE(answer, QMessageBox::Ignore);
    QVERIFY(testboxes::texts.isEmpty());
}

namespace {

int visibleMessageBoxes()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(widget) && widget->isVisible())
            ++count;
    return count;
}

// Answers the open boxes one after the other, innermost first.
void closeAllBoxes()
{
    if (testboxes::answerTopBox())
        QTimer::singleShot(0, closeAllBoxes);
}

// Opens `count` warnings one inside the other, runs atTop while all of them are open, then
// closes them all.
void nestWarnings(int count, const std::function<void()>& atTop)
{
    static int made;
    made = 0;
    std::function<void()> step;
    step = [&]() {
        if (++made < count)
            QTimer::singleShot(0, step);
        else
            QTimer::singleShot(0, [&]() {
                atTop();
                closeAllBoxes();
            });
        qtmisc::mesDaemon->showWarn(0x1507, QString(), QString(), true, true);
    };
    step();
}

} // namespace

void tst_Messager::boxLimit()
{
    qtmisc::InitHooks saved = qtmisc::initHooks;
    qtmisc::initHooks.beforeWarn = nullptr; // this test closes the boxes itself
    int openAtTop = -1;
    int visibleAtTop = -1;
    auto seventhAnswer = QMessageBox::Yes;
    nestWarnings(6, [&]() {
        qtmisc::mesDaemon->showWarn(0x1507, QString(), QString(), true, true); // the seventh
        qtmisc::mesDaemon->showQuestion(0x1709, QString(), QString(), &seventhAnswer, true, true,
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        openAtTop = qtmisc::mesDaemon->openBoxCount();
        visibleAtTop = visibleMessageBoxes();
    });
    QTRY_COMPARE(qtmisc::mesDaemon->openBoxCount(), 0);
    qtmisc::initHooks = saved;
    QCOMPARE(openAtTop, 6);
    QCOMPARE(visibleAtTop, 6);
    QCOMPARE(seventhAnswer, QMessageBox::NoButton);

    // A critical box passes the limit.
    QTest::qWait(10); // the last closing timer runs out
    saved = qtmisc::initHooks;
    qtmisc::initHooks.beforeWarn = nullptr;
    qtmisc::initHooks.beforeCritical = nullptr;
    int visibleWithCritical = -1;
    nestWarnings(6, [&]() {
        QTimer::singleShot(0, [&]() {
            visibleWithCritical = visibleMessageBoxes();
            testboxes::answerTopBox();
        });
        qtmisc::mesDaemon->slot_ShowCritical(0xA404);
    });
    QTRY_COMPARE(qtmisc::mesDaemon->openBoxCount(), 0);
    qtmisc::initHooks = saved;
    QCOMPARE(visibleWithCritical, 7);
}

void tst_Messager::languages()
{
    QVERIFY(qtmisc::qtmSK.criticalText.startsWith("Internal error is occurred"));
    QVERIFY(qtmisc::qtmSK.fatalText.contains("futher work is impossible."));
    QCOMPARE(qtmisc::qtmSK.warnText(0xA504),
        QString("Произошла ошибка.\nКаталог \"%1\"\nне создан.\nКод ошибки - 0x%2"));

    qtmisc::mesDaemon->slot_ShowCritical(0x102b3a404);
    QCOMPARE(testboxes::texts.last(),
        QString("Internal error is occurred,\nplease contact support service.\nError code - "
                "0x102b3a404"));

    QWidget parent;
    QCOMPARE(qtmisc::initGui(&parent, 0), quint16(0));
    QCOMPARE(qtmisc::qtmSK.criticalText,
        QString(
            "Обнаружена внутренняя ошибка,\nобратитесь в службу поддержки.\nКод ошибки - 0x%1"));
    QCOMPARE(qtmisc::boxParent(), &parent);
    QVERIFY(
        QCoreApplication::translate("QPlatformTheme", "Cancel") != "Cancel"); // toolkit in Russian

    // A warning and an information box show their texts with the parameters filled in.
    qtmisc::mesDaemon->showWarn(0x1505, "-16", QString(), false, true);
    QCOMPARE(testboxes::texts.last(), QString("Ошибка записи файла -16"));
    qtmisc::mesDaemon->showWarn(0xA502, "/tmp/x", "1f", false, false);
    QCOMPARE(testboxes::texts.last(),
        QString("Произошла ошибка.\nФайл \"/tmp/x\"\nне удалён.\nКод ошибки - 0x1f"));
    qtmisc::mesDaemon->showInfo(0x1401, "Среднее: 5", QString(), false, false);
    QCOMPARE(testboxes::texts.last(), QString("Среднее: 5"));
}

void tst_Messager::unClosableDialog()
{
    UnClosableDialog dialog;
    dialog.show();
    QVERIFY(!dialog.close());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    dialog.reject();
    QVERIFY(dialog.isVisible());
    dialog.hide();
}

QTEST_MAIN(tst_Messager)
#include "test_messager.moc"
