// The fixture of the window-level tests: the support library started once with the program's
// message boxes answered and adc.ini in a folder of its own, and for every test a fresh main
// window that is let go of afterwards.
#pragma once

#include <QList>
#include <QObject>
#include <QTemporaryDir>

class MainWnd;

class WindowTest : public QObject
{
    Q_OBJECT
protected:
    // After each test's main window opened.
    virtual void prepare() {}

    QTemporaryDir dir;
    MainWnd* window = nullptr;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
};

namespace testwindows {

// Answers the next channel chooser with the channels given (0-based), or cancels it when there
// are none; it waits for the chooser, which may come after a question.
void answerChooser(const QList<int>& channels);

} // namespace testwindows
