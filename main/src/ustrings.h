// The program's message texts, looked up by code, and the close-proof progress dialog.
#pragma once

#include "ufft.h"

#include <QDialog>
#include <QObject>
#include <QString>
#include <memory>

class QCloseEvent;

class StringsKit : public QObject
{
    Q_OBJECT
public:
    QString okText;
    QString vertScaleText;
    QString horzStretchText;
    QString stopText;
    QString smoothParamText;
    QString bufferText;
    QString saveTimesText;
    QString centerCursorsText;
    QString selectModeText;

    // Fills every text through the installed translator; run once the translator is installed.
    void retranslate();

    // Texts by message code; an unknown code gives its decimal number. Information 0x1401 and
    // 0x1403 (a setting the file held but the program could not take) are "%1" (the caller's
    // first parameter is the whole message), 0x1402 the gain advice.
    QString warnText(int code) const;
    QString questionText(int code) const;
    QString infoText(int code) const;

private:
    QString warn1501, warn1502, warn1504, warn1505, warn1507, warn1509, warn150A, warn150C,
        warn150D, warn1510, warn1511, warn1512, warn1513, warn1514;
    QString question1702, question1705, question1707, question1709, question170A;
};

extern StringsKit stringsKit;

// A dialog that the window system cannot close; the program hides or deletes it.
namespace Ui {
class LoadProgress;
}
class QProgressBar;
class QToolButton;

class UnClosableDialog : public QDialog
{
    Q_OBJECT
public:
    using QDialog::QDialog;
    // Escape and every other way of rejecting leave the dialog as it is: the work it shows
    // goes on, and its STOP button must stay within reach.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
};

// The progress dialog of digitisation runs and transforms (form LoadProgress), shown at once
// with the wait cursor, which it gives back when it goes. An empty title keeps the form's.
class ProgressDialog : public UnClosableDialog
{
    Q_OBJECT
public:
    ProgressDialog(QWidget* parent, const QString& title, int maximum);
    ~ProgressDialog() override;
    QProgressBar* bar() const;
    QToolButton* stopButton() const;
    // Steps from the bar's value to its maximum, shown on the bar while serving the interface.
    ProgressSteps steps() const;
    // A run or a transform is going on: no window may close, nor the program quit, nor the
    // parameters of the run change under it.
    static bool workInProgress();
    // A run shown elsewhere than in a dialog (a series' own bar) counts as work in progress
    // while one of these lives.
    class Hold
    {
    public:
        Hold() { ++openCount; }
        ~Hold() { --openCount; }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
    };

private:
    static int openCount;
    std::unique_ptr<Ui::LoadProgress> form;
};
