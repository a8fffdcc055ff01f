#include "ae_panel.h"

#include "ae_map.h"
#include "cause_texts.h"
#include "decimal_keys.h"
#include "record_export.h"
#include "ui_aehits.h"
#include "ui_aeparams.h"
#include "umisc.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QtMisc/qtm_messager.h>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTableWidgetItem>
#include <cmath>

// --- Parameters --------------------------------------------------------------------------------

QString AeParamsDialog::planeProblem(const QList<bool>& used, const QList<QPointF>& places)
{
    const qsizetype count = used.indexOf(false) < 0 ? used.size() : used.indexOf(false);
    if (count < 3 || used.mid(count).contains(true))
        return tr("На плоскости нужны места не менее трёх датчиков: каналы подряд с 1-го.");
    const QString cause = planarProblem(places);
    return cause.isEmpty() ? QString() : fileCauseText(cause);
}

QString AeParamsDialog::pairProblem(int first, int second)
{
    return first == second ? tr("Датчики пары должны быть разными каналами.") : QString();
}

AeParamsDialog::AeParamsDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::AeParamsDialog)
{
    ui->setupUi(this);
    acceptEitherDecimalPoint(this);
    ui->marginBox->setRange(0, maxMarginDb);
    ui->highPassBox->setRange(0, maxHighPassKhz);
    ui->preampBox->setRange(0, maxPreampDb);
    for (const auto& boxes : { xBoxes(), yBoxes() })
        for (QDoubleSpinBox* box : boxes) {
            box->setRange(-maxSensorMetres, maxSensorMetres);
            box->setDecimals(3);
        }
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->thresholdUnitBox, &QComboBox::currentIndexChanged, this,
        &AeParamsDialog::slot_unitChanged);
    connect(
        ui->preampBox, &QDoubleSpinBox::valueChanged, this, &AeParamsDialog::slot_preampChanged);
    for (QAbstractButton* button :
        { ui->fixedButton, ui->floatingButton, ui->lineButton, ui->planeButton })
        connect(button, &QAbstractButton::toggled, this, &AeParamsDialog::slot_setupChanged);
    connect(ui->locationBox, &QGroupBox::toggled, this, &AeParamsDialog::slot_setupChanged);
    connect(ui->pairFirstBox, &QSpinBox::valueChanged, this, &AeParamsDialog::slot_setupChanged);
    connect(ui->pairSecondBox, &QSpinBox::valueChanged, this, &AeParamsDialog::slot_setupChanged);
    for (int s = 0; s < maxSensors; ++s) {
        connect(sensorBoxes()[s], &QCheckBox::toggled, this, &AeParamsDialog::slot_setupChanged);
        connect(
            xBoxes()[s], &QDoubleSpinBox::valueChanged, this, &AeParamsDialog::slot_setupChanged);
        connect(
            yBoxes()[s], &QDoubleSpinBox::valueChanged, this, &AeParamsDialog::slot_setupChanged);
    }
    slot_setupChanged();
}

AeParamsDialog::~AeParamsDialog()
{
    delete ui;
}

std::array<QCheckBox*, maxSensors> AeParamsDialog::sensorBoxes() const
{
    return { ui->sensorBox1, ui->sensorBox2, ui->sensorBox3, ui->sensorBox4 };
}

std::array<QDoubleSpinBox*, maxSensors> AeParamsDialog::xBoxes() const
{
    return { ui->xBox1, ui->xBox2, ui->xBox3, ui->xBox4 };
}

std::array<QDoubleSpinBox*, maxSensors> AeParamsDialog::yBoxes() const
{
    return { ui->yBox1, ui->yBox2, ui->yBox3, ui->yBox4 };
}

QList<bool> AeParamsDialog::usedSensors() const
{
    QList<bool> used;
    for (const QCheckBox* box : sensorBoxes())
        used << box->isChecked();
    return used;
}

QList<QPointF> AeParamsDialog::places() const
{
    QList<QPointF> places;
    for (int s = 0; s < maxSensors; ++s)
        if (sensorBoxes()[s]->isChecked())
            places << QPointF(xBoxes()[s]->value(), yBoxes()[s]->value());
    return places;
}

