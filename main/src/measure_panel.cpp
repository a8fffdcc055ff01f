#include "measure_panel.h"

#include "convert.h"
#include "record_export.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>
#include <cmath>

namespace {

QString amount(double value, const QString& unit)
{
    return engineeringText(value, 6).trimmed() + unit;
}

} // namespace

MeasurePanel::MeasurePanel(QWidget* parent)
    : QDockWidget(tr("Измерения"), parent)
    , table(new QTableWidget(this))
{
    setObjectName(QStringLiteral("measureDock"));
    table->setObjectName(QStringLiteral("measureTable"));
    table->setColumnCount(columnCount);
    table->setHorizontalHeaderLabels({ tr("Канал"), tr("T"), tr("Y"), tr("ΔT к к.1"),
        tr("ΔY к к.1"), tr("Выделение, отсч."), tr("Выделение"), tr("Мин."), tr("Макс."),
        tr("Размах"), tr("Среднее"), tr("СКЗ") });
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWidget(table);
}

void MeasurePanel::showMeasurements(TWForm* window)
{
    forget();
    shown = window;
    if (shown) {
        connect(shown, &TWForm::channelStatusChanged, this, &MeasurePanel::measure);
        connect(shown, &TWForm::selectionMoved, this, &MeasurePanel::measure);
        connect(shown, &TWForm::contentsChanged, this, &MeasurePanel::measure);
        connect(shown, &TWForm::goingAway, this, &MeasurePanel::forget);
    }
    measure();
}

void MeasurePanel::forget()
{
    if (shown)
        disconnect(shown, nullptr, this, nullptr);
    shown = nullptr;
}

void MeasurePanel::hideEvent(QHideEvent* event)
{
    forget();
    QDockWidget::hideEvent(event);
}

void MeasurePanel::measure()
{
    TWForm* window = shown;
    WaveStore* record = window && !window->isSpectrum ? window->record : nullptr;
    const int channels = record ? record->channelCount() : 0;
    table->setRowCount(channels);
    if (!record)
        return;
    const bool volts = window->viewOptions().volts;
    const QString unit = volts ? QStringLiteral("V") : QStringLiteral("Q");
    const double rate = sampleRateHz(*record);
    const auto seconds = [rate](double samples) {
        return rate > 0 ? amount(samples / rate, QStringLiteral("S")) : QStringLiteral("—");
    };
    const int first = std::min(window->selStart, window->selEnd);
    const int count = std::abs(window->selEnd - window->selStart);
    int firstCursor = 0;
    double firstValue = 0;
    for (int i = 0; i < channels; ++i) {
        WaveChannel* channel = record->channel(i);
        QStringList cells(columnCount);
        cells[channelColumn] = QString::number(i + 1);
        if (channel && channel->hasData) {
            const int cursor = channel->cursorIndex();
            const double value = sampleAmplitude(channel->displayedValue(cursor),
                record->channelSlots[i].header.gainCode, channel->detectorOffset, volts);
            if (i == 0) {
                firstCursor = cursor;
                firstValue = value;
            }
            cells[timeColumn] = seconds(cursor);
            cells[valueColumn] = amount(value, unit);
            cells[timeToFirstColumn] = seconds(cursor - firstCursor);
            cells[valueToFirstColumn] = amount(value - firstValue, unit);
            const SpanStats stats = spanStats(*record, i, first, count, volts);
            if (stats.count > 0) {
                cells[samplesColumn] = QString::number(stats.count);
                cells[spanColumn] = seconds(stats.count);
                cells[minimumColumn] = amount(stats.minimum, unit);
                cells[maximumColumn] = amount(stats.maximum, unit);
                cells[rangeColumn] = amount(stats.maximum - stats.minimum, unit);
                cells[meanColumn] = amount(stats.mean, unit);
                cells[rmsColumn] = amount(stats.rms, unit);
            }
        }
        for (int c = 0; c < columnCount; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(i, c, item);
        }
    }
}
