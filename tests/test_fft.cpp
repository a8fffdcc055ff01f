// The transform against a direct DFT, the window functions, spectrum windows (storage, value
// unit, readouts, zeroing), the inverse transform with its questions, and the closing rules
// of linked windows.
#include "convert.h"
#include "data.h"
#include "fft_dialog.h"
#include "fmain.h"
#include "init.h"
#include "selsig_dialog.h"
#include "support/boxes.h"
#include "support/fixture.h"
#include "support/records.h"
#include "support/windows.h"
#include "ufft.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QCheckBox>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QtTest>
#include <cmath>
#include <complex>
#include <vector>

namespace {

using Complex = std::complex<double>;

// Bin k of the DFT of x with the kernel exp(sign 2 pi i k n / N), in double precision.
Complex dftBin(const std::vector<Complex>& x, int k, int sign)
{
    const int n = int(x.size());
    Complex sum = 0;
    for (int j = 0; j < n; ++j) {
        const double angle = sign * 2.0 * M_PI * double((qint64(k) * j) % n) / n;
        sum += x[size_t(j)] * Complex(std::cos(angle), std::sin(angle));
    }
    return sum;
}

// Fills channel i with amplitude * sin(2 pi bin j / period) summed over the given components.
void fillSines(WaveStore& record, int i, const QList<QPair<double, double>>& components, int period)
{
    WaveChannel* c = record.channel(i);
    for (int j = 0; j < c->sampleCount; ++j) {
        double v = 0;
        for (const auto& [bin, amplitude] : components)
            v += amplitude * std::sin(2 * M_PI * bin * j / period);
        c->setSample(j, qint8(std::clamp(int(std::lround(v)), -128, 127)));
    }
    c->modified = false;
}

} // namespace

class tst_Fft : public WindowTest
{
    Q_OBJECT
private:
    void prepare() override
    {
        fftWindowFunction = 0;
        fftLogScale = false;
    }

private slots:
    void againstDirectDft();
    void windowValues();
    void linearSpectrumOfASine();
    void decibelSpectrum();
    void forwardThenInverseRestores();
    void inverseAfterAWindowAsks();
    void closingLinkedWindows();
    void settingsDialog();
    void spectrumView();

private:
    // An active window holding a record of the shape with 0 ... 3 filled with sines.
    TWForm* addSource(int channels, int samples);
    // Selects samples a ... b of the source and runs the forward transform.
    TWForm* transform(TWForm* source, int a, int b);
};

TWForm* tst_Fft::addSource(int channels, int samples)
{
    TWForm* form = testwindows::addRecordWindow(window, channels, samples, 4);
    for (int i = 0; i < channels; ++i)
        fillSines(*form->record, i, { { 8.0 * (i + 1), 100.0 - 10 * i } }, 256);
    return form;
}

TWForm* tst_Fft::transform(TWForm* source, int a, int b)
{
    source->selStart = a;
    source->selEnd = b;
    return window->openSpectrum(source);
}

void tst_Fft::againstDirectDft()
{
    QRandomGenerator random(5);
    for (int e = 2; e <= maxFftExponent; ++e) {
        const int n = 1 << e;
        const auto size = size_t(n);
        std::vector<Complex> x(size);
        std::vector<float> re(size), im(size);
        for (int i = 0; i < n; ++i) {
            re[size_t(i)] = float(random.bounded(256.0) - 128.0);
            im[size_t(i)] = float(random.bounded(256.0) - 128.0);
            x[size_t(i)] = Complex(re[size_t(i)], im[size_t(i)]);
        }
        std::vector<float> back = re, backIm = im;
        forwardFft(e, re.data(), im.data(), nullptr);
        inverseFft(e, back.data(), backIm.data(), nullptr);
        // Every bin for the small sizes, a spread of bins for the large ones.
        const int step = n <= 1024 ? 1 : n / 64 + 1;
        double error = 0, norm = 0, inverseError = 0, inverseNorm = 0;
        for (int k = 0; k < n; k += step) {
            const Complex forward = dftBin(x, k, -1) * (2.0 / n);
            const Complex inverse = dftBin(x, k, 1);
            error += std::norm(forward - Complex(re[size_t(k)], im[size_t(k)]));
            norm += std::norm(forward);
            inverseError += std::norm(inverse - Complex(back[size_t(k)], backIm[size_t(k)]));
            inverseNorm += std::norm(inverse);
        }
        const double relative = std::sqrt(error / norm);
        const double inverseRelative = std::sqrt(inverseError / inverseNorm);
        if (relative > 2e-6 || inverseRelative > 2e-6)
            QFAIL(qPrintable(QString("2^%1: relative RMS error %2 forward, %3 inverse")
                                 .arg(e)
                                 .arg(relative)
                                 .arg(inverseRelative)));
    }
}

