// Measurements beside the record window: per channel the cursor's time and value, their
// differences to channel 1's cursor, and the selection's length, minimum, maximum, range,
// mean and RMS in the readouts' unit. Depends on wave_form.h and record_export.h.
#pragma once

#include <QDockWidget>

class QTableWidget;
class TWForm;

class MeasurePanel : public QDockWidget
{
    Q_OBJECT
public:
    enum Column {
        channelColumn,
        timeColumn,
        valueColumn,
        timeToFirstColumn,
        valueToFirstColumn,
        samplesColumn,
        spanColumn,
        minimumColumn,
        maximumColumn,
        rangeColumn,
        meanColumn,
        rmsColumn,
        columnCount
    };

    explicit MeasurePanel(QWidget* parent = nullptr);

    // Measures window's record (a spectrum or no window empties the table).
    void showMeasurements(TWForm* window, bool volts);

private:
    QTableWidget* table;
};
