// Acoustic-emission hits beside the record window: the table of the active record's hits (a
// dock of the main window) and the dialog of their parameters. Depends on ae_hits.h and
// wave_form.h.
#pragma once

#include "ae_hits.h"

#include <QDialog>
#include <QDockWidget>
#include <QPointer>

class TWForm;

namespace Ui {
class AeParamsDialog;
class AeHitsPanel;
}

// «Параметры АЭ»: the threshold (volts or dB_AE), HDT, HLT, PDT, the sensors' spacing, the
// wave speed, the located pair and the coincidence window.
class AeParamsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AeParamsDialog(QWidget* parent = nullptr);
    ~AeParamsDialog() override;

    void setValues(const HitQuery& query, bool decibels);
    // Takes the fields into query's definitions and location (its span and channels stay).
    void takeValues(HitQuery& query, bool& decibels) const;

private slots:
    void slot_unitChanged(int unit);
    void slot_pairChanged();

private:
    Ui::AeParamsDialog* ui;
    int unit = 0; // 0 volts, 1 dB_AE
};

// The hits table: a row a hit, sortable, with its event, the onset difference and the source
// position when two or more channels were hit. A chosen row brings the hit's channel cursor
// to its arrival. While the table shows a window's hits, that window marks them.
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
        eventColumn,
        dtColumn,
        positionColumn,
        columnCount
    };

    explicit AeHitsPanel(QWidget* parent = nullptr);
    ~AeHitsPanel() override;

    // Finds the hits of window's record, over its selection when it has one, and marks them on
    // it; null (or a spectrum) empties the table.
    void showHits(TWForm* window, const HitQuery& query, bool decibels);
    // Takes the marks off the window shown.
    void clearMarks();
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

protected:
    void hideEvent(QHideEvent* event) override;

private slots:
    void slot_rowChosen();
    void slot_copy();
    void slot_save();

private:
    void fillTable(bool events);
    // Lets go of the window shown (its changes are no longer followed).
    void forget();

    Ui::AeHitsPanel* ui;
    QWidget* content = nullptr;
    QPointer<TWForm> shown;
    QList<HitRow> rows;
    double rate = 0;
    double spacing = 0;
    bool locates = false;
    HitQuery shownQuery; // what the rows were found with
    bool detector = false; // some channel shown holds detector data
};
