// Measurements beside the record window: per channel the cursor's time and value, their
// differences to channel 1's cursor, and the selection's length, minimum, maximum, range,
// mean and RMS in the readouts' unit. Depends on wave_form.h and record_export.h.
#pragma once

#include <QDockWidget>
#include <QPointer>

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

    // Measures window's record in the window's readout unit (a spectrum or no window empties
    // the table), and follows it: cursors, the selection's drag, new contents.
    void showMeasurements(TWForm* window);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void measure();
    // Lets go of the window measured.
    void forget();

    QTableWidget* table;
    QPointer<TWForm> shown;
};