void AeParamsDialog::setValues(const AeSettings& settings)
{
    const HitQuery& query = settings.query;
    const QSignalBlocker blocker(ui->thresholdUnitBox);
    const QSignalBlocker preampBlocker(ui->preampBox);
    preamp = query.preampDb;
    ui->preampBox->setValue(preamp);
    unit = settings.decibels ? 1 : 0;
    ui->thresholdUnitBox->setCurrentIndex(unit);
    setThresholdRange();
    const double volts = query.settings.thresholdVolts;
    ui->thresholdBox->setValue(settings.decibels ? decibelsAe(volts, preamp) : volts);
    (settings.floating ? ui->floatingButton : ui->fixedButton)->setChecked(true);
    ui->marginBox->setValue(settings.marginDb);
    ui->hdtBox->setValue(query.settings.hdtMicros);
    ui->hltBox->setValue(query.settings.hltMicros);
    ui->pdtBox->setValue(query.settings.pdtMicros);
    ui->highPassBox->setValue(query.settings.highPassKhz);
    ui->locationBox->setChecked(settings.location);
    ui->spacingBox->setValue(query.spacingMetres);
    ui->speedBox->setValue(query.speedMps);
    ui->pairFirstBox->setValue(query.pair[0] + 1);
    ui->pairSecondBox->setValue(query.pair[1] + 1);
    ui->windowBox->setValue(query.windowSeconds < 0 ? -1 : query.windowSeconds * 1e6);
    (settings.plane ? ui->planeButton : ui->lineButton)->setChecked(true);
    for (int s = 0; s < maxSensors; ++s) {
        sensorBoxes()[s]->setChecked(s < query.sensors.size());
        xBoxes()[s]->setValue(query.sensors.value(s).x());
        yBoxes()[s]->setValue(query.sensors.value(s).y());
    }
    slot_setupChanged();
}

void AeParamsDialog::takeValues(AeSettings& settings) const
{
    HitQuery& query = settings.query;
    settings.decibels = unit == 1;
    query.settings.thresholdVolts = thresholdVolts();
    settings.floating = ui->floatingButton->isChecked();
    settings.marginDb = ui->marginBox->value();
    query.settings.hdtMicros = ui->hdtBox->value();
    query.settings.hltMicros = ui->hltBox->value();
    query.settings.pdtMicros = ui->pdtBox->value();
    query.settings.highPassKhz = ui->highPassBox->value();
    query.preampDb = ui->preampBox->value();
    settings.location = ui->locationBox->isChecked();
    query.spacingMetres = ui->spacingBox->value();
    query.speedMps = ui->speedBox->value();
    query.pair[0] = ui->pairFirstBox->value() - 1;
    query.pair[1] = ui->pairSecondBox->value() - 1;
    const double window = ui->windowBox->value();
    query.windowSeconds = window < 0 ? -1 : window * 1e-6;
    // The places are kept on the line too, for the next return to the plane.
    settings.plane = ui->planeButton->isChecked();
    query.sensors = places();
}

// The threshold box's value in volts at the unit's input, within 1 uV ... 10 V.
double AeParamsDialog::thresholdVolts() const
{
    const double value = ui->thresholdBox->value();
    return std::clamp(
        unit == 1 ? voltsOfDecibelsAe(value, preamp) : value, minThresholdVolts, maxThresholdVolts);
}

// dB_AE are told at the sensor: the input's 1 uV ... 10 V less the preamplifier's gain.
void AeParamsDialog::setThresholdRange()
{
    QDoubleSpinBox* box = ui->thresholdBox;
    const QSignalBlocker blocker(box);
    if (unit == 1) {
        box->setDecimals(1);
        box->setRange(decibelsAe(minThresholdVolts, preamp), decibelsAe(maxThresholdVolts, preamp));
    } else {
        box->setDecimals(6);
        box->setRange(minThresholdVolts, maxThresholdVolts);
    }
}

// The threshold keeps its level when its unit changes.
void AeParamsDialog::slot_unitChanged(int newUnit)
{
    const double volts = thresholdVolts();
    unit = newUnit;
    setThresholdRange();
    const QSignalBlocker blocker(ui->thresholdBox);
    ui->thresholdBox->setValue(unit == 1 ? decibelsAe(volts, preamp) : volts);
}

