// The wave speed calibrated on a record of sources at a known place (pencil-lead breaks, say):
// the fit over the record's events and the dialog that offers to keep it. Depends on
// ae_hits.h and settings.h.
#pragma once

#include "ae_hits.h"

#include <QDialog>

namespace Ui {
class AeCalibrationDialog;
}

// «Калибровка скорости»: the source's place (X on the line; X and Y in the plane), and the
// speed fitted to it with its spread and the number of events, or why there is none. OK keeps
// the speed.
class AeCalibrationDialog : public QDialog
{
    Q_OBJECT
public:
    AeCalibrationDialog(const WaveStore& record, const HitQuery& query, QWidget* parent = nullptr);
    ~AeCalibrationDialog() override;

    // The speed fitted (m/s); 0 while there is none.
    double speed() const { return fitted.speedMps; }

private slots:
    void slot_placeChanged();

private:
    Ui::AeCalibrationDialog* ui;
    HitQuery query;
    QList<HitRow> rows;
    double rate = 0;
    QString failure; // why the record's hits cannot be had, in English words
    SpeedFit fitted;
};
