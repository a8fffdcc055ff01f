// Message texts, parameter filling, line shortening, the open-box limit and the languages.
#include "init.h"
#include "support/boxes.h"
#include "ustrings.h"

#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_messager.h>
#include <QtMisc/qtm_strings.h>

#include <QCloseEvent>
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
    void lookups_data();
    void lookups();
    void fillParams_data();
    void fillParams();
    void shortening_data();
    void shortening();
    void warningShowsFilledText();
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

void tst_Messager::lookups_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, const char* kind, int code, const QString& text) {
        QTest::newRow(name) << QString(kind) << code << text;
    };
    row("known warning", "warn", 0x1507, "Ошибка загрузки!");
    row("warning with line break", "warn", 0x1501,
        "Необходимо выделить участок\nдля расчета среднего значения");
    row("unknown warning", "warn", 0x1503, "5379");
    row("known question", "question", 0x1709, "Ошибка сохранения ini-файла.\nПовторить?");
    row("unknown question", "question", 0x1701, "5889");
    row("information", "info", 0x1401, "%1");
    row("unknown information", "info", 0x1403, "5123");
    row("library file warning", "lib", 0xA506,
        "Произошла ошибка.\nПереименование не выполнено.\nКод ошибки - 0x%1");
    row("library code outside its five", "lib", 0xA503, "42243");
}

void tst_Messager::lookups()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, text);
    if (kind == "warn")
        QCOMPARE(stringsKit.warnText(code), text);
    else if (kind == "question")
        QCOMPARE(stringsKit.questionText(code), text);
    else if (kind == "info")
        QCOMPARE(stringsKit.infoText(code), text);
    else
        QCOMPARE(qtmisc::qtmSK.warnText(code), text);
}

void tst_Messager::fillParams_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("p1");
    QTest::addColumn<QString>("p2");
    QTest::addColumn<bool>("allow1");
    QTest::addColumn<bool>("allow2");
    QTest::addColumn<QString>("result");
    const auto row = [](const char* name, const QString& text, const QString& p1, const QString& p2,
                         bool allow1, bool allow2, const QString& result) {
        QTest::newRow(name) << text << p1 << p2 << allow1 << allow2 << result;
    };
    const QString two = "a%1b%2c";
    row("both given", two, "X", "Y", false, false, "aXbYc");
    row("first only", two, "X", "", false, false, "aXb\"\"c");
    row("second only, no flags", two, "", "Y", false, false, "aYb\"\"c");
    row("none, no flags", two, "", "", false, false, "a\"\"b\"\"c");
    row("second only, both flags", two, "", "Y", true, true, "aYb\"\"c");
    row("none, both flags", two, "", "", true, true, "a\"\"b\"\"c");
    row("second only, first flag", two, "", "Y", true, false, "abYc");
    row("none, first flag", two, "", "", true, false, "ab\"\"c");
    row("second only, second flag", two, "", "Y", false, true, "aYb\"\"c");
    row("none, second flag", two, "", "", false, true, "ab\"\"c");
    row("read failure with 4", "Ошибка чтения файла %1", "4", "", false, true,
        "Ошибка чтения файла 4");
    row("read failure, nothing given", "Ошибка чтения файла %1", "", "", false, true,
        "Ошибка чтения файла ");
    row("per cent signs of a file name stay", "Файл %1 код %2", "data%1.raw", "%2", false, false,
        "Файл data%1.raw код %2");
    row("per cent sign, second only", two, "", "%1", true, false, "ab%1c");
    row("information is the first parameter", "%1", "whole text", "", false, false, "whole text");
}

void tst_Messager::fillParams()
{
    QFETCH(QString, text);
    QFETCH(QString, p1);
    QFETCH(QString, p2);
    QFETCH(bool, allow1);
    QFETCH(bool, allow2);
    QFETCH(QString, result);
    QCOMPARE(MessagerDaemon::fillParams(text, p1, p2, allow1, allow2), result);
}

void tst_Messager::shortening_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("result");
    const QString path(150, QChar('p'));
    const QString longLine = "Файл \"" + path + "\"";
    const QString shortened = "Файл \"" + QString(91, QChar('p')) + "..\"";
    QTest::newRow("long quoted line") << longLine << shortened;
    QTest::newRow("inside a message") << "Произошла ошибка.\n" + longLine + "\nне удалён."
                                      << "Произошла ошибка.\n" + shortened + "\nне удалён.";
    QTest::newRow("quote only at the start") << "\"" + path << "\"" + path;
    QTest::newRow("exactly the width") << "\"" + QString(98, QChar('q')) + "\""
                                       << "\"" + QString(98, QChar('q')) + "\"";
    QTest::newRow("after an empty line nothing changes")
        << "a\n\n" + longLine << "a\n\n" + longLine;
}

void tst_Messager::shortening()
{
    QFETCH(QString, text);
    QFETCH(QString, result);
    const QString shortened = MessagerDaemon::shortenLines(text, 100);
    QCOMPARE(shortened, result);
    for (const QString& line : shortened.split('\n'))
        if (line.endsWith("..\""))
            QCOMPARE(line.size(), 100);
}

void tst_Messager::warningShowsFilledText()
{
    qtmisc::mesDaemon->showWarn(0x1505, "-16", QString(), false, true);
    QCOMPARE(testboxes::texts, QStringList { "Ошибка записи файла -16" });
    qtmisc::mesDaemon->showWarn(0xA502, "/tmp/x", "1f", false, false);
    QCOMPARE(testboxes::texts.last(),
        QString("Произошла ошибка.\nФайл \"/tmp/x\"\nне удалён.\nКод ошибки - 0x1f"));
    qtmisc::mesDaemon->showInfo(0x1401, "Среднее: 5", QString(), false, false);
    QCOMPARE(testboxes::texts.last(), QString("Среднее: 5"));
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