// A threshold typed in dB_AE stays what it is at the sensor: its volts at the input follow the
// gain. One typed in volts stays.
void AeParamsDialog::slot_preampChanged(double preampDb)
{
    const double value = ui->thresholdBox->value();
    preamp = preampDb;
    setThresholdRange();
    const QSignalBlocker blocker(ui->thresholdBox);
    ui->thresholdBox->setValue(value);
}

// Fields that do not count are disabled; OK waits for a location set-up that can be used, and
// the line under the fields says what is wrong.
void AeParamsDialog::slot_setupChanged()
{
    const bool fixed = ui->fixedButton->isChecked();
    ui->thresholdBox->setEnabled(fixed);
    ui->thresholdUnitBox->setEnabled(fixed);
    ui->marginBox->setEnabled(!fixed);
    // The location group disables its fields itself while it is off; they stay so here.
    const bool located = ui->locationBox->isChecked();
    const bool plane = ui->planeButton->isChecked();
    ui->spacingBox->setEnabled(located && !plane);
    ui->pairFirstBox->setEnabled(located && !plane);
    ui->pairSecondBox->setEnabled(located && !plane);
    for (int s = 0; s < maxSensors; ++s) {
        const bool used = located && plane && sensorBoxes()[s]->isChecked();
        sensorBoxes()[s]->setEnabled(located && plane);
        xBoxes()[s]->setEnabled(used);
        yBoxes()[s]->setEnabled(used);
    }
    const QString problem = plane
        ? planeProblem(usedSensors(), places())
        : pairProblem(ui->pairFirstBox->value(), ui->pairSecondBox->value());
    ui->setupNoteLabel->setText(problem);
    ui->setupNoteLabel->setVisible(!problem.isEmpty());
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(problem.isEmpty());
}

// --- The table ---------------------------------------------------------------------------------

namespace {

// A cell that sorts by its number, not its text.
class NumberItem : public QTableWidgetItem
{
public:
    NumberItem(const QString& text, double number)
        : QTableWidgetItem(text)
    {
        setData(Qt::UserRole, number);
        setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    bool operator<(const QTableWidgetItem& other) const override
    {
        return data(Qt::UserRole).toDouble() < other.data(Qt::UserRole).toDouble();
    }
};

// A number as the operator's locale writes it (a decimal comma in Russian), without group
// separators, so that a copied table pastes into a spreadsheet of that locale as numbers.
QString shortNumber(double value, int digits = 6)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', digits);
}

// Seconds as microseconds to a tenth.
double microsOf(double seconds)
{
    return std::round(seconds * 1e7) / 10;
}

const QColor outsideColor(200, 0, 0);
const QColor clippedColor(255, 205, 150);

// Volts in the unit that suits them, three digits in the operator's locale: "1,2 мВ".
QString voltsText(double volts)
{
    const QLocale locale;
    const double magnitude = std::fabs(volts);
    if (magnitude >= 1)
        return AeHitsPanel::tr("%1 В").arg(locale.toString(volts, 'g', 3));
    if (magnitude >= 1e-3)
        return AeHitsPanel::tr("%1 мВ").arg(locale.toString(volts * 1e3, 'g', 3));
    return AeHitsPanel::tr("%1 мкВ").arg(locale.toString(volts * 1e6, 'g', 3));
}

// "канал 2" or "каналы 1, 3".
QString channelsText(const QList<int>& channels)
{
    QStringList numbers;
    for (const int c : channels)
        numbers << QString::number(c + 1);
    return (channels.size() == 1 ? AeHitsPanel::tr("канал %1") : AeHitsPanel::tr("каналы %1"))
        .arg(numbers.join(QStringLiteral(", ")));
}

// The threshold as set (volts, or dB_AE at the sensor), or each searched channel's floating one.
QString thresholdText(
    const HitQuery& query, const QList<int>& searched, const HitFacts& facts, bool decibels)
{
    const double fixed = query.settings.thresholdVolts;
    if (query.settings.floatingDb < 0)
        return decibels ? AeHitsPanel::tr("Порог %1 дБАЭ")
                              .arg(QLocale().toString(decibelsAe(fixed, query.preampDb), 'f', 1))
                        : AeHitsPanel::tr("Порог %1").arg(voltsText(fixed));
    QStringList levels;
    for (const int c : searched)
        levels << AeHitsPanel::tr("к%1 %2").arg(c + 1).arg(
            voltsText(facts.channels.value(c).thresholdVolts));
    return AeHitsPanel::tr("Порог плавающий +%1 дБ: %2")
        .arg(QLocale().toString(query.settings.floatingDb, 'g', 3))
        .arg(levels.join(QStringLiteral(", ")));
}

// What misleads about a fixed threshold, channel by channel; empty when nothing does.
QString warningText(const QList<int>& searched, const HitFacts& facts)
{
    const std::pair<int, QString> kinds[] = {
        { ChannelBackground::belowOneCode, AeHitsPanel::tr("порог ниже одного кода (%1)") },
        { ChannelBackground::belowNoise, AeHitsPanel::tr("порог ниже трёх СКЗ фона (%1)") },
        { ChannelBackground::aboveFullScale,
            AeHitsPanel::tr("порог выше шкалы (%1): импульсов там не будет") },
    };
    QStringList warnings;
    for (const auto& [warning, text] : kinds) {
        QList<int> channels;
        for (const int c : searched)
            if (facts.channels.value(c).warnings & warning)
                channels << c;
        if (!channels.isEmpty())
            warnings << text.arg(channelsText(channels));
    }
    return warnings.isEmpty()
        ? QString()
        : AeHitsPanel::tr("Внимание: %1").arg(warnings.join(QStringLiteral("; ")));
}

} // namespace

