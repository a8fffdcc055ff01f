// The channel chooser of zeroing, maximum search, cursor centring and the inverse transform.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class SelSigDialog;
}

class TSelSigDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TSelSigDlg(QWidget* parent = nullptr);
    ~TSelSigDlg() override;

    // Shows the check box of channel i only when i < count.
    void setChannelCount(int count);
    bool isSelected(int channel) const;

public slots:
    void slot_AllOnReleased();

private:
    std::unique_ptr<Ui::SelSigDialog> form;
};
