#include "ae_panel.h"

#include "cause_texts.h"
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
#include <QPushButton>
#include <QTableWidgetItem>
#include <cmath>

// --- Parameters --------------------------------------------------------------------------------

AeParamsDialog::AeParamsDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::AeParamsDialog)
{
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->thresholdUnitBox, &QComboBox::currentIndexChanged, this,
        &AeParamsDialog::slot_unitChanged);
    connect(ui->pairFirstBox, &QSpinBox::valueChanged, this, &AeParamsDialog::slot_pairChanged);
    connect(ui->pairSecondBox, &QSpinBox::valueChanged, this, &AeParamsDialog::slot_pairChanged);
}

AeParamsDialog::~AeParamsDialog()
{
    delete ui;
}

void AeParamsDialog::setValues(const HitQuery& query, bool decibels)
{
    const QSignalBlocker blocker(ui->thresholdUnitBox);
    unit = decibels ? 1 : 0;
    ui->thresholdUnitBox->setCurrentIndex(unit);
    slot_unitChanged(unit);
    const double volts = query.settings.thresholdVolts;
    ui->thresholdBox->setValue(decibels ? decibelsAe(volts) : volts);
    ui->hdtBox->setValue(query.settings.hdtMicros);
    ui->hltBox->setValue(query.settings.hltMicros);
    ui->pdtBox->setValue(query.settings.pdtMicros);
    ui->spacingBox->setValue(query.spacingMetres);
    ui->speedBox->setValue(query.speedMps);
    ui->pairFirstBox->setValue(query.pair[0] + 1);
    ui->pairSecondBox->setValue(query.pair[1] + 1);
    ui->windowBox->setValue(query.windowSeconds < 0 ? -1 : query.windowSeconds * 1e6);
}

void AeParamsDialog::takeValues(HitQuery& query, bool& decibels) const
{
    decibels = unit == 1;
    const double threshold = ui->thresholdBox->value();
    query.settings.thresholdVolts = decibels ? voltsOfDecibelsAe(threshold) : threshold;
    query.settings.hdtMicros = ui->hdtBox->value();
    query.settings.hltMicros = ui->hltBox->value();
    query.settings.pdtMicros = ui->pdtBox->value();
    query.spacingMetres = ui->spacingBox->value();
    query.speedMps = ui->speedBox->value();
    query.pair[0] = ui->pairFirstBox->value() - 1;
    query.pair[1] = ui->pairSecondBox->value() - 1;
    const double window = ui->windowBox->value();
    query.windowSeconds = window < 0 ? -1 : window * 1e-6;
}

// The threshold keeps its level when its unit changes: 1 uV ... 10 V either way.
void AeParamsDialog::slot_unitChanged(int newUnit)
{
    QDoubleSpinBox* box = ui->thresholdBox;
    const double value = box->value();
    const double volts = unit == 1 ? voltsOfDecibelsAe(value) : value;
    unit = newUnit;
    const QSignalBlocker blocker(box);
    if (unit == 1) {
        box->setDecimals(1);
        box->setRange(0, 140);
        box->setValue(decibelsAe(volts));
    } else {
        box->setDecimals(6);
        box->setRange(minThresholdVolts, maxThresholdVolts);
        box->setValue(volts);
    }
}