HitQuery selectionQuery(const TWForm& window, const HitQuery& query)
{
    HitQuery span = query;
    if (window.selStart != window.selEnd) {
        span.first = std::min(window.selStart, window.selEnd);
        span.count = std::abs(window.selEnd - window.selStart);
    }
    return span;
}

AeHitsPanel::AeHitsPanel(QWidget* parent)
    : QDockWidget(tr("Импульсы АЭ"), parent)
    , ui(new Ui::AeHitsPanel)
    , content(new QWidget(this))
{
    setObjectName(QStringLiteral("aeHitsDock"));
    ui->setupUi(content);
    setWidget(content);
    QTableWidget* table = ui->aeHitsTable;
    table->setColumnCount(columnCount);
    table->setHorizontalHeaderLabels({ tr("Канал"), tr("Приход, мкс"), tr("Начало (AIC), мкс"),
        tr("Амплитуда, В"), tr("Амплитуда, дБАЭ"), tr("Нарастание, мкс"), tr("Длительность, мкс"),
        tr("Выбросы"), tr("Энергия, В²·с"), tr("Фон (СКЗ), В"), tr("Пик. частота, кГц"),
        tr("Центр. частота, кГц"), tr("Ограничение"), tr("Событие"), tr("Δt, мкс"),
        tr("Положение, м"), tr("X, м"), tr("Y, м"), tr("Невязка, м"), tr("Зона") });
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The table takes most of the width; the map keeps a square-ish part beside it.
    ui->mapSplitter->setStretchFactor(0, 1);
    ui->mapSplitter->setStretchFactor(1, 0);
    ui->mapSplitter->setSizes({ 700, 340 });
    connect(table, &QTableWidget::itemSelectionChanged, this, &AeHitsPanel::slot_rowChosen);
    connect(ui->aeMap, &AeMapWidget::eventClicked, this, &AeHitsPanel::selectEvent);
    connect(ui->refreshButton, &QPushButton::clicked, this, &AeHitsPanel::refreshRequested);
    connect(ui->paramsButton, &QPushButton::clicked, this, &AeHitsPanel::parametersRequested);
    connect(ui->calibrationButton, &QPushButton::clicked, this, &AeHitsPanel::calibrationRequested);
    connect(ui->copyButton, &QPushButton::clicked, this, &AeHitsPanel::slot_copy);
    connect(ui->saveButton, &QPushButton::clicked, this, &AeHitsPanel::slot_save);
}

