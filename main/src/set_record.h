// The acquisition parameters dialog and its two spin boxes.
#pragma once

#include <QDialog>
#include <QSpinBox>
#include <optional>

struct AcqParams;

namespace Ui {
class SetRecordDialog;
}

// The sampling frequency box: its value v stands for the code 65536 - v and shows the
// frequency in Hz, 3000000 / (code + 1).
class MyFEditSpinBox : public QSpinBox
{
    Q_OBJECT
public:
    using QSpinBox::QSpinBox;
    static QString frequencyText(int value);
    // The value of the code whose frequency is nearest to hertz, within the box's range.
    int valueForHertz(qint64 hertz) const;

protected:
    // Typed text is a frequency in hertz; the text the box shows stands for its own value.
    QString textFromValue(int value) const override;
    int valueFromText(const QString& text) const override;
    QValidator::State validate(QString& text, int& pos) const override;
};

// The sample-count box: shows its value; remembers a number typed outside its range, which the
// box itself would silently replace.
class MyLEditSpinBox : public QSpinBox
{
    Q_OBJECT
public:
    using QSpinBox::QSpinBox;
    // The out-of-range number typed last; cleared by taking it.
    std::optional<qint64> takeTyped();

protected:
    QString textFromValue(int value) const override;
    void fixup(QString& input) const override;

private:
    mutable std::optional<qint64> typed;
};

class TSetRecord : public QDialog
{
    Q_OBJECT
public:
    static constexpr int minCount = 2;
    static constexpr int maxCount = 131068;

    explicit TSetRecord(QWidget* parent = nullptr);
    ~TSetRecord() override;

    bool initialise();
    void load(const AcqParams& p, bool forAll);
    void store(AcqParams& p, bool& forAll) const;

    // The even count a typed or stepped value becomes.
    static int evenCount(int value);

public slots:
    void slot_MuxRGReleased();
    void slot_AllBoxStateChanged(int state);
    void slot_GBoxesCurrentIndexChanged(int index);
    void slot_FEditValueChanged(int value);
    void slot_LEditEditingFinished();
    void slot_LEditValueChanged(int value);

private:
    int checkedGroup() const;

    Ui::SetRecordDialog* form = nullptr;
    MyFEditSpinBox* frequencyBox = nullptr;
    MyLEditSpinBox* countBox = nullptr;
    qint32 countValue = 0;
    quint16 frequencyValue = 2;
    bool loading = false; // the dialog itself sets its controls: their handlers stay quiet
};
