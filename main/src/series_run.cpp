#include "series_run.h"

#include "cause_texts.h"
#include "record_export.h"
#include "rs232.h"
#include "ui_seriesdialog.h"
#include "umisc.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

QString text(const char* words)
{
    return QCoreApplication::translate("Series", words);
}

QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

// The bytes of a capture on the line at rate, ten bits each, in milliseconds.
qint64 transferMs(int channels, int samples, qint32 rate)
{
    return rate > 0 ? qint64(channels) * samples * 10 * 1000 / rate : 0;
}

// Whether a run failed because the port is gone: its device (or the link to it) no longer
// stands, as when a USB adapter is unplugged.
bool portVanished(LinkFailure failure, const QString& port)
{
    return failure != LinkFailure::Stopped && failure != LinkFailure::None
        && !QFileInfo::exists(port);
}

} // namespace

QString seriesFolderProblem(const QString& folder)
{
    if (folder.trimmed().isEmpty())
        return text("не указана папка сеанса");
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir())
        return text("это не папка");
    if (!info.exists() && !QDir().mkpath(folder))
        return text("папку нельзя создать");
    SessionDb session;
    QString cause;
    if (!session.open(folder, cause))
        return fileCauseText(cause);
    return QString();
}

bool askSeriesPlan(QWidget* parent, SeriesPlan& plan)
{
    QDialog dialog(parent);
    Ui::SeriesDialog form;
    form.setupUi(&dialog);
    form.folderEdit->setText(QDir::toNativeSeparators(plan.folder));
    form.capturesSpin->setValue(plan.captures);
    form.pauseSpin->setValue(plan.pauseSeconds);
    form.onlyWithHitsBox->setChecked(plan.onlyWithHits);
    const QString note
        = text("Каждый снимок записывается в папку сеанса (session.sqlite — база импульсов).");
    form.noteLabel->setText(note);
    QObject::connect(
        form.folderEdit, &QLineEdit::textEdited, &dialog, [&] { form.noteLabel->setText(note); });
    QObject::connect(form.browseButton, &QPushButton::clicked, &dialog, [&] {
        const QString chosen = QFileDialog::getExistingDirectory(
            &dialog, text("Папка сеанса"), form.folderEdit->text());
        if (!chosen.isEmpty())
            form.folderEdit->setText(QDir::toNativeSeparators(chosen));
    });
    QObject::connect(form.buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        const QString folder = QDir::fromNativeSeparators(form.folderEdit->text().trimmed());
        const QString problem = seriesFolderProblem(folder);
        if (!problem.isEmpty()) {
            form.noteLabel->setText(text("Папка сеанса не подходит: %1").arg(problem));
            form.folderEdit->setFocus();
            return;
        }
        plan.folder = QDir(folder).absolutePath();
        plan.captures = form.capturesSpin->value();
        plan.pauseSeconds = form.pauseSpin->value();
        plan.onlyWithHits = form.onlyWithHitsBox->isChecked();
        dialog.accept();
    });
    return dialog.exec() == QDialog::Accepted;
}

QString seriesStatusText(const SeriesProgress& progress, int planned)
{
    const QString of = planned > 0 ? text(" из %1").arg(planned) : QString();
    QString line = text("Серия: снимок %1%2 · %3")
                       .arg(progress.captures + (progress.transferLeftMs >= 0 ? 1 : 0))
                       .arg(of, clockText(progress.elapsedMs));
    if (progress.waitingForUnit)
        return line + text(" · Нет связи с блоком — ожидание");
    if (progress.transferLeftMs > 0)
        line += text(" · передача ещё %1 с").arg((progress.transferLeftMs + 999) / 1000);
    else if (progress.transferLeftMs == 0)
        line += text(" · ожидание записи блока"); // its trigger, or a slow line
    return line + text(" · импульсов %1").arg(progress.hits);
}

SeriesRun::SeriesRun(const SeriesSetup& setup, QObject* parent)
    : QObject(parent)
    , given(setup)
{
}

bool SeriesRun::begin(QString& cause)
{
    QString why;
    // The session's row takes the acquisition parameters in words from the first capture.
    if (!session.open(given.plan.folder, why)
        || !session.writeSession(given.query, QString(), why)) {
        cause = text("база сеанса: %1").arg(fileCauseText(why));
        return false;
    }
    QStringList unreadable;
    int taken = 0;
    {
        const FileFaultsLogged logged;
        taken = takeInStrayCaptures(session, given.query, unreadable, why);
    }
    if (taken < 0) {
        cause = text("база сеанса: %1").arg(fileCauseText(why));
        return false;
    }
    if (taken > 0)
        appendSessionLog(given.plan.folder,
            QStringLiteral("capture files without rows taken in: %1").arg(taken));
    for (const QString& file : unreadable)
        appendSessionLog(given.plan.folder, QStringLiteral("not a record, left out: %1").arg(file));
    const QVector<TrendHit> earlier = session.trendHits(0);
    lastHitId = earlier.isEmpty() ? 0 : earlier.last().id;
    emit sessionOpened(earlier);
    nextNumber = nextCaptureNumber(given.plan.folder);
    portName = stablePortName(given.port);
    appendSessionLog(given.plan.folder,
        QStringLiteral("series started on %1: %2")
            .arg(portName,
                given.plan.captures > 0
                    ? QStringLiteral("captures planned: %1").arg(given.plan.captures)
                    : QStringLiteral("until STOP")));
    return true;
}

