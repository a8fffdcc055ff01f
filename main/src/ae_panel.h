// Acoustic-emission hits beside the record window: the table of the active record's hits (a
// dock of the main window) with the map of their sources, and the dialog of their parameters.
// Depends on ae_hits.h, ae_map.h, settings.h and wave_form.h.
#pragma once

#include "ae_hits.h"
#include "settings.h"

#include <QDialog>
#include <QDockWidget>
#include <QPointer>
#include <array>

class QCheckBox;
class QDoubleSpinBox;
class QTableWidgetItem;
class TWForm;

namespace Ui {
class AeParamsDialog;
class AeHitsPanel;
}

// The query over window's selection when it has one (its whole record else).
HitQuery selectionQuery(const TWForm& window, const HitQuery& query);

// «Параметры АЭ»: the threshold, fixed (volts, or dB_AE at the sensor ahead of the
// preamplifier) or floating over the background, HDT, HLT, PDT, the high-pass filter, the
// preamplifier's gain, and location on or off: the wave speed, the coincidence window, and the
// sensors on a line (spacing and pair) or in the plane (places of channels 1-4). OK waits for
// a set-up that can be used.
class AeParamsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AeParamsDialog(QWidget* parent = nullptr);
    ~AeParamsDialog() override;

    void setValues(const AeSettings& settings);
    // Takes the fields into settings (the query's span and channels stay).
    void takeValues(AeSettings& settings) const;

    // Why a location set-up cannot be used, in words; empty when it can. In the plane: the
    // sensors used (channels from 1 on, in order) and their places; on the line: the pair.
    static QString planeProblem(const QList<bool>& used, const QList<QPointF>& places);
    static QString pairProblem(int first, int second);

private slots:
    void slot_unitChanged(int unit);
    void slot_preampChanged(double preampDb);
    void slot_setupChanged();

private:
    // The threshold box's range and decimals for the unit, in dB_AE at the sensor for 1.
    void setThresholdRange();
    double thresholdVolts() const;
    std::array<QCheckBox*, maxSensors> sensorBoxes() const;
    std::array<QDoubleSpinBox*, maxSensors> xBoxes() const;
    std::array<QDoubleSpinBox*, maxSensors> yBoxes() const;
    QList<bool> usedSensors() const;
    // The places of the sensors used.
    QList<QPointF> places() const;

    Ui::AeParamsDialog* ui;
    int unit = 0; // 0 volts, 1 dB_AE
    double preamp = 0; // dB, that the threshold box's dB_AE are referred with
};

// The hits table: a row a hit, sortable, times in microseconds, with its event, the onset
// difference and the source (on the line, or in the plane with its residual and zone) when
// two or more channels were hit; beside it, while sources are located, their map. A chosen
// row brings the hit's channel cursor to its arrival; a dot clicked on the map chooses its
// event's rows. While the table shows a window's hits, that window marks them.
class AeHitsPanel : public QDockWidget
{
    Q_OBJECT
public:
    enum Column {
        channelColumn,
        arrivalColumn,
        onsetColumn,
        voltsColumn,
        decibelsColumn,
        riseColumn,
        durationColumn,
        countsColumn,
        energyColumn,
        backgroundColumn,
        peakFrequencyColumn,
        centroidColumn,
        clippedColumn,
        eventColumn,
        dtColumn,
        positionColumn,
        xColumn,
        yColumn,
        residualColumn,
        zoneColumn,
        columnCount
    };

    explicit AeHitsPanel(QWidget* parent = nullptr);
    ~AeHitsPanel() override;

    // Finds the hits of window's record, over its selection when it has one, and marks them on
    // it; null (or a spectrum) empties the table. decibels: the threshold is told in dB_AE.
    void showHits(TWForm* window, const HitQuery& query, bool decibels);
    // Takes the marks off the window shown.
    void clearMarks();
    // Chooses the rows of event (0-based) and brings the first into view.
    void selectEvent(int event);
    // The table as shown (header and rows in their order), tab-separated.
    QString tableText() const;
    // The CSV of the hits, as the command-line tool writes it; false with the cause.
    bool saveCsv(const QString& name, QString& cause) const;
    // Saves the CSV under the name chosen in the file dialog (".csv" added to a name without a
    // suffix, asked about when that file exists); false when called off or after warning 0x1512.
    bool saveChosen(const QString& chosen);

signals:
    void refreshRequested();
    void parametersRequested();
    void calibrationRequested();

protected:
    // Hidden (closed, floated or docked again, the window minimised), the panel lets its
    // window go; shown again, it asks for the hits anew.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private slots:
    void slot_rowChosen();
    void slot_copy();
    void slot_save();

private:
    // The line above the table and the warnings under it, after a search.
    void describe(const WaveStore& record, bool selection, const HitFacts& facts, bool decibels);
    void markHits(TWForm* window, const HitFacts& facts);
    void fillTable(bool events);
    // A cell of table row r that sorts by value and knows its hit.
    QTableWidgetItem* putCell(int r, int column, double value, const QString& text);
    void fillRow(int r);
    void fillLocation(int r);
    void showMap();
    // Lets go of the window shown (its changes are no longer followed).
    void forget();

    Ui::AeHitsPanel* ui;
    QWidget* content = nullptr;
    QPointer<TWForm> shown;
    QList<HitRow> rows;
    double rate = 0;
    HitQuery shownQuery; // what the rows were found with
    bool detector = false; // some channel shown holds detector data
};
