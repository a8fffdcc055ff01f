// The message-box dispatcher: every box of the program is shown here, on the GUI thread.
#pragma once

#include <QtMisc/qtm_types.h>

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>

namespace qtmisc {

class MessagerDaemon : public QObject
{
    Q_OBJECT
public:
    // Fatal boxes open plus fatal notices still waiting for the GUI thread; raised by a
    // faulting worker thread, lowered by the GUI thread.
    static std::atomic<int> crashDialogShowedCounter;

    // Boxes above this many open at once are dropped.
    static constexpr int maxOpenBoxes = 6;

    // Reported errors go to the messager daemon from now on (see reportError).
    MessagerDaemon();

    virtual bool init();

    void showCritical(ErrorCode errCode);
    void showInfo(int infoCode, const QString& param1, const QString& param2, bool allowEmptyP1,
        bool allowEmptyP2);
    void showWarn(int warnCode, const QString& param1, const QString& param2, bool allowEmptyP1,
        bool allowEmptyP2);
    // GUI thread only; the answer is in *selectedBut when the call returns.
    void showQuestion(int questionCode, const QString& param1, const QString& param2,
        QMessageBox::StandardButton* selectedBut, bool allowEmptyP1, bool allowEmptyP2,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);
    static void showFatal(ErrorCode errCode);
    // A warning that also names its cause, in the box's informative text under the warning's
    // own; GUI thread only (the box is answered before the call returns).
    void showWarnWithCause(int warnCode, const QString& param1, const QString& param2,
        bool allowEmptyP1, bool allowEmptyP2, const QString& cause);
    // A notice that blocks nothing: a box without modality; a new notice replaces the one still
    // open. GUI thread only.
    void showNotice(int infoCode, const QString& param1);

    int openBoxCount() const;

    // Fills %1/%2 by the caller's parameters, then marks leftover markers with "".
    static QString fillParams(QString text, const QString& param1, const QString& param2,
        bool allowEmptyP1, bool allowEmptyP2);
    // Shortens each line longer than width that ends in a quoted text.
    static QString shortenLines(const QString& text, int width);

signals:
    void sig_ShowCritical(quint64 errCode);
    void sig_ShowInfo(int infoCode, const QString& param1, const QString& param2, bool allowEmptyP1,
        bool allowEmptyP2);
    void sig_ShowWarn(int warnCode, const QString& param1, const QString& param2, bool allowEmptyP1,
        bool allowEmptyP2);
    void sig_ShowQuestion(int questionCode, const QString& param1, const QString& param2,
        QMessageBox::StandardButton* selectedBut, bool allowEmptyP1, bool allowEmptyP2,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);

public slots:
    void slot_ShowCritical(quint64 errCode);
    void slot_ShowInfo(int infoCode, const QString& param1, const QString& param2,
        bool allowEmptyP1, bool allowEmptyP2);
    void slot_ShowWarn(int warnCode, const QString& param1, const QString& param2,
        bool allowEmptyP1, bool allowEmptyP2);
    void slot_ShowQuestion(int questionCode, const QString& param1, const QString& param2,
        QMessageBox::StandardButton* selectedBut, bool allowEmptyP1, bool allowEmptyP2,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);

private:
    // Shared by the information and warning slots; counter is the kind's open-box counter.
    void showSimpleBox(
        QMessageBox::Icon icon, const QString& text, int& counter, const QString& cause = {});
    QString prepareText(QString text, const QString& param1, const QString& param2,
        bool allowEmptyP1, bool allowEmptyP2) const;

    int infoDialogShowedCounter = 0;
    int warnDialogShowedCounter = 0;
    int criticalDialogShowedCounter = 0;
    int questionDialogShowedCounter = 0;
    QPointer<QMessageBox> notice;
};

extern MessagerDaemon* mesDaemon;

} // namespace qtmisc
