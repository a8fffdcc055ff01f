#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_messager.h>
#include <QtMisc/qtm_strings.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QThread>

namespace qtmisc {

MessagerDaemon* mesDaemon = nullptr;
std::atomic<int> MessagerDaemon::crashDialogShowedCounter { 0 };

namespace {

bool onGuiThread()
{
    return QThread::currentThread() == mainThread;
}

// Raises a counter for the life of a box.
class BoxCount
{
public:
    explicit BoxCount(int& counter)
        : count(counter)
    {
        ++count;
    }
    ~BoxCount() { --count; }
    BoxCount(const BoxCount&) = delete;
    BoxCount& operator=(const BoxCount&) = delete;

private:
    int& count;
};

} // namespace

namespace {

void toMessager(ErrorCode value)
{
    if (initHooks.onReport)
        initHooks.onReport();
    if (mesDaemon)
        mesDaemon->showCritical(value);
}

} // namespace

MessagerDaemon::MessagerDaemon()
{
    errorSink = toMessager;
}

bool MessagerDaemon::init()
{
    if (!connect(this, &MessagerDaemon::sig_ShowCritical, this, &MessagerDaemon::slot_ShowCritical,
            Qt::QueuedConnection)) {
        QTM_REPORT(0xA702);
        return false;
    }
    const auto unique = Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection);
    if (!connect(
            this, &MessagerDaemon::sig_ShowInfo, this, &MessagerDaemon::slot_ShowInfo, unique)) {
        QTM_REPORT(0xA402);
        return false;
    }
    if (!connect(
            this, &MessagerDaemon::sig_ShowWarn, this, &MessagerDaemon::slot_ShowWarn, unique)) {
        QTM_REPORT(0xA602);
        return false;
    }
    if (!connect(this, &MessagerDaemon::sig_ShowQuestion, this, &MessagerDaemon::slot_ShowQuestion,
            unique)) {
        QTM_REPORT(0xA702);
        return false;
    }
    return true;
}

int MessagerDaemon::openBoxCount() const
{
    return infoDialogShowedCounter + warnDialogShowedCounter + criticalDialogShowedCounter
        + questionDialogShowedCounter + crashDialogShowedCounter.load();
}

void MessagerDaemon::showCritical(ErrorCode errCode)
{
    emit sig_ShowCritical(errCode);
    if (!isInitialised())
        QCoreApplication::processEvents();
}

void MessagerDaemon::showInfo(int infoCode, const QString& param1, const QString& param2,
    bool allowEmptyP1, bool allowEmptyP2)
{
    emit sig_ShowInfo(infoCode, param1, param2, allowEmptyP1, allowEmptyP2);
}

void MessagerDaemon::showWarn(int warnCode, const QString& param1, const QString& param2,
    bool allowEmptyP1, bool allowEmptyP2)
{
    emit sig_ShowWarn(warnCode, param1, param2, allowEmptyP1, allowEmptyP2);
}

void MessagerDaemon::showQuestion(int questionCode, const QString& param1, const QString& param2,
    QMessageBox::StandardButton* selectedBut, bool allowEmptyP1, bool allowEmptyP2,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    if (!selectedBut)
        return;
    *selectedBut = QMessageBox::NoButton;
    // The answer is written where the caller waits for it: only a caller on the GUI thread
    // waits until the box has been answered.
    if (!onGuiThread())
        return;
    emit sig_ShowQuestion(questionCode, param1, param2, selectedBut, allowEmptyP1, allowEmptyP2,
        buttons, defaultButton);
    if (initHooks.afterQuestionEmit)
        initHooks.afterQuestionEmit(selectedBut);
}

namespace {

// Stands for a per cent sign of a parameter while the markers are filled, so that a parameter
// such as a file name "data%1.raw" is inserted as it stands and never taken for a marker. A
// Unicode non-character: no text the program shows contains it.
constexpr char16_t percentStandIn = 0xFDD0;

QString withoutMarkers(const QString& param)
{
    QString guarded = param;
    return guarded.replace(QLatin1Char('%'), QChar(percentStandIn));
}

} // namespace

