#include "ae_calibration.h"

#include "cause_texts.h"
#include "decimal_keys.h"
#include "record_export.h"
#include "settings.h"
#include "ui_aecalibration.h"

#include <QLocale>
#include <QPushButton>

AeCalibrationDialog::AeCalibrationDialog(
    const WaveStore& record, const HitQuery& asked, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::AeCalibrationDialog)
    , query(asked)
    , rate(sampleRateHz(record))
{
    ui->setupUi(this);
    acceptEitherDecimalPoint(this);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setText(tr("Принять скорость"));
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (!calibrationHits(record, query, rows, failure))
        rows.clear();
    // The source starts midway between the sensors.
    const bool planar = query.planar();
    QPointF middle(query.spacingMetres / 2, 0);
    if (planar) {
        middle = QPointF();
        for (const QPointF& place : query.sensors)
            middle += place / double(query.sensors.size());
    }
    ui->placeLabel->setText(planar
            ? tr("Где стоял источник (например, излом грифеля): X и Y в осях мест датчиков.")
            : tr("Где стоял источник (например, излом грифеля): X — расстояние от датчика "
                 "канала %1 в сторону датчика канала %2.")
                  .arg(query.pair[0] + 1)
                  .arg(query.pair[1] + 1));
    ui->yLabel->setVisible(planar);
    ui->sourceYBox->setVisible(planar);
    ui->sourceXBox->setValue(middle.x());
    ui->sourceYBox->setValue(middle.y());
    connect(ui->sourceXBox, &QDoubleSpinBox::valueChanged, this,
        &AeCalibrationDialog::slot_placeChanged);
    connect(ui->sourceYBox, &QDoubleSpinBox::valueChanged, this,
        &AeCalibrationDialog::slot_placeChanged);
    slot_placeChanged();
}

AeCalibrationDialog::~AeCalibrationDialog()
{
    delete ui;
}

// The speed fitted anew for the place typed; OK keeps only a speed the settings can hold.
void AeCalibrationDialog::slot_placeChanged()
{
    const QPointF source(ui->sourceXBox->value(), ui->sourceYBox->value());
    QString cause = failure;
    const bool found = failure.isEmpty() && fitSpeed(rows, query, source, rate, fitted, cause);
    if (!found)
        fitted = SpeedFit();
    const bool usable = found && fitted.speedMps >= minSpeedMps && fitted.speedMps <= maxSpeedMps;
    const QLocale locale;
    const auto speedText = [&locale](double mps) { return locale.toString(mps, 'f', 0); };
    QString text = found ? tr("Скорость волны %1 м/с, разброс %2 м/с, событий: %3, невязка %4 м "
                              "(задана %5 м/с).")
                               .arg(speedText(fitted.speedMps), speedText(fitted.spreadMps))
                               .arg(fitted.events)
                               .arg(locale.toString(fitted.residualMetres, 'g', 3))
                               .arg(speedText(query.speedMps))
                         : tr("Скорость не определена: %1.").arg(fileCauseText(cause));
    if (found && !usable)
        text += ' '
            + tr("Принять можно скорость от %1 до %2 м/с.")
                  .arg(speedText(minSpeedMps), speedText(maxSpeedMps));
    ui->resultLabel->setText(text);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(usable);
}