void tst_Fft::windowValues()
{
    const int n = 9;
    QCOMPARE(windowValue(0, n, 0), 1.0f);
    QCOMPARE(windowValue(0, n, 2), 0.0f);
    QCOMPARE(windowValue((n - 1) / 2, n, 1), 1.0f);
    QVERIFY(std::fabs(windowValue(0, n, 1) - 0.2f) < 1e-6f); // 1 - |(0 - 4) / 5|
    QCOMPARE(windowValue(0, n, 5), 1.0f - (8.0f / 10.0f) * (8.0f / 10.0f));
    QVERIFY(std::fabs(windowValue(0, n, 3) - 0.08f) < 1e-6f);
    QVERIFY(std::fabs(windowValue(0, n, 4)) < 1e-6f);
    // Hanning, Hamming and Blackman peak in the middle of an even length.
    QVERIFY(std::fabs(windowValue(4, 8, 2) - 1.0f) < 1e-6f);
    QVERIFY(std::fabs(windowValue(4, 8, 3) - 1.0f) < 1e-6f);
    QVERIFY(std::fabs(windowValue(4, 8, 4) - 1.0f) < 1e-6f);
    QCOMPARE(windowValue(3, n, 6), 0.0f);
    QCOMPARE(windowValue(3, n, -1), 0.0f);
}

void tst_Fft::linearSpectrumOfASine()
{
    TWForm* source = addSource(2, 1000);
    // Channel 0: amplitude 100 at bin 8 of 256; channel 1: 90 at bin 16.
    TWForm* spectrum = transform(source, 10, 266);
    QVERIFY(spectrum);
    QCOMPARE(spectrum->windowTitle(), "FFT: " + source->windowTitle());
    QVERIFY(spectrum->isSpectrum && spectrum->linkedWindow == source && source->hasSpectrum);
    QCOMPARE(source->fftExponent, 8);
    WaveStore& record = *spectrum->record;
    QCOMPARE(record.channelCount(), 2);
    QCOMPARE(record.sampleCount(), 128);
    QCOMPARE(record.viewCount(), 128);
    QVERIFY(!record.isModified());
    for (int i = 0; i < 2; ++i) {
        WaveChannel& c = *record.channel(i);
        const int bin = 8 * (i + 1);
        QCOMPARE(c.sample(bin - 1), qint8(127)); // level 255
        QVERIFY(std::fabs(c.valueUnit * 255 - (100 - 10 * i)) < 1.0);
        for (int p = 0; p < 128; ++p)
            if (p != bin - 1)
                QVERIFY2(c.sample(p) < -120, qPrintable(QString::number(p)));
        QCOMPARE(int(record.channelSlots[i].header.gainCode),
            int(source->record->channelSlots[i].header.gainCode));
    }
    // Readouts: bin p + 1 at the cursor's point, 8 × 120 kHz / 256 = 3750 Hz; the amplitude of
    // 100 codes at gain code 0 is 100 × 5 V × 4096 / 2^20 = 1.953 V.
    record.channel(0)->cursorSample = 7;
    const ChannelStatusTexts texts = channelStatusTexts(record, 0, true, false);
    QCOMPARE(texts.time, QString(" 3.7500KHz"));
    QVERIFY(texts.value.endsWith(" V"));
    QVERIFY2(std::fabs(texts.value.chopped(2).toDouble() - 1.953) < 0.02, qPrintable(texts.value));
    auto* timeLabel = window->findChild<QLabel*>("tl1");
    QVERIFY(timeLabel->text().startsWith("F1="));
    QVERIFY(window->findChild<QLabel*>("yl1")->text().startsWith("A1="));

    // A selection of three samples is too short; four give two bins.
    TWForm* fewSamples = addSource(1, 300);
    QVERIFY(!transform(fewSamples, 50, 52));
    QCOMPARE(testboxes::texts, QStringList { "Необходимо правильно выделить область." });
    QVERIFY(!fewSamples->hasSpectrum);
    TWForm* two = transform(fewSamples, 50, 53);
    QVERIFY(two);
    QCOMPARE(fewSamples->fftExponent, 2);
    QCOMPARE(two->record->sampleCount(), 2);
}

