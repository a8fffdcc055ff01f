#include "set_record.h"

#include "data.h"
#include "errors.h"
#include "ui_setrecorddialog.h"

#include <QtMisc/qtm_messager.h>

#include <QComboBox>
#include <QRadioButton>
#include <algorithm>
#include <cmath>
#include <new>

namespace {

constexpr auto uniqueConnection = Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection);
constexpr int gainItems = 13; // 1, 2, 4 ... 4096

} // namespace

QString MyFEditSpinBox::frequencyText(int value)
{
    const float code = float(65536 - value);
    return QString::number(std::lroundf(3000000.0f / (code + 1.0f)));
}

QString MyFEditSpinBox::textFromValue(int value) const
{
    return frequencyText(value);
}

int MyFEditSpinBox::valueForHertz(qint64 hertz) const
{
    const auto hertzOf = [](int code) { return 3000000.0 / (code + 1); };
    const int lowest = 65536 - maximum();
    const int highest = 65536 - minimum();
    const double wanted = double(std::max<qint64>(hertz, 1));
    int best = std::clamp(int(std::lround(3000000.0 / wanted - 1.0)), lowest, highest);
    for (int code : { best - 1, best + 1 })
        if (code >= lowest && code <= highest
            && std::fabs(hertzOf(code) - wanted) < std::fabs(hertzOf(best) - wanted))
            best = code;
    return 65536 - best;
}

int MyFEditSpinBox::valueFromText(const QString& text) const
{
    // Several codes share the whole hertz shown at the low end: the shown text keeps the code.
    if (text == textFromValue(value()))
        return value();
    bool ok = false;
    const qint64 hertz = text.trimmed().toLongLong(&ok);
    return ok ? valueForHertz(hertz) : value();
}

QValidator::State MyFEditSpinBox::validate(QString& text, int&) const
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return QValidator::Intermediate;
    if (digits.size() > 9)
        return QValidator::Invalid;
    for (const QChar c : digits)
        if (!c.isDigit())
            return QValidator::Invalid;
    return QValidator::Acceptable;
}

QString MyLEditSpinBox::textFromValue(int value) const
{
    return QString::number(value);
}

void MyLEditSpinBox::fixup(QString& input) const
{
    bool ok = false;
    const qint64 number = input.trimmed().toLongLong(&ok);
    if (ok && (number < minimum() || number > maximum()))
        typed = number;
    QSpinBox::fixup(input);
}

std::optional<qint64> MyLEditSpinBox::takeTyped()
{
    const std::optional<qint64> number = typed;
    typed.reset();
    return number;
}

TSetRecord::TSetRecord(QWidget* parent)
    : QDialog(
        parent, Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::MSWindowsFixedSizeDialogHint)
{
}

TSetRecord::~TSetRecord()
{
    delete frequencyBox;
    delete countBox;
    delete form;
}

bool TSetRecord::initialise()
{
    form = new (std::nothrow) Ui::SetRecordDialog;
    if (!form) {
        QTM_REPORT(0xA402);
        return false;
    }
    form->setupUi(this);
    QComboBox* const gains[] = { form->gBox1, form->gBox2, form->gBox3, form->gBox4 };
    for (QComboBox* box : gains) {
        box->setCurrentIndex(0);
        if (!connect(box, &QComboBox::currentIndexChanged, this,
                &TSetRecord::slot_GBoxesCurrentIndexChanged, uniqueConnection)) {
            QTM_REPORT(0xA502);
            return false;
        }
        for (int g = 0; g < gainItems; ++g)
            box->addItem(QString::number(1 << g));
    }
    for (QRadioButton* button : { form->rb1_4, form->rb5_8, form->rb9_12, form->rb13_16,
             form->rb17_20, form->rb21_24, form->rb25_28, form->rb29_32 }) {
        if (!connect(button, &QRadioButton::released, this, &TSetRecord::slot_MuxRGReleased,
                uniqueConnection)) {
            QTM_REPORT(0xA602);
            return false;
        }
    }
    if (!connect(form->allBox, &QCheckBox::stateChanged, this, &TSetRecord::slot_AllBoxStateChanged,
            uniqueConnection)) {
        QTM_REPORT(0xA702);
        return false;
    }
    frequencyBox = new (std::nothrow) MyFEditSpinBox(form->b2);
    countBox = new (std::nothrow) MyLEditSpinBox(form->b2);
    if (!frequencyBox || !countBox) {
        QTM_REPORT(0xA802);
        return false;
    }
    frequencyBox->setObjectName(QStringLiteral("frequencyBox"));
    frequencyBox->setGeometry(120, 30, 82, 22);
    frequencyBox->setRange(2, 65534);
    // A frequency is taken once typed, not at each digit on the way.
    frequencyBox->setKeyboardTracking(false);
    countBox->setObjectName(QStringLiteral("countBox"));
    countBox->setGeometry(120, 60, 82, 22);
    countBox->setRange(minCount, maxCount);
    countBox->setSingleStep(2);
    // The even-count rule applies to the number once typed, not to each digit on the way.
    countBox->setKeyboardTracking(false);
    if (!connect(frequencyBox, &QSpinBox::valueChanged, this, &TSetRecord::slot_FEditValueChanged,
            uniqueConnection)) {
        QTM_REPORT(0xA902);
        return false;
    }
    if (!connect(countBox, &QSpinBox::valueChanged, this, &TSetRecord::slot_LEditValueChanged,
            uniqueConnection)
        || !connect(countBox, &QSpinBox::editingFinished, this,
            &TSetRecord::slot_LEditEditingFinished, uniqueConnection)) {
        QTM_REPORT(0xAA02);
        return false;
    }
    return true;
}