AeHitsPanel::~AeHitsPanel()
{
    clearMarks();
    delete ui;
}

void AeHitsPanel::showHits(TWForm* window, const HitQuery& asked, bool decibels)
{
    clearMarks();
    rows.clear();
    forget();
    shown = window && window->record && !window->isSpectrum ? window : nullptr;
    // The table follows its window: a new run, changed samples, a new or cleared selection;
    // it lets go of a window that is being destroyed.
    if (shown) {
        connect(shown, &TWForm::contentsChanged, this,
            [this, asked, decibels] { showHits(shown, asked, decibels); });
        connect(shown, &TWForm::goingAway, this, &AeHitsPanel::forget);
    }
    ui->summaryLabel->setText(tr("Нет записи."));
    ui->warningLabel->clear();
    shownQuery = HitQuery();
    if (shown) {
        HitQuery query = selectionQuery(*window, asked);
        QString cause;
        HitFacts facts;
        // Sensors the record has no channels for locate nothing; its hits are still shown.
        bool found = tabulateHits(*window->record, query, rows, cause, &facts);
        QString unlocated;
        if (!found && query.locates()) {
            unlocated = tr("Локация не выполнена: %1.").arg(fileCauseText(cause));
            query.sensors.clear();
            query.spacingMetres = 0;
            found = tabulateHits(*window->record, query, rows, cause, &facts);
        }
        if (found) {
            rate = sampleRateHz(*window->record);
            shownQuery = query;
            detector = facts.detector;
            describe(*window->record, window->selStart != window->selEnd, facts, decibels);
            if (!unlocated.isEmpty())
                ui->warningLabel->setText(
                    (ui->warningLabel->text() + QLatin1Char(' ') + unlocated).trimmed());
            markHits(window, facts);
        } else {
            ui->summaryLabel->setText(tr("Импульсы не найдены: %1").arg(fileCauseText(cause)));
        }
    }
    ui->warningLabel->setVisible(!ui->warningLabel->text().isEmpty());
    QList<int> channels;
    for (const HitRow& row : rows)
        if (!channels.contains(row.hit.channel))
            channels << row.hit.channel;
    fillTable(channels.size() >= 2);
    showMap();
}

// The line above the table: the threshold, the count, what the counts are of and the span;
// under it in red what makes a fixed threshold mislead.
void AeHitsPanel::describe(
    const WaveStore& record, bool selection, const HitFacts& facts, bool decibels)
{
    const HitQuery& query = shownQuery;
    QList<int> searched;
    for (int c = 0; c < record.channelCount(); ++c)
        if (query.channels.isEmpty() || query.channels.contains(c))
            searched << c;
    QString summary = tr("%1; импульсов: %2")
                          .arg(thresholdText(query, searched, facts, decibels))
                          .arg(rows.size());
    if (detector)
        summary += tr("; выбросы огибающей (детектор)");
    if (query.settings.highPassKhz > 0)
        summary += tr("; порог — по сигналу за фильтром высоких частот %1 кГц, его линии не "
                      "показаны")
                       .arg(QLocale().toString(query.settings.highPassKhz));
    summary += selection
        ? tr("; выделение %1…%2").arg(query.first).arg(query.first + query.count - 1)
        : tr("; вся запись");
    ui->summaryLabel->setText(summary);
    ui->warningLabel->setText(warningText(searched, facts));
}

void AeHitsPanel::markHits(TWForm* window, const HitFacts& facts)
{
    HitMarks& marks = window->hitMarks;
    marks.shown = true;
    for (int c = 0; c < window->record->channelCount(); ++c) {
        if (shownQuery.channels.isEmpty() || shownQuery.channels.contains(c))
            marks.channels << c;
        // A filtered search's threshold is not of the trace the window shows.
        const bool filtered
            = shownQuery.settings.highPassKhz > 0 && !window->record->channel(c)->detectorOffset;
        marks.thresholdVolts << (filtered ? 0 : facts.channels.value(c).thresholdVolts);
        marks.meanVolts << facts.channels.value(c).meanVolts;
    }
    for (const HitRow& row : rows)
        marks.arrivals << qMakePair(row.hit.channel, row.hit.arrival);
    window->repaintPlot();
}