QString MessagerDaemon::fillParams(QString text, const QString& rawParam1, const QString& rawParam2,
    bool allowEmptyP1, bool allowEmptyP2)
{
    const QString param1 = withoutMarkers(rawParam1);
    const QString param2 = withoutMarkers(rawParam2);
    const bool hasP1 = !param1.isEmpty();
    const bool hasP2 = !param2.isEmpty();
    if (hasP1) {
        text = text.arg(param1);
        if (hasP2)
            text = text.arg(param2);
    } else if (allowEmptyP1 && !allowEmptyP2) {
        text = text.arg(QString());
        if (hasP2) {
            text.replace(QLatin1String("%2"), QLatin1String("%1"));
            text = text.arg(param2);
        }
    } else if (!allowEmptyP1 && allowEmptyP2) {
        text = text.arg(hasP2 ? param2 : QString());
    } else if (hasP2) {
        text = text.arg(param2);
    }
    text.replace(QLatin1String("%1"), QLatin1String("\"\""));
    text.replace(QLatin1String("%2"), QLatin1String("\"\""));
    return text.replace(QChar(percentStandIn), QLatin1Char('%'));
}

QString MessagerDaemon::shortenLines(const QString& text, int width)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.isEmpty())
            break;
        if (line.size() <= width || !line.endsWith(QLatin1Char('"')))
            continue;
        const QStringList fields = line.split(QLatin1Char('"'));
        const QString quoted = fields.value(fields.size() - 2);
        const QString before = fields.size() >= 3 ? fields.at(fields.size() - 3) : QString();
        const int keep = qMax(0, width - int(before.size()) - 4);
        line = before + QLatin1Char('"') + quoted.left(keep) + QLatin1String("..\"");
    }
    return lines.join(QLatin1Char('\n'));
}

QString MessagerDaemon::prepareText(QString text, const QString& param1, const QString& param2,
    bool allowEmptyP1, bool allowEmptyP2) const
{
    text = fillParams(text, param1, param2, allowEmptyP1, allowEmptyP2);
    return shortenLines(text, initHooks.maxLineLength);
}

