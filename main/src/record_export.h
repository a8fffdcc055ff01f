// Records leaving the program as CSV tables and spectrum tables, and the statistics of a span.
// Depends on the record model and QtCore; never on a window. Every function says why it failed
// in words, for a message or a command line.
#pragma once

#include <QString>
#include <string>

class WaveStore;

enum class AmplitudeUnit { Volts, Coulombs, Code };

// Samples start ... start + count - 1 of a record (count -1: to the end), as the export takes
// them.
struct SampleSpan
{
    int start = 0;
    int count = -1;
};

// The record's sampling frequency in hertz, clock (kHz) x 1000 / ticks per sample; 0 when
// either is 0.
double sampleRateHz(const WaveStore& record);

// One line "time_s,ch1_V,..." ("sample,..." without a frequency; "_Q" or "_code" for the other
// units), then a line per sample; numbers in the shortest form that reads back to the same
// double, with a decimal point whatever the locale. Written through a temporary file.
bool exportCsv(const WaveStore& record, const QString& name, AmplitudeUnit unit, SampleSpan span,
    QString& cause);

// The record's numbers that conversions rest on: every gain code 0 ... 12 and ticks per sample
// not negative; false with the cause in words otherwise (a header made by hand or damaged).
bool checkRecordNumbers(const WaveStore& record, QString& cause);

// Completes the span (count -1: to the end) and checks it lies in the record, which has
// channels and numbers that can be converted; false with the cause in words.
bool resolveSpan(const WaveStore& record, SampleSpan& span, QString& cause);

// The spectrum of 2^e samples of one channel from start on, as the spectrum window computes it
// (window function 0-5, linear or in decibels): "frequency_Hz,amplitude_V" (or "_dB") lines.
// False with the cause, naming the length that fits, when the samples from start do not fill it.
bool spectrumTable(const WaveStore& record, int channel, int start, int e, int window,
    bool decibels, std::string& text, QString& cause);

// Writes text into the file the way records are saved (a temporary file renamed over it).
bool saveText(const QString& name, const std::string& text, QString& cause);

// A span of a channel's displayed values in the readouts' unit (volts or coulombs).
struct SpanStats
{
    int count = 0;
    double minimum = 0;
    double maximum = 0;
    double mean = 0;
    double rms = 0;
};

// The statistics of channel i's displayed values (under its display mode, as the readouts show
// them) over samples first ... first + count - 1; count 0 when the span is empty or not there.
SpanStats spanStats(WaveStore& record, int i, int first, int count, bool volts);

// Appends value to a CSV line in the shortest form that reads back to the same double, with
// "." as the decimal point whatever the locale.
void appendCsvNumber(std::string& out, double value);