void AeHitsPanel::fillTable(bool events)
{
    QTableWidget* table = ui->aeHitsTable;
    const QSignalBlocker blocker(table);
    table->setSortingEnabled(false);
    table->clearContents();
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        fillRow(r);
    const bool planar = shownQuery.planar();
    const bool located = events && shownQuery.locates();
    for (const int column : { eventColumn, dtColumn })
        table->setColumnHidden(column, !events);
    table->setColumnHidden(positionColumn, !located || planar);
    for (const int column : { xColumn, yColumn, residualColumn, zoneColumn })
        table->setColumnHidden(column, !located || !planar);
    table->setSortingEnabled(true);
}

QTableWidgetItem* AeHitsPanel::putCell(int r, int column, double value, const QString& text)
{
    auto* item = new NumberItem(text, value);
    item->setData(Qt::UserRole + 1, r); // the row's hit, whatever the sorting
    ui->aeHitsTable->setItem(r, column, item);
    return item;
}

void AeHitsPanel::fillRow(int r)
{
    const HitRow& row = rows[r];
    const Hit& hit = row.hit;
    const auto put
        = [&](int column, double value, const QString& text) { putCell(r, column, value, text); };
    const auto number = [&](int column, double value) { put(column, value, shortNumber(value)); };
    // What was not worked out sorts last and shows nothing.
    const auto known = [&](int column, double value, bool isKnown) {
        isKnown ? number(column, value) : put(column, HUGE_VAL, QString());
    };
    put(channelColumn, hit.channel + 1, QString::number(hit.channel + 1));
    number(arrivalColumn, microsOf(hit.arrival / rate));
    number(onsetColumn, microsOf(hit.onset / rate));
    number(voltsColumn, hit.peakVolts);
    number(decibelsColumn, std::round(decibelsAe(hit.peakVolts, shownQuery.preampDb) * 10) / 10);
    number(riseColumn, microsOf((hit.peak - hit.arrival) / rate));
    number(durationColumn, microsOf((hit.last - hit.arrival) / rate));
    put(countsColumn, hit.counts, QString::number(hit.counts));
    number(energyColumn, hit.energy);
    number(backgroundColumn, hit.backgroundRms);
    known(peakFrequencyColumn, std::round(hit.peakHz / 100) / 10, hit.peakHz >= 0);
    known(centroidColumn, std::round(hit.centroidHz / 100) / 10, hit.centroidHz >= 0);
    put(clippedColumn, hit.clipped ? 1 : 0, hit.clipped ? tr("да") : QString());
    if (hit.clipped)
        for (const int column : { voltsColumn, decibelsColumn, clippedColumn })
            ui->aeHitsTable->item(r, column)->setBackground(clippedColor);
    put(eventColumn, row.event + 1, QString::number(row.event + 1));
    number(dtColumn, microsOf(row.dtSeconds));
    fillLocation(r);
}

// The source on the line or in the plane; «вне датчиков» in red beyond them.
void AeHitsPanel::fillLocation(int r)
{
    const HitRow& row = rows[r];
    const auto put = [&](int column, double value, const QString& text) {
        return putCell(r, column, value, text);
    };
    for (const int column : { positionColumn, xColumn, yColumn, residualColumn, zoneColumn })
        put(column, HUGE_VAL, QString());
    if (row.zone >= 0 && shownQuery.planar())
        put(zoneColumn, row.zone + 1, QString::number(row.zone + 1));
    if (!row.located)
        return;
    const bool outside = !amongSensors(row, shownQuery);
    // Places to the millimetre.
    const auto place = [&](int column, double value) {
        const QString text = shortNumber(std::round(value * 1000) / 1000);
        QTableWidgetItem* item
            = put(column, value, outside ? tr("%1 (вне датчиков)").arg(text) : text);
        if (outside)
            item->setForeground(outsideColor);
    };
    if (!row.inPlane) {
        place(positionColumn, row.positionMetres);
        return;
    }
    place(xColumn, row.x);
    place(yColumn, row.y);
    if (row.residualMetres >= 0)
        put(residualColumn, row.residualMetres, shortNumber(row.residualMetres, 2));
}