// Decibel storage worked out here from a direct DFT: q = round(20 log10(m / 128) * 255 / M),
// stored as q + 128; only a silent bin takes the lowest line, and a bin at 0 dB or above is
// drawn at the top and reads its true level.
void tst_Fft::decibelSpectrum()
{
    fftLogScale = true;
    TWForm* source = addSource(4, 600);
    WaveStore& input = *source->record;
    testrecords::fill(input, 0, 5); // noise: every bin has a level
    for (int j = 0; j < 600; ++j) {
        input.channel(1)->setSample(j, 0);
        input.channel(2)->setSample(j, (j / 8) % 2 ? qint8(-127) : qint8(127));
    }
    fillSines(input, 3, { { 4, 127 } }, 64); // full scale: -0.07 dB
    TWForm* spectrum = transform(source, 0, 64);
    QVERIFY(spectrum && spectrum->logScale);
    WaveStore& record = *spectrum->record;

    const auto magnitudes = [&input](int channel) {
        std::vector<Complex> x;
        for (int j = 0; j < 64; ++j)
            x.emplace_back(input.channel(channel)->sample(j), 0.0);
        std::vector<double> m;
        for (int bin = 1; bin <= 32; ++bin)
            m.push_back(std::abs(dftBin(x, bin, -1)) * 2.0 / 64);
        return m;
    };
    const std::vector<double> noise = magnitudes(0);
    double weakest = 0;
    for (double m : noise)
        weakest = std::max(weakest, -20 * std::log10(m / 128));
    int exact = 0;
    for (int p = 0; p < 32; ++p) {
        const int q = int(std::lround(20 * std::log10(noise[size_t(p)] / 128) * 255 / weakest));
        const int stored = record.channel(0)->sample(p);
        QVERIFY2(std::abs(stored - (q + 128)) <= 1, qPrintable(QString::number(p)));
        exact += stored == q + 128;
    }
    QVERIFY2(exact >= 30, qPrintable(QString::number(exact)));

    record.channel(1)->cursorSample = 5;
    QCOMPARE(record.channel(1)->sample(5), qint8(-128));
    QCOMPARE(channelStatusTexts(record, 1, true, true).value, QString("-???? dB"));

    const double fundamental = magnitudes(2)[3];
    QVERIFY(fundamental > 128);
    QCOMPARE(record.channel(2)->sample(3), qint8(127));
    record.channel(2)->cursorSample = 3;
    QCOMPARE(channelStatusTexts(record, 2, true, true).value,
        QString::number(20 * std::log10(fundamental / 128), 'f', 1) + " dB");

    QCOMPARE(record.channel(3)->sample(3), qint8(127));
    record.channel(3)->cursorSample = 3;
    QCOMPARE(channelStatusTexts(record, 3, true, true).value, QString("-0.1 dB"));
}

void tst_Fft::forwardThenInverseRestores()
{
    TWForm* source = addSource(4, 3000);
    testrecords::fill(*source->record, 2, 77); // a noisy burst
    std::vector<qint8> before;
    for (int j = 0; j < 3000; ++j)
        before.push_back(source->record->channel(2)->sample(j));
    TWForm* spectrum = transform(source, 2800, 1800); // 1000 samples, snapped to 1024
    QVERIFY(spectrum);
    QCOMPARE(source->selStart, 2800);
    QCOMPARE(source->selEnd, 1776);
    for (int j = 0; j < 3000; ++j)
        source->record->channel(2)->setSample(j, 0);
    testwindows::answerChooser({ 2 });
    QCOMPARE(spectrum->inverseTransform(), 1);
    for (int j = 0; j < 3000; ++j) {
        const int got = source->record->channel(2)->sample(j);
        const int expected = j >= 1776 && j < 2800 ? before[size_t(j)] : 0;
        QVERIFY2(std::abs(got - expected) <= 1, qPrintable(QString::number(j)));
    }
    QVERIFY(source->record->channel(2)->modified);
    QVERIFY(!source->record->channel(1)->modified);
}

