// Records as WAV files and WAV files as records, through libsndfile. A WAV file holds one
// channel per record channel at the frequency rounded to whole hertz; its comment carries the
// record's facts (inputs, gains, detector, synchronisation, clock and ticks, the created count
// and any reserved bytes), so that a record written as WAV comes back as the same record.
// Depends on the record model, QtCore and libsndfile; never on a window.
#pragma once

#include "record_export.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The record's frequency rounded to whole hertz, as a WAV file holds it; 0 with the cause when
// it has none a WAV file can hold.
int wavRate(const WaveStore& record, QString& cause);

// 8-bit PCM holding code + 128, or 32-bit float in volts, with the record's facts; written
// through a temporary file (or where it stands, see saveThroughTemporary).
bool exportWav(
    const WaveStore& record, const QString& name, bool floatVolts, SampleSpan span, QString& cause);

// What importing a WAV file gave besides the record, for a notice.
struct ImportNotes
{
    bool restored = false; // the record's facts were taken from the file's comment
    QString factsProblem; // why a comment of record facts was not used
    int askedHz = 0; // the file's frequency, when the record could only approximate it
    double takenHz = 0; // and the frequency taken instead
    QList<int> clippedChannels; // 0-based channels with samples beyond the 8-bit codes
    qint64 clippedSamples = 0;
    qint64 announcedFrames = 0; // what the data chunk announced, when the file holds fewer
    qint64 heldFrames = 0;

    // All of it in words ("" when there is nothing to say), parts joined by "; ".
    QString warning() const;
};

// Reads a WAV-family file (WAV, WAVE_FORMAT_EXTENSIBLE, RF64, Wave64; 8-, 16-, 24- or 32-bit
// PCM, or float) into the freshly made record; "-" is the standard input. With the record's
// facts in its comment the record comes back as it was written; otherwise inputs are 1, 2 ...,
// and the frequency is the nearest a clock and ticks can express. 8-bit samples are codes
// (sample - 128); other PCM samples are a fraction of one volt and float samples volts, each
// channel scaled with the largest gain that does not clip it (or its recorded gain). gainCode
// (0 ... 12; -1 for the above) sets every channel's gain. Samples beyond the codes are clipped
// and counted; samples that are not finite numbers refuse the file. At most 5 channels and
// 163840 samples.
bool importWav(
    const QString& name, int gainCode, WaveStore& record, ImportNotes& notes, QString& cause);
bool importWavBytes(
    const QByteArray& bytes, int gainCode, WaveStore& record, ImportNotes& notes, QString& cause);

// The record's facts as the text of a WAV comment, and that text read back into a record of
// the same shape whose file runs at rateHz; false with the problem in words (nothing changed).
QByteArray recordFactsText(const WaveStore& record);
bool applyRecordFacts(const QByteArray& text, int rateHz, WaveStore& record, QString& problem);

// The clock (kHz, 1 ... 65535) and ticks per sample whose frequency is nearest to hertz: the
// unit's 12000 kHz clock when it divides, else the nearest of all; true when exact.
bool nearestClock(qint64 hertz, quint16& clockKHz, qint32& ticks);
