#include "selsig_dialog.h"

#include "ui_selsigdialog.h"

TSelSigDlg::TSelSigDlg(QWidget* parent)
    : QDialog(
        parent, Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::MSWindowsFixedSizeDialogHint)
    , form(std::make_unique<Ui::SelSigDialog>())
{
    form->setupUi(this);
    connect(form->allOn, &QPushButton::released, this, &TSelSigDlg::slot_AllOnReleased);
}

TSelSigDlg::~TSelSigDlg() = default;

void TSelSigDlg::setChannelCount(int count)
{
    QCheckBox* const boxes[] = { form->selBox1, form->selBox2, form->selBox3, form->selBox4 };
    for (int i = 0; i < 4; ++i)
        boxes[i]->setVisible(i < count);
}

bool TSelSigDlg::isSelected(int channel) const
{
    const QCheckBox* const boxes[] = { form->selBox1, form->selBox2, form->selBox3, form->selBox4 };
    return channel >= 0 && channel < 4 && boxes[channel]->isChecked();
}

void TSelSigDlg::slot_AllOnReleased()
{
    for (QCheckBox* box : { form->selBox1, form->selBox2, form->selBox3, form->selBox4 })
        box->setChecked(true);
}