void tst_Fft::inverseAfterAWindowAsks()
{
    fftWindowFunction = 2;
    TWForm* source = addSource(1, 512);
    TWForm* spectrum = transform(source, 0, 256);
    QVERIFY(spectrum);
    QCOMPARE(spectrum->windowFunction, 2);
    std::vector<int> before;
    for (int j = 0; j < 256; ++j)
        before.push_back(source->record->channel(0)->sample(j));
    testboxes::answers = { QMessageBox::No };
    QCOMPARE(spectrum->inverseTransform(), 1);
    QCOMPARE(testboxes::texts.last(),
        QString("Была использована оконная функция.\nДанные будут искажены.\n"
                "Выполнить преобразование?"));
    testboxes::answers = { QMessageBox::Cancel };
    QCOMPARE(spectrum->inverseTransform(), 0);
    QVERIFY(!source->record->isModified());
    // Yes writes back the samples under the Hanning window, 0.5 (1 - cos(2 pi j / N)).
    testboxes::answers = { QMessageBox::Yes };
    testwindows::answerChooser({ 0 });
    QCOMPARE(spectrum->inverseTransform(), 1);
    QVERIFY(source->record->isModified());
    for (int j = 0; j < 256; ++j) {
        const double windowed = 0.5 * (1 - std::cos(2 * M_PI * j / 256)) * before[size_t(j)];
        QVERIFY2(std::fabs(source->record->channel(0)->sample(j) - windowed) <= 1.0,
            qPrintable(QString::number(j)));
    }
}