bool SeriesRun::run(TWForm* target, QString& cause)
{
    window = target;
    clock.start();
    if (!begin(cause))
        return false;
    QTimer ticker;
    ticker.setInterval(500);
    connect(&ticker, &QTimer::timeout, this, &SeriesRun::tick);
    ticker.start();
    bool failed = false;
    QString why;
    while (!stopping && window && (given.plan.captures == 0 || state.captures < given.plan.captures)) {
        if (state.captures > 0 && !pause(qint64(given.plan.pauseSeconds) * 1000))
            break;
        const Outcome outcome = captureOnce(why);
        if (outcome == Outcome::stopped)
            break;
        if (outcome == Outcome::failed) {
            failed = true;
            cause = why;
            break;
        }
        if (outcome == Outcome::vanished && !waitForUnit())
            break;
    }
    const QString end = failed ? QStringLiteral("failed")
        : !window              ? QStringLiteral("the session window was closed")
        : stopping             ? QStringLiteral("STOP")
                               : QStringLiteral("all captures done");
    appendSessionLog(given.plan.folder,
        QStringLiteral("series ended (%1): captures %2, kept %3, hits %4")
            .arg(end)
            .arg(state.captures)
            .arg(state.kept)
            .arg(state.hits));
    state.transferLeftMs = -1;
    tick();
    return !failed;
}

SeriesRun::Outcome SeriesRun::captureOnce(QString& cause)
{
    if (!window) // closed during the pause
        return Outcome::stopped;
    captureClock.start();
    state.transferLeftMs = transferMs(given.channels, given.samples, given.rate);
    tick();
    const bool done = window->acquire(
        given.channels, given.samples, given.params, portName, given.rate, transferBar);
    state.transferLeftMs = -1;
    const LinkFailure failure = serialLink().failure;
    if (!done) {
        if (failure == LinkFailure::Stopped) {
            appendSessionLog(given.plan.folder, QStringLiteral("capture under way stopped"));
            return Outcome::stopped;
        }
        if (portVanished(failure, portName)) {
            appendSessionLog(given.plan.folder,
                QStringLiteral("the unit vanished: the capture under way is discarded"));
            return Outcome::vanished;
        }
        linkFailure = failure;
        linkAttempts = serialLink().attempts;
        return Outcome::failed;
    }
    ++state.captures;
    // The record was taken just before the unit said it was complete: with external
    // synchronisation that may be long after the run began.
    const double rate = sampleRateHz(*window->record);
    const qint64 sinceReady = serialLink().nowMs() - serialLink().readyAtMs;
    const QDateTime start = QDateTime::currentDateTimeUtc().addMSecs(
        -sinceReady - (rate > 0 ? qint64(window->record->sampleCount() * 1000.0 / rate) : 0));
    // Until it is kept, the window is named by the file the capture is meant for, marked unsaved.
    window->nameUnsaved(QDir(given.plan.folder).filePath(captureFileName(start, nextNumber)));
    KeptCapture kept;
    QString why;
    if (!keepCapture(session, *window->record, start, nextNumber, given.query, given.plan.onlyWithHits,
            kept, why)) {
        appendSessionLog(given.plan.folder,
            kept.written ? QStringLiteral("rows of %1 not stored: %2").arg(kept.file, why)
                         : QStringLiteral("capture not written: %1").arg(why));
        if (!kept.written) {
            cause = text("снимок не сохранён: %1").arg(fileCauseText(why));
            return Outcome::failed;
        }
        // The file stands: the window shows it saved, and the next series takes in its rows.
        window->markSaved(QDir(given.plan.folder).filePath(kept.file));
        cause = text("снимок записан в файл %1, но не в базу сеанса: %2")
                    .arg(kept.file, fileCauseText(why));
        return Outcome::failed;
    }
    if (!kept.kept)
        return Outcome::letGo;
    ++nextNumber;
    if (++state.kept == 1)
        session.writeSession(given.query,
            acquisitionText(captureOf(*window->record, kept.file, kept.number, start)), why);
    state.hits += kept.hits;
    window->markSaved(QDir(given.plan.folder).filePath(kept.file));
    const QVector<TrendHit> stored = session.trendHits(lastHitId);
    if (!stored.isEmpty()) {
        lastHitId = stored.last().id;
        emit hitsStored(stored);
    }
    tick();
    return Outcome::kept;
}

bool SeriesRun::waitForUnit()
{
    state.waitingForUnit = true;
    tick();
    while (!stopping && window && !QFileInfo::exists(portName))
        pause(1000);
    state.waitingForUnit = false;
    if (!stopping && window)
        appendSessionLog(given.plan.folder, QStringLiteral("the unit is back on %1").arg(portName));
    tick();
    return !stopping && window;
}

bool SeriesRun::pause(qint64 ms)
{
    if (stopping)
        return false;
    if (ms <= 0)
        return true;
    QEventLoop loop;
    waiting = &loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    waiting = nullptr;
    return !stopping;
}

void SeriesRun::stop()
{
    stopping = true;
    if (waiting)
        waiting->quit();
}

void SeriesRun::stopNow()
{
    stop();
    serialLink().requestStop();
}

void SeriesRun::tick()
{
    state.elapsedMs = clock.elapsed();
    if (state.transferLeftMs >= 0)
        state.transferLeftMs = std::max<qint64>(
            0, transferMs(given.channels, given.samples, given.rate) - captureClock.elapsed());
    emit progressChanged();
}