void TSetRecord::load(const AcqParams& p, bool forAll)
{
    loading = true;
    form->allBox->setChecked(forAll);
    QComboBox* const gains[] = { form->gBox1, form->gBox2, form->gBox3, form->gBox4 };
    for (int k = 0; k < 4; ++k)
        gains[k]->setCurrentIndex(p.gains[k] < gainItems ? p.gains[k] : -1);
    QRadioButton* const groups[] = { form->rb1_4, form->rb5_8, form->rb9_12, form->rb13_16,
        form->rb17_20, form->rb21_24, form->rb25_28, form->rb29_32 };
    if (p.muxGroup < 8) {
        groups[p.muxGroup]->setChecked(true);
    } else {
        form->rb1_4->setAutoExclusive(false);
        form->rb1_4->setChecked(false);
        form->rb1_4->setAutoExclusive(true);
    }
    if (p.sync == 1)
        form->rbExternal->setChecked(true);
    else if (p.sync == 0)
        form->rbInternal->setChecked(true);
    frequencyValue = quint16(65536 - p.freqCode);
    frequencyBox->setValue(frequencyValue);
    countValue = 2 * qint32(p.halfCount);
    countBox->setValue(countValue);
    form->detCB->setChecked(p.detector != 0);
    loading = false;
}

int TSetRecord::checkedGroup() const
{
    const QRadioButton* const groups[] = { form->rb1_4, form->rb5_8, form->rb9_12, form->rb13_16,
        form->rb17_20, form->rb21_24, form->rb25_28, form->rb29_32 };
    for (int g = 0; g < 8; ++g)
        if (groups[g]->isChecked())
            return g;
    return -1;
}

void TSetRecord::store(AcqParams& p, bool& forAll) const
{
    forAll = form->allBox->isChecked();
    p.freqCode = quint16(65536 - frequencyValue);
    p.muxGroup = quint8(std::max(checkedGroup(), 0));
    const QComboBox* const gains[] = { form->gBox1, form->gBox2, form->gBox3, form->gBox4 };
    for (int k = 0; k < 4; ++k)
        p.gains[k] = quint8(std::max(gains[k]->currentIndex(), 0));
    p.sync = form->rbInternal->isChecked() ? 0 : 1;
    p.detector = form->detCB->isChecked() ? 1 : 0;
    p.halfCount = quint16(countValue / 2);
}

int TSetRecord::evenCount(int value)
{
    if (value <= 1)
        return minCount;
    if (value > maxCount)
        return maxCount;
    return value - value % 2;
}

void TSetRecord::slot_MuxRGReleased()
{
    const int g = checkedGroup();
    if (g < 0)
        return;
    QLabel* const labels[] = { form->chl1, form->chl2, form->chl3, form->chl4 };
    for (int k = 0; k < 4; ++k)
        labels[k]->setText(tr("Вход ") + QString::number(4 * g + k + 1));
}

void TSetRecord::slot_AllBoxStateChanged(int state)
{
    if (loading || state != Qt::Checked)
        return;
    const int index = form->gBox1->currentIndex();
    for (QComboBox* box : { form->gBox2, form->gBox3, form->gBox4 })
        box->setCurrentIndex(index);
}

void TSetRecord::slot_GBoxesCurrentIndexChanged(int index)
{
    if (loading || !form->allBox->isChecked() || !qobject_cast<QComboBox*>(sender()))
        return;
    for (QComboBox* box : { form->gBox1, form->gBox2, form->gBox3, form->gBox4 })
        box->setCurrentIndex(index);
}

void TSetRecord::slot_FEditValueChanged(int value)
{
    frequencyValue = quint16(std::clamp(value, 2, 65534));
    frequencyBox->setValue(frequencyValue);
}

void TSetRecord::slot_LEditValueChanged(int value)
{
    countValue = evenCount(value);
    countBox->setValue(countValue);
}

void TSetRecord::slot_LEditEditingFinished()
{
    qint64 value = countBox->takeTyped().value_or(countBox->value());
    if (value < minCount || value > maxCount) {
        value = value < minCount ? minCount : maxCount;
        if (qtmisc::mesDaemon)
            qtmisc::mesDaemon->showWarn(0x1509, QString(), QString(), true, true);
    }
    countValue = evenCount(int(value));
    countBox->setValue(countValue);
}