void MessagerDaemon::showSimpleBox(
    QMessageBox::Icon icon, const QString& text, int& counter, const QString& cause)
{
    if (openBoxCount() >= maxOpenBoxes)
        return;
    BoxCount open(counter);
    const QString title = initHooks.boxTitle();
    if (!cause.isEmpty()) {
        QMessageBox box(icon, title, text, QMessageBox::Ok, boxParent());
        box.setInformativeText(cause);
        box.setDefaultButton(QMessageBox::Ok);
        box.exec();
    } else if (icon == QMessageBox::Information)
        QMessageBox::information(boxParent(), title, text, QMessageBox::Ok, QMessageBox::Ok);
    else
        QMessageBox::warning(boxParent(), title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessagerDaemon::slot_ShowInfo(int infoCode, const QString& param1, const QString& param2,
    bool allowEmptyP1, bool allowEmptyP2)
{
    if (!onGuiThread() || !initHooks.infoText)
        return;
    HookHandle handle;
    if (initHooks.beforeInfo)
        handle = initHooks.beforeInfo();
    const QString text
        = prepareText(initHooks.infoText(infoCode), param1, param2, allowEmptyP1, allowEmptyP2);
    showSimpleBox(QMessageBox::Information, text, infoDialogShowedCounter);
    if (initHooks.afterInfo)
        initHooks.afterInfo(handle);
}

void MessagerDaemon::slot_ShowWarn(int warnCode, const QString& param1, const QString& param2,
    bool allowEmptyP1, bool allowEmptyP2)
{
    showWarnWithCause(warnCode, param1, param2, allowEmptyP1, allowEmptyP2, QString());
}

void MessagerDaemon::showWarnWithCause(int warnCode, const QString& param1,
    const QString& param2, bool allowEmptyP1, bool allowEmptyP2, const QString& cause)
{
    if (!onGuiThread() || !initHooks.warnText)
        return;
    HookHandle handle;
    if (initHooks.beforeWarn)
        handle = initHooks.beforeWarn();
    const int offset = warnCode - 0xA500;
    const QString raw = (offset >= 0 && offset <= 0x100) ? qtmSK.warnText(warnCode)
                                                         : initHooks.warnText(warnCode);
    const QString text = prepareText(raw, param1, param2, allowEmptyP1, allowEmptyP2);
    showSimpleBox(QMessageBox::Warning, text, warnDialogShowedCounter, cause);
    if (initHooks.afterWarn)
        initHooks.afterWarn(handle);
}

void MessagerDaemon::showNotice(int infoCode, const QString& param1)
{
    if (!onGuiThread() || !initHooks.infoText)
        return;
    const QString text
        = prepareText(initHooks.infoText(infoCode), param1, QString(), false, true);
    if (notice)
        notice->close();
    auto* box = new QMessageBox(
        QMessageBox::Information, initHooks.boxTitle(), text, QMessageBox::Ok, boxParent());
    box->setObjectName(QStringLiteral("noticeBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    notice = box;
}

void MessagerDaemon::slot_ShowQuestion(int questionCode, const QString& param1,
    const QString& param2, QMessageBox::StandardButton* selectedBut, bool allowEmptyP1,
    bool allowEmptyP2, QMessageBox::StandardButtons buttons,
    QMessageBox::StandardButton defaultButton)
{
    if (!selectedBut)
        return;
    if (!(buttons & defaultButton) || !initHooks.questionText) {
        *selectedBut = QMessageBox::NoButton;
        return;
    }
    HookHandle handle;
    if (initHooks.beforeQuestion)
        handle = initHooks.beforeQuestion();
    const QString text = prepareText(
        initHooks.questionText(questionCode), param1, param2, allowEmptyP1, allowEmptyP2);
    if (openBoxCount() >= maxOpenBoxes) {
        *selectedBut = QMessageBox::NoButton;
    } else {
        BoxCount open(questionDialogShowedCounter);
        *selectedBut = QMessageBox::question(
            boxParent(), initHooks.boxTitle(), text, buttons, defaultButton);
    }
    if (initHooks.afterQuestion)
        initHooks.afterQuestion(handle);
}

void MessagerDaemon::slot_ShowCritical(quint64 errCode)
{
    if (!onGuiThread())
        return;
    HookHandle handle;
    if (initHooks.beforeCritical)
        handle = initHooks.beforeCritical();
    const QString pattern = qtmSK.criticalText.isEmpty() ? QStringLiteral("Critical error: 0x%1")
                                                         : qtmSK.criticalText;
    const QString text = pattern.arg(errorCodeToHex(errCode));
    if (criticalDialogShowedCounter == 0 || openBoxCount() <= maxOpenBoxes - 1) {
        BoxCount open(criticalDialogShowedCounter);
        QMessageBox::critical(
            boxParent(), initHooks.boxTitle(), text, QMessageBox::Ok, QMessageBox::Ok);
    }
    if (initHooks.afterCritical)
        initHooks.afterCritical(handle);
}

void MessagerDaemon::showFatal(ErrorCode errCode)
{
    HookHandle handle;
    if (initHooks.beforeFatal)
        handle = initHooks.beforeFatal();
    ++crashDialogShowedCounter;
    const QString pattern
        = qtmSK.fatalText.isEmpty() ? QStringLiteral("Fatal error: 0x%1") : qtmSK.fatalText;
    {
        QMessageBox box;
        QString okText = initHooks.okButtonText ? initHooks.okButtonText() : QString();
        if (okText.isEmpty())
            okText = QStringLiteral("Ok");
        box.addButton(okText, QMessageBox::AcceptRole);
        box.setIcon(QMessageBox::Critical);
        box.setText(pattern.arg(errorCodeToHex(errCode)));
        if (initHooks.boxTitle)
            box.setWindowTitle(initHooks.boxTitle());
        box.exec();
    }
    --crashDialogShowedCounter;
    if (initHooks.afterFatal)
        initHooks.afterFatal(handle);
}

} // namespace qtmisc