void tst_Fft::closingLinkedWindows()
{
    TWForm* source = addSource(1, 512);
    fillSines(*source->record, 0, { { 8, 80 }, { 20, 40 } }, 256);
    TWForm* spectrum = transform(source, 0, 256);
    QVERIFY(spectrum);
    QVERIFY(!source->close());
    QCOMPARE(testboxes::texts, QStringList { "Вначале закройте окно со спектром!" });
    // A spectrum that nobody processed closes quietly and frees its source.
    QVERIFY(spectrum->close());
    QVERIFY(!source->hasSpectrum);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // The source, active again, offers the commands a record without a spectrum has.
    window->workspace()->setActiveSubWindow(source);
    QVERIFY(window->findChild<QAction*>("aDirectFFT")->isEnabled());
    QVERIFY(window->findChild<QMenu*>("mFilters")->isEnabled());
    // A processed one asks: Cancel keeps it, No closes without writing back.
    spectrum = transform(source, 0, 256);
    spectrum->record->zeroRange(0, 4, 4);
    spectrum->processed = true;
    testboxes::reset();
    testboxes::answers = { QMessageBox::Cancel };
    QVERIFY(!spectrum->close());
    QCOMPARE(testboxes::texts, QStringList { "Выполнить обратное преобразование?" });
    testboxes::answers = { QMessageBox::No };
    QVERIFY(spectrum->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!source->record->isModified());
    // Yes writes back, then closes.
    spectrum = transform(source, 0, 256);
    spectrum->record->zeroRange(0, 7, 7); // bin 8 and its mirror go, bin 20 stays
    QCOMPARE(spectrum->record->channel(0)->sample(7), qint8(-128));
    spectrum->processed = true;
    testboxes::answers = { QMessageBox::Yes };
    testwindows::answerChooser({ 0 });
    QVERIFY(spectrum->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(source->record->isModified());
    for (int j = 0; j < 256; ++j) {
        const int expected = int(std::lround(40 * std::sin(2 * M_PI * 20 * j / 256)));
        QVERIFY2(std::abs(source->record->channel(0)->sample(j) - expected) <= 1,
            qPrintable(QString::number(j)));
    }
}

// The dialog shows the settings in force and stores what OK confirms.
void tst_Fft::settingsDialog()
{
    const auto answer
        = [this](const char* shown, const char* button, bool logarithmic, const char* closeWith) {
              QTimer::singleShot(0, [=] {
                  QWidget* dialog = QApplication::activeModalWidget();
                  QVERIFY(dialog);
                  QCOMPARE(dialog->windowTitle(), QString("Настройка БПФ"));
                  QVERIFY(dialog->findChild<QRadioButton*>(shown)->isChecked());
                  QCOMPARE(dialog->findChild<QCheckBox*>("logCB")->isChecked(), fftLogScale);
                  dialog->findChild<QRadioButton*>(button)->setChecked(true);
                  dialog->findChild<QCheckBox*>("logCB")->setChecked(logarithmic);
                  QMetaObject::invokeMethod(dialog, closeWith);
              });
              window->findChild<QAction*>("aSetFFT")->trigger();
          };
    answer("rbNone", "rbWelch", true, "accept");
    QCOMPARE(fftWindowFunction, 5);
    QVERIFY(fftLogScale);
    answer("rbWelch", "rbParzen", false, "reject");
    QCOMPARE(fftWindowFunction, 5);
    QVERIFY(fftLogScale);
}

void tst_Fft::spectrumView()
{
    TWForm* source = addSource(2, 2000);
    fillSines(*source->record, 0, { { 8, 80 }, { 21, 40 } }, 256);
    for (int j = 0; j < 2000; ++j)
        source->record->channel(1)->setSample(j, (j / 16) % 2 ? qint8(-127) : qint8(127));
    quint8 bars[256] = {};
    // Bars are twice the amplitude: 160 at bin 8 and 80 at bin 21, nothing elsewhere.
    const auto twoSines = [](const quint8* b) {
        for (int k = 0; k < 128; ++k)
            if (std::abs(b[k] - (k == 7 ? 160 : k == 20 ? 80 : 0)) > 2)
                return false;
        return true;
    };
    blockSpectrum(*source->record->channel(0), 300, 8, bars);
    QVERIFY(twoSines(bars));
    // The square wave's fundamental (bin 8) would be 323: it is kept at 255.
    blockSpectrum(*source->record->channel(1), 0, 8, bars);
    QCOMPARE(int(bars[7]), 255);
    // The dialog shows the chosen channel's block and the time of its middle.
    TFFTDlg dialog;
    for (int i = 0; i < 2; ++i)
        dialog.channels[i] = source->record->channel(i);
    QVERIFY(dialog.setUp());
    QVERIFY(dialog.init(2, 100, 1500, 0.5));
    dialog.findChild<QScrollBar*>("sBar")->setValue(40);
    QCOMPARE(dialog.findChild<QLabel*>("tLabel")->text(), QString("T=   134.0 uS")); // 268 x 0.5
    QVERIFY(twoSines(dialog.spectrum)); // the block from sample 140
    dialog.findChild<QRadioButton*>("rB2")->setChecked(true);
    dialog.slot_rB1Released();
    QCOMPARE(int(dialog.spectrum[7]), 255);

    TWForm* narrow = addSource(1, 2000);
    TFFTDlg oneChannel;
    QVERIFY(oneChannel.setUp());
    QVERIFY(!oneChannel.init(1, 0, 514, 10.0));
    QVERIFY(oneChannel.init(1, 100, 515, 10.0));
    oneChannel.findChild<QRadioButton*>("rB512")->setChecked(true);
    oneChannel.slot_rBSampleSizeReleased();
    QCOMPARE(oneChannel.findChild<QScrollBar*>("sBar")->maximum(), 3);
    // A one-channel record offers only the first channel, which stays chosen.
    for (const char* hidden : { "rB2", "rB3", "rB4" })
        QVERIFY(oneChannel.findChild<QRadioButton*>(hidden)->isHidden());
    auto* first = oneChannel.findChild<QRadioButton*>("rB1");
    first->setChecked(false);
    oneChannel.slot_rB1Released();
    QVERIFY(first->isChecked());
    // The window's command warns when the view is too narrow.
    narrow->setView(0, 514);
    narrow->showSpectrumView();
    QCOMPARE(testboxes::texts,
        QStringList { "Ширина отображаемого участка недостаточна для Фурье-преобразования!\n"
                      "Необходимо увеличить масштаб." });
}

QTEST_MAIN(tst_Fft)
#include "test_fft.moc"
