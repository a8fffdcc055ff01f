// A monitoring series as the main window runs it: the dialog that asks for one, and the run
// that digitises capture after capture into one session window, keeps each in the session's
// folder and database, waits for a unit that vanished, and ends on STOP, a failure or its
// count. The interface is served throughout.
#pragma once

#include "data.h"
#include "rs232.h"
#include "session_db.h"
#include "session_series.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QVector>

class QEventLoop;
class QWidget;
class TWForm;

// What the operator typed, checked: the folder made when it does not exist; a cause in
// Russian for one that cannot serve (empty when it serves).
QString seriesFolderProblem(const QString& folder);

// Asks the operator for a series, starting from plan and keeping what was chosen in it; false
// when called off.
bool askSeriesPlan(QWidget* parent, SeriesPlan& plan);

// How far a run has come.
struct SeriesProgress
{
    int captures = 0; // transferred in this run
    int kept = 0;
    qint64 hits = 0;
    qint64 elapsedMs = 0;
    qint64 transferLeftMs = -1; // of the capture under way; -1 between captures
    bool waitingForUnit = false;
};

// The status line of a running series: «Серия: снимок 3 из 20 · 00:01:12 · передача ещё 1 с
// · импульсов 57», or the wait for the unit.
QString seriesStatusText(const SeriesProgress& progress, int planned);

// What a series is run with: the plan, the hits' query, and the acquisition's parameters,
// shape, port and line rate.
struct SeriesSetup
{
    SeriesPlan plan;
    HitQuery query;
    AcqParams params = {};
    int channels = 4;
    int samples = 0;
    QString port;
    qint32 rate = 115200;
};

class SeriesRun : public QObject
{
    Q_OBJECT
public:
    explicit SeriesRun(const SeriesSetup& setup, QObject* parent = nullptr);

    // Runs into window to the end; false when the series ended on a failure rather than on
    // STOP, its count or the window's closing: with the cause in Russian, or with none when
    // the link failed (failure() and attempts() say how).
    bool run(TWForm* window, QString& cause);
    LinkFailure failure() const { return linkFailure; }
    const QList<LinkFailure>& attempts() const { return linkAttempts; }
    // STOP: the capture under way is kept when it is transferred, then the series ends; a
    // pause or a wait for the unit ends at once. stopNow lets the capture under way go too.
    void stop();
    void stopNow();
    bool isStopping() const { return stopping; }
    const SeriesProgress& progress() const { return state; }
    const SeriesSetup& setup() const { return given; }
    // The bar that shows each capture's transfer; without one, each shows its progress dialog.
    void setTransferBar(QProgressBar* bar) { transferBar = bar; }

signals:
    void progressChanged();
    // The hits the session's database held when the series began.
    void sessionOpened(const QVector<TrendHit>& hits);
    // The hits a kept capture stored, for the trend plots.
    void hitsStored(const QVector<TrendHit>& hits);

private:
    enum class Outcome { kept, letGo, vanished, stopped, failed };
    // Opens the session's database, takes in files left without rows and finds the port's
    // stable name; false with the cause in Russian.
    bool begin(QString& cause);
    Outcome captureOnce(QString& cause);
    bool waitForUnit();
    // Serves the interface for ms or until STOP; false on STOP.
    bool pause(qint64 ms);
    void tick();

    SeriesSetup given;
    SessionDb session;
    QPointer<TWForm> window;
    SeriesProgress state;
    QElapsedTimer clock;
    QElapsedTimer captureClock;
    QEventLoop* waiting = nullptr;
    QPointer<QProgressBar> transferBar;
    QString portName; // the name the port is opened and found again by
    int nextNumber = 1;
    qint64 lastHitId = 0;
    bool stopping = false;
    LinkFailure linkFailure = LinkFailure::None;
    QList<LinkFailure> linkAttempts;
};