// A pair of one sensor locates nothing: OK waits for two different channels.
void AeParamsDialog::slot_pairChanged()
{
    ui->buttonBox->button(QDialogButtonBox::Ok)
        ->setEnabled(ui->pairFirstBox->value() != ui->pairSecondBox->value());
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

QString shortNumber(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

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
    table->setHorizontalHeaderLabels({ tr("Канал"), tr("Приход, с"), tr("Начало (AIC), с"),
        tr("Амплитуда, В"), tr("Амплитуда, дБАЭ"), tr("Нарастание, с"), tr("Длительность, с"),
        tr("Выбросы"), tr("Энергия, В²·с"), tr("Фон (СКЗ), В"), tr("Событие"), tr("Δt, с"),
        tr("Положение, м") });
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(table, &QTableWidget::itemSelectionChanged, this, &AeHitsPanel::slot_rowChosen);
    connect(ui->refreshButton, &QPushButton::clicked, this, &AeHitsPanel::refreshRequested);
    connect(ui->paramsButton, &QPushButton::clicked, this, &AeHitsPanel::parametersRequested);
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
    QString summary = tr("Нет записи.");
    if (shown) {
        HitQuery query = asked;
        const bool selection = window->selStart != window->selEnd;
        if (selection) {
            query.first = std::min(window->selStart, window->selEnd);
            query.count = std::abs(window->selEnd - window->selStart);
        }
        QString cause;
        const WaveStore& record = *window->record;
        HitFacts facts;
        if (tabulateHits(record, query, rows, cause, &facts)) {
            rate = sampleRateHz(record);
            spacing = query.spacingMetres;
            locates = query.locates();
            shownQuery = query;
            detector = facts.detector;
            const double threshold = query.settings.thresholdVolts;
            summary = tr("Порог %1; импульсов: %2; %3")
                          .arg(decibels ? tr("%1 дБАЭ").arg(shortNumber(decibelsAe(threshold)))
                                        : tr("%1 В").arg(shortNumber(threshold)))
                          .arg(rows.size())
                          .arg(selection ? tr("выделение %1…%2")
                                               .arg(query.first)
                                               .arg(query.first + query.count - 1)
                                         : tr("вся запись"));
            QStringList beyond;
            for (int c = 0; c < record.channelCount(); ++c)
                if ((query.channels.isEmpty() || query.channels.contains(c))
                    && thresholdBeyondScale(record, c, threshold))
                    beyond << QString::number(c + 1);
            if (!beyond.isEmpty())
                summary += tr("; порог выше шкалы канала %1: импульсов там не будет")
                               .arg(beyond.join(QStringLiteral(", ")));
            HitMarks& marks = window->hitMarks;
            marks.shown = true;
            marks.thresholdVolts = threshold;
            for (int c = 0; c < record.channelCount(); ++c)
                marks.channels << c;
            for (const HitRow& row : rows)
                marks.arrivals << qMakePair(row.hit.channel, row.hit.arrival);
            window->repaintPlot();
        } else {
            summary = tr("Импульсы не найдены: %1").arg(fileCauseText(cause));
        }
    }
    ui->summaryLabel->setText(summary);
    QList<int> channels;
    for (const HitRow& row : rows)
        if (!channels.contains(row.hit.channel))
            channels << row.hit.channel;
    fillTable(channels.size() >= 2);
}

void AeHitsPanel::fillTable(bool events)
{
    QTableWidget* table = ui->aeHitsTable;
    const QSignalBlocker blocker(table);
    table->setSortingEnabled(false);
    table->clearContents();
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        const HitRow& row = rows[r];
        const Hit& hit = row.hit;
        const auto put = [&](int column, double value, const QString& text) {
            auto* item = new NumberItem(text, value);
            item->setData(Qt::UserRole + 1, r); // the row's hit, whatever the sorting
            table->setItem(r, column, item);
        };
        const auto number
            = [&](int column, double value) { put(column, value, shortNumber(value)); };
        put(channelColumn, hit.channel + 1, QString::number(hit.channel + 1));
        number(arrivalColumn, hit.arrival / rate);
        number(onsetColumn, hit.onset / rate);
        number(voltsColumn, hit.peakVolts);
        number(decibelsColumn, std::round(decibelsAe(hit.peakVolts) * 10) / 10);
        number(riseColumn, (hit.peak - hit.arrival) / rate);
        number(durationColumn, (hit.last - hit.arrival) / rate);
        put(countsColumn, hit.counts, QString::number(hit.counts));
        number(energyColumn, hit.energy);
        number(backgroundColumn, hit.backgroundRms);
        put(eventColumn, row.event + 1, QString::number(row.event + 1));
        number(dtColumn, row.dtSeconds);
        if (row.located) {
            const bool outside = row.positionMetres < 0 || row.positionMetres > spacing;
            put(positionColumn, row.positionMetres,
                outside ? tr("%1 (вне датчиков)").arg(shortNumber(row.positionMetres))
                        : shortNumber(row.positionMetres));
            if (outside)
                table->item(r, positionColumn)->setForeground(QColor(200, 0, 0));
        } else {
            put(positionColumn, HUGE_VAL, QString());
        }
    }
    for (const int column : { eventColumn, dtColumn, positionColumn })
        table->setColumnHidden(column, !events);
    table->setColumnHidden(positionColumn, !events || !locates);
    table->setSortingEnabled(true);
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
    if (r >= 0 && r < rows.size())
        shown->showSample(rows[r].hit.channel, rows[r].hit.arrival);
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