// The map stands beside the table while sources are located.
void AeHitsPanel::showMap()
{
    ui->aeMap->setContents(mapOfRows(rows, shownQuery));
    ui->aeMap->setVisible(shownQuery.locates());
}

void AeHitsPanel::selectEvent(int event)
{
    QTableWidget* table = ui->aeHitsTable;
    QItemSelection chosen;
    int first = -1;
    for (int r = 0; r < table->rowCount(); ++r) {
        const int hit = table->item(r, channelColumn)->data(Qt::UserRole + 1).toInt();
        if (rows.value(hit).event != event)
            continue;
        chosen.select(table->model()->index(r, 0), table->model()->index(r, columnCount - 1));
        first = first < 0 ? r : first;
    }
    table->selectionModel()->select(chosen, QItemSelectionModel::ClearAndSelect);
    // Into view down the table, keeping the columns shown.
    if (first >= 0)
        table->scrollToItem(
            table->item(first, std::max(0, table->columnAt(0))), QAbstractItemView::PositionAtTop);
}

void AeHitsPanel::clearMarks()
{
    if (!shown)
        return;
    shown->hitMarks = HitMarks();
    shown->repaintPlot();
}

void AeHitsPanel::forget()
{
    if (shown)
        disconnect(shown, nullptr, this, nullptr);
    shown = nullptr;
}

void AeHitsPanel::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    emit refreshRequested();
}

void AeHitsPanel::hideEvent(QHideEvent* event)
{
    clearMarks();
    forget();
    QDockWidget::hideEvent(event);
}

void AeHitsPanel::slot_rowChosen()
{
    const QList<QTableWidgetItem*> chosen = ui->aeHitsTable->selectedItems();
    if (chosen.isEmpty() || !shown)
        return;
    const int r = chosen.first()->data(Qt::UserRole + 1).toInt();
    if (r < 0 || r >= rows.size())
        return;
    shown->showSample(rows[r].hit.channel, rows[r].hit.arrival);
    ui->aeMap->setChosenEvent(rows[r].event);
}

QString AeHitsPanel::tableText() const
{
    const QTableWidget* table = ui->aeHitsTable;
    QStringList lines;
    QStringList cells;
    for (int c = 0; c < table->columnCount(); ++c)
        if (!table->isColumnHidden(c))
            cells << table->horizontalHeaderItem(c)->text();
    lines << cells.join('\t');
    for (int r = 0; r < table->rowCount(); ++r) {
        cells.clear();
        for (int c = 0; c < table->columnCount(); ++c)
            if (!table->isColumnHidden(c))
                cells << (table->item(r, c) ? table->item(r, c)->text() : QString());
        lines << cells.join('\t');
    }
    return lines.join('\n') + '\n';
}

bool AeHitsPanel::saveCsv(const QString& name, QString& cause) const
{
    // A record that differs from its file is not that file's contents: its rows say so.
    const QString file = shown ? shown->shownTitle(QStringLiteral(" (unsaved)")) : QString();
    return saveText(name, hitsCsv(file, rows, rate, shownQuery, detector, true), cause);
}

bool AeHitsPanel::saveChosen(const QString& chosen)
{
    // A name without a suffix gets ".csv"; one with another suffix is written as it stands.
    const QString name = QFileInfo(chosen).suffix().isEmpty()
        ? completedSaveName(chosen, QStringLiteral(".csv"))
        : chosen;
    QString cause;
    if (name.isEmpty() || saveCsv(name, cause))
        return !name.isEmpty();
    if (qtmisc::mesDaemon)
        qtmisc::mesDaemon->showWarn(
            0x1512, QFileInfo(name).fileName(), fileCauseText(cause), false, false);
    return false;
}

void AeHitsPanel::slot_copy()
{
    QApplication::clipboard()->setText(tableText());
}

void AeHitsPanel::slot_save()
{
    const QString chosen = QFileDialog::getSaveFileName(
        this, tr("Сохранить импульсы"), QString(), QStringLiteral("CSV (*.csv)"));
    if (!chosen.isEmpty())
        saveChosen(chosen);
}
