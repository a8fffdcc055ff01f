// voltrix-tool: records on the command line, without a display: their information, CSV and WAV
// exports, WAV imports, spectra, acoustic-emission hits and monitoring sessions' databases, with
// the program's own reader, writer, transform and database. It behaves like its peers: "--" ends
// the options, "--name=value" works,
// "-" is the standard input or output, a folder stands for its records, every write to the
// standard output is checked, and an interrupted save leaves no temporary file behind.
#include "ae_hits.h"
#include "convert.h"
#include "file_io.h"
#include "files_list.h"
#include "record_export.h"
#include "session_db.h"
#include "ufft.h"
#include "versioninfo.h"
#include "wav_file.h"
#include "wave_stor.h"

#include <QtMisc/qtm_errors.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <functional>
#include <map>
#include <optional>
#include <sys/stat.h>

namespace {

constexpr int exitDone = 0;
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;
// No hit definition time is longer than this (microseconds): 1000 s.
constexpr double longestDefinitionMicros = 1e9;

struct Command;
struct Arguments;
using Run = int (*)(const Command&, const Arguments&);

struct Command
{
    const char* name;
    const char* usage;
    QStringList valued; // options that take a value
    QStringList switches;
    Run run;
};

// The options given to a command and its inputs.
struct Arguments
{
    std::map<QString, QString> values;
    QStringList flags;
    QStringList files;

    std::optional<QString> value(const QString& name) const
    {
        const auto it = values.find(name);
        return it == values.end() ? std::nullopt : std::optional<QString>(it->second);
    }
    bool has(const QString& name) const { return values.count(name) || flags.contains(name); }
};

const char* const summary
    = "usage: voltrix-tool COMMAND [OPTIONS] FILE...\n"
      "       voltrix-tool COMMAND --help | --help | --version\n"
      "\n"
      "Commands: info, export, import, spectrum, hits, session. A FILE of - is the standard\n"
      "input, a folder stands for its .raw records in name order, -- ends the options, and\n"
      "options take their value as --name value or --name=value.\n"
      "Exit status: 0 all done, 1 some file failed, 2 usage error.\n";

// --- Standard output and messages --------------------------------------------------------------

int outputError = 0; // the first failed write to the standard output

// Writes to the standard output; false once a write has failed (nothing more is written).
bool output(const std::string& text)
{
    if (outputError == 0 && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        outputError = errno ? errno : EIO;
    return outputError == 0;
}

// A closed pipe ends the tool quietly, as it ends its peers.
[[noreturn]] void endOnBrokenPipe()
{
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    std::_Exit(exitFailed);
}

// The status once the standard output is flushed: a failed write is exit 1 with its cause.
int finish(int status)
{
    if (std::fflush(stdout) != 0 && outputError == 0)
        outputError = errno ? errno : EIO;
    if (outputError == EPIPE)
        endOnBrokenPipe();
    if (outputError != 0) {
        std::fprintf(stderr, "voltrix-tool: standard output: %s\n",
            pathBytes(saveCause(-1, outputError)).constData());
        return exitFailed;
    }
    return status;
}

// A file as messages name it. Messages are printed through pathBytes, so that a name keeps
// the bytes it was given, whatever they are.
QString nameOf(const QString& file)
{
    return file == QLatin1String(standardStreamName) ? QStringLiteral("standard input") : file;
}

void fail(const QString& file, const QString& cause)
{
    std::fprintf(stderr, "voltrix-tool: %s: %s\n", pathBytes(nameOf(file)).constData(),
        pathBytes(cause).constData());
}

// One line naming the problem and where to read the usage; exit status 2.
int usage(const Command& command, const QString& problem)
{
    std::fprintf(stderr, "voltrix-tool %s: %s; try 'voltrix-tool %s --help'\n", command.name,
        pathBytes(problem).constData(), command.name);
    return exitUsage;
}

// A failed save: a reader that went away ends the tool quietly, anything else is reported
// under the output's name.
bool saveFailed(const QString& output, const QString& cause)
{
    if (cause == saveCause(-1, EPIPE))
        endOnBrokenPipe();
    fail(output == QLatin1String(standardStreamName) ? QStringLiteral("standard output") : output,
        cause);
    return false;
}

// --- Arguments ---------------------------------------------------------------------------------

bool parse(const Command& command, const QStringList& words, Arguments& out, QString& problem)
{
    bool optionsEnded = false;
    for (int i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (optionsEnded || !word.startsWith('-') || word == QLatin1String("-")) {
            out.files << word;
            continue;
        }
        if (word == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const qsizetype equals = word.startsWith(QLatin1String("--")) ? word.indexOf('=') : -1;
        const QString name = equals < 0 ? word : word.left(equals);
        if (out.has(name)) {
            problem = name + " is given twice";
            return false;
        }
        if (command.switches.contains(name) && equals < 0) {
            out.flags << name;
        } else if (command.switches.contains(name)) {
            problem = name + " takes no value";
            return false;
        } else if (!command.valued.contains(name)) {
            problem = "unknown option " + name;
            return false;
        } else if (equals >= 0) {
            out.values[name] = word.mid(equals + 1);
        } else if (i + 1 < words.size()) {
            out.values[name] = words[++i];
        } else {
            problem = name + " needs a value";
            return false;
        }
    }
    return true;
}

// A whole number of the option within least ... most, or the fallback when it is not given.
bool wholeNumber(const Arguments& args, const char* name, int least, int most, int fallback,
    int& value, QString& problem)
{
    const std::optional<QString> text = args.value(name);
    bool ok = false;
    value = text ? text->toInt(&ok) : fallback;
    if (!text || (ok && value >= least && value <= most))
        return true;
    problem
        = QStringLiteral("%1 takes a whole number from %2 to %3").arg(name).arg(least).arg(most);
    return false;
}

// A finite number of the option within least ... most (above least when open).
bool realNumber(const Arguments& args, const char* name, double least, double most, bool open,
    double fallback, double& value, QString& problem)
{
    const std::optional<QString> text = args.value(name);
    bool ok = false;
    value = text ? text->toDouble(&ok) : fallback;
    if (!text
        || (ok && std::isfinite(value) && (open ? value > least : value >= least) && value <= most))
        return true;
    problem = QStringLiteral("%1 takes a number %2 %3 up to %4")
                  .arg(name)
                  .arg(open ? "above" : "from")
                  .arg(least)
                  .arg(most);
    return false;
}

// "1,2,..." as 0-based channels; false when a number is missing or below 1.
bool toChannels(const QString& text, QList<int>& channels)
{
    channels.clear();
    for (const QString& word : text.split(',')) {
        bool ok = false;
        const int channel = word.toInt(&ok);
        if (!ok || channel < 1)
            return false;
        channels << channel - 1;
    }
    return true;
}

// --- Inputs ------------------------------------------------------------------------------------

bool isFolder(const QString& file)
{
    struct stat st;
    return file != QLatin1String(standardStreamName)
        && ::stat(pathBytes(file).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The .raw files of a folder in the order of their names' bytes.
QStringList recordsIn(const QString& folder)
{
    QList<QByteArray> names;
    if (DIR* dir = ::opendir(pathBytes(folder).constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name.endsWith(".raw") && name.size() > 4)
                names << name;
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    QStringList files;
    const QByteArray prefix = pathBytes(folder) + (folder.endsWith('/') ? "" : "/");
    for (const QByteArray& name : names)
        files << pathText(prefix + name);
    return files;
}

// The records the inputs stand for: a folder for its .raw files; an empty folder is a failure.
QStringList expandFolders(const QStringList& inputs, int& status)
{
    QStringList files;
    for (const QString& input : inputs) {
        if (!isFolder(input)) {
            files << input;
            continue;
        }
        const QStringList found = recordsIn(input);
        if (found.isEmpty()) {
            fail(input, QStringLiteral("a folder without .raw records"));
            status = exitFailed;
        }
        files << found;
    }
    return files;
}

bool readRecord(const QString& file, WaveStore& record, bool headerOnly = false)
{
    QString cause;
    if (headerOnly ? readRawHeader(record, file, &cause) : readRaw(record, file, &cause))
        return true;
    fail(file, cause);
    return false;
}

// Reads each file and hands it to work; a file that cannot be read, or whose work fails, makes
// the status 1, and the others go on until the standard output fails.
int forEachRecord(const QStringList& files, bool headerOnly, int status,
    const std::function<bool(const QString& file, const WaveStore& record)>& work)
{
    for (const QString& file : files) {
        if (outputError != 0)
            break;
        WaveStore record(QRect(0, 0, 639, 399));
        if (!readRecord(file, record, headerOnly) || !work(file, record))
            status = exitFailed;
    }
    return status;
}

// Refuses an output that is one of the inputs (the same file whatever the path to it).
bool outputIsInput(const QString& output, const QStringList& inputs)
{
    for (const QString& input : inputs)
        if (sameFile(output, input)) {
            fail(input, QStringLiteral("the output %1 is this input: nothing written").arg(output));
            return true;
        }
    return false;
}

// --- info --------------------------------------------------------------------------------------

QJsonObject infoOf(const WaveStore& record)
{
    QJsonArray inputs;
    QJsonArray gains;
    for (int i = 0; i < record.channelCount(); ++i) {
        inputs.append(record.channelSlots[i].header.inputNumber);
        gains.append(record.channelSlots[i].header.gainCode);
    }
    const double rate = sampleRateHz(record);
    return { { "channels", record.channelCount() }, { "samples", record.sampleCount() },
        { "frequency_Hz", rate }, { "duration_s", rate > 0 ? record.sampleCount() / rate : 0.0 },
        { "inputs", inputs }, { "gain_codes", gains }, { "detector", record.header.detector != 0 },
        { "sync", record.header.syncExternal ? "external" : "internal" } };
}

QString numbers(const QJsonArray& values)
{
    QStringList words;
    for (const QJsonValue& v : values)
        words << QString::number(v.toInt());
    return words.join(' ');
}

int info(const Command&, const Arguments& args)
{
    int status = exitDone;
    const QStringList files = expandFolders(args.files, status);
    const bool json = args.has("--json");
    QJsonArray all;
    status = forEachRecord(files, true, status, [&](const QString& file, const WaveStore& record) {
        QString cause;
        if (!checkRecordNumbers(record, cause)) {
            fail(file, cause);
            return false;
        }
        QJsonObject o = infoOf(record);
        if (json) {
            o.insert("file", nameOf(file));
            all.append(o);
            return true;
        }
        // A decimal point whatever the locale: printf's "%g" would follow LC_NUMERIC.
        char text[512];
        std::snprintf(text, sizeof text,
            "\n  channels: %d\n  samples: %d\n  frequency_Hz: %s\n  duration_s: %s\n"
            "  inputs: %s\n  gain_codes: %s\n  detector: %s\n  sync: %s\n",
            o["channels"].toInt(), o["samples"].toInt(),
            qPrintable(QString::number(o["frequency_Hz"].toDouble(), 'g', 10)),
            qPrintable(QString::number(o["duration_s"].toDouble(), 'g', 10)),
            qPrintable(numbers(o["inputs"].toArray())),
            qPrintable(numbers(o["gain_codes"].toArray())), o["detector"].toBool() ? "on" : "off",
            qPrintable(o["sync"].toString()));
        return output(pathBytes(nameOf(file)).toStdString() + text);
    });
    if (json)
        output(QJsonDocument(all).toJson(QJsonDocument::Indented).toStdString());
    return status;
}

// --- export ------------------------------------------------------------------------------------

// Where the export of file goes: -o itself for one record file, a file in the folder -o for
// several, else beside the record.
QString exportName(const Arguments& args, bool single, const QString& file, const QString& suffix)
{
    const QString base = QFileInfo(file).completeBaseName() + suffix;
    const std::optional<QString> out = args.value("-o");
    if (!out)
        return QFileInfo(file).dir().filePath(base);
    return single ? *out : QDir(*out).filePath(base);
}

// Refuses (status 2) outputs that would overwrite each other, naming the inputs.
bool outputsClash(const Command& command, const QStringList& files, const QStringList& outputs)
{
    std::map<QString, QString> firstInput;
    for (int k = 0; k < files.size(); ++k) {
        const QString key = QDir::cleanPath(QFileInfo(outputs[k]).absoluteFilePath());
        const auto [it, fresh] = firstInput.emplace(key, files[k]);
        if (!fresh) {
            usage(command,
                QStringLiteral("%1 and %2 would both be written to %3")
                    .arg(nameOf(it->second), nameOf(files[k]), outputs[k]));
            return true;
        }
    }
    return false;
}

struct ExportChoice
{
    QString format;
    AmplitudeUnit unit = AmplitudeUnit::Volts;
    SampleSpan span;
};

bool exportChoice(const Arguments& args, ExportChoice& choice, QString& problem)
{
    const QString out = args.value("-o").value_or(QString());
    const QString named = out.endsWith(".wav", Qt::CaseInsensitive) ? "wav"
        : out.endsWith(".csv", Qt::CaseInsensitive)                 ? "csv"
                                                                    : QString();
    choice.format = args.value("--format").value_or(named.isEmpty() ? "csv" : named);
    const std::map<QString, AmplitudeUnit> units = { { "V", AmplitudeUnit::Volts },
        { "Q", AmplitudeUnit::Coulombs }, { "code", AmplitudeUnit::Code } };
    const QString unit = args.value("--unit").value_or("V");
    if (choice.format != "csv" && choice.format != "wav")
        problem = "--format is csv or wav";
    else if (!named.isEmpty() && named != choice.format)
        problem = QStringLiteral("--format %1 does not match -o %2").arg(choice.format, out);
    else if (choice.format == "csv" && args.has("--float"))
        problem = "--float is for WAV files";
    else if (choice.format == "wav" && args.has("--unit"))
        problem = "--unit is for CSV files (WAV holds codes, or volts with --float)";
    else if (!units.count(unit))
        problem = "--unit is V, Q or code";
    if (!problem.isEmpty())
        return false;
    choice.unit = units.at(unit);
    return wholeNumber(args, "--start", 0, INT_MAX, 0, choice.span.start, problem)
        && wholeNumber(args, "--count", 0, INT_MAX, -1, choice.span.count, problem);
}

int exportRecords(const Command& command, const Arguments& args)
{
    ExportChoice choice;
    QString problem;
    if (!exportChoice(args, choice, problem))
        return usage(command, problem);
    const bool single = args.files.size() == 1 && !isFolder(args.files[0]);
    const std::optional<QString> out = args.value("-o");
    if (!single && out && !isFolder(*out))
        return usage(command, "-o names a folder when several records are exported");
    if (!out && args.files.contains(standardStreamName))
        return usage(command, "a record from the standard input needs -o");
    int status = exitDone;
    const QStringList files = expandFolders(args.files, status);
    QStringList outputs;
    for (const QString& file : files)
        outputs << exportName(args, single, file, "." + choice.format);
    if (outputsClash(command, files, outputs))
        return exitUsage;
    for (int k = 0; k < files.size(); ++k) {
        WaveStore record(QRect(0, 0, 639, 399));
        SampleSpan span = choice.span;
        QString cause;
        const bool wav = choice.format == "wav";
        if (outputIsInput(outputs[k], files) || !readRecord(files[k], record)) {
            status = exitFailed;
        } else if (!resolveSpan(record, span, cause) || (wav && wavRate(record, cause) == 0)) {
            fail(files[k], cause);
            status = exitFailed;
        } else if (wav ? !exportWav(record, outputs[k], args.has("--float"), span, cause)
                       : !exportCsv(record, outputs[k], choice.unit, span, cause)) {
            saveFailed(outputs[k], cause);
            status = exitFailed;
        }
    }
    return status;
}

// --- import ------------------------------------------------------------------------------------

int importRecord(const Command& command, const Arguments& args)
{
    const std::optional<QString> out = args.value("-o");
    int gain = -1;
    QString problem;
    if (args.files.size() != 1 || !out)
        return usage(command, "import takes one WAV file and -o OUT.raw");
    if (!wholeNumber(args, "--gain", 0, maxGainCode, -1, gain, problem))
        return usage(command, problem);
    const QString& input = args.files[0];
    if (outputIsInput(*out, args.files))
        return exitFailed;
    WaveStore record(QRect(0, 0, 639, 399));
    ImportNotes notes;
    QString cause;
    if (!importWav(input, gain, record, notes, cause)) {
        fail(input, cause);
        return exitFailed;
    }
    if (!notes.warning().isEmpty())
        fail(input, notes.warning());
    errno = 0;
    const int result = writeRaw(record, *out);
    if (result != 0)
        return saveFailed(*out, saveCause(result, errno)), exitFailed;
    return exitDone;
}

// --- spectrum ----------------------------------------------------------------------------------

int windowIndex(const QString& name)
{
    const QStringList names = { "none", "parzen", "hanning", "hamming", "exactblackman", "welch" };
    return int(names.indexOf(name.toLower()));
}

int spectrum(const Command& command, const Arguments& args)
{
    int channel = 0;
    int start = 0;
    int length = 0;
    QString problem;
    const int window = windowIndex(args.value("--window").value_or("None"));
    if (args.files.size() != 1 || !args.value("--channel"))
        return usage(command, "spectrum takes one record and --channel N");
    if (!wholeNumber(args, "--channel", 1, WaveStore::maxChannels, 1, channel, problem)
        || !wholeNumber(args, "--start", 0, INT_MAX, 0, start, problem)
        || !wholeNumber(args, "--length", 4, 1 << maxFftExponent, 0, length, problem))
        return usage(command, problem);
    if (window < 0)
        return usage(command, "--window is None, Parzen, Hanning, Hamming, ExactBlackman or Welch");
    if (args.value("--length") && (length & (length - 1)) != 0)
        return usage(command, "--length is a power of two");
    const QString& file = args.files[0];
    if (args.value("-o") && outputIsInput(*args.value("-o"), args.files))
        return exitFailed;
    WaveStore record(QRect(0, 0, 639, 399));
    if (!readRecord(file, record))
        return exitFailed;
    if (length == 0) // the largest power of two the record holds from start on
        for (length = 4;
             length * 2 <= record.sampleCount() - start && length < (1 << maxFftExponent);)
            length *= 2;
    int e = 0;
    while ((1 << e) < length)
        ++e;
    std::string text;
    QString cause;
    if (!spectrumTable(record, channel - 1, start, e, window, args.has("--db"), text, cause)) {
        fail(file, cause);
        return exitFailed;
    }
    if (const std::optional<QString> out = args.value("-o"))
        return saveText(*out, text, cause) ? exitDone : (saveFailed(*out, cause), exitFailed);
    output(text);
    return exitDone;
}

// --- hits --------------------------------------------------------------------------------------

// "x1,y1;x2,y2;..." as places in metres; false when one is not a pair of finite numbers (or,
// where a place may lie on a line, a single one: y is then 0).
bool toPlaces(const QString& text, bool onLine, QList<QPointF>& places)
{
    places.clear();
    for (const QString& pair : text.split(';')) {
        const QStringList numbers = pair.split(',');
        bool okX = false;
        bool okY = onLine && numbers.size() == 1;
        const double x = numbers.value(0).toDouble(&okX);
        const double y = numbers.size() == 2 ? numbers[1].toDouble(&okY) : 0;
        if (numbers.size() > 2 || !okX || !okY || !std::isfinite(x) || !std::isfinite(y))
            return false;
        places << QPointF(x, y);
    }
    return true;
}

// The options that go together: one threshold, one kind of location, and what needs one.
bool hitOptionsAgree(const Command& command, const Arguments& args, QString& problem)
{
    const int thresholds = int(args.has("--threshold-v")) + int(args.has("--threshold-db"))
        + int(args.has("--threshold-auto"));
    const bool onLine = args.has("--spacing-m");
    const bool inPlane = args.has("--sensors");
    if (thresholds != 1)
        problem = QStringLiteral("%1 takes one of --threshold-v, --threshold-db and "
                                 "--threshold-auto")
                      .arg(command.name);
    else if (onLine && inPlane)
        problem = QStringLiteral("%1 takes one of --spacing-m and --sensors").arg(command.name);
    else if (args.has("--pair") && !onLine)
        problem = "--pair needs --spacing-m";
    for (const char* name : { "--speed-mps", "--window-s", "--calibrate" })
        if (problem.isEmpty() && args.has(name) && !onLine && !inPlane)
            problem = QStringLiteral("%1 needs --spacing-m or --sensors").arg(name);
    return problem.isEmpty();
}

bool hitQuery(const Command& command, const Arguments& args, HitQuery& query, QString& problem)
{
    HitSettings& settings = query.settings;
    double decibels = 0;
    if (!hitOptionsAgree(command, args, problem))
        return false;
    if (!realNumber(args, "--threshold-v", 0, 1e6, true, 1, settings.thresholdVolts, problem)
        || !realNumber(args, "--threshold-db", 0, 240, true, 1, decibels, problem)
        || !realNumber(args, "--threshold-auto", 0, 120, false, -1, settings.floatingDb, problem)
        || !realNumber(args, "--preamp-db", -60, 120, false, 0, query.preampDb, problem)
        || !realNumber(args, "--high-pass-khz", 0, 1e6, false, 0, settings.highPassKhz, problem)
        || !realNumber(
            args, "--hdt-us", 0, longestDefinitionMicros, true, 800, settings.hdtMicros, problem)
        || !realNumber(
            args, "--hlt-us", 0, longestDefinitionMicros, false, 1000, settings.hltMicros, problem)
        || !realNumber(
            args, "--pdt-us", 0, longestDefinitionMicros, true, 200, settings.pdtMicros, problem)
        || !realNumber(args, "--spacing-m", 0, 1e6, true, 0, query.spacingMetres, problem)
        || !realNumber(args, "--speed-mps", 0, 1e6, true, 3000, query.speedMps, problem)
        || !realNumber(args, "--window-s", 0, 1e6, false, -1, query.windowSeconds, problem)
        || !wholeNumber(args, "--start", 0, INT_MAX, 0, query.first, problem)
        || !wholeNumber(args, "--count", 0, INT_MAX, -1, query.count, problem))
        return false;
    QList<int> pair { 0, 1 };
    QList<QPointF> source;
    if (args.has("--channels") && !toChannels(*args.value("--channels"), query.channels))
        problem = "--channels takes channel numbers from 1, as 1,2";
    else if (args.has("--pair")
        && (!toChannels(*args.value("--pair"), pair) || pair.size() != 2 || pair[0] == pair[1]))
        problem = "--pair takes two different channel numbers from 1, as 1,2";
    else if (args.has("--sensors")
        && (!toPlaces(*args.value("--sensors"), false, query.sensors) || query.sensors.size() < 3
            || query.sensors.size() > WaveStore::maxChannels))
        problem = "--sensors takes three to five places in metres, as 0,0;1,0;1,1";
    else if (args.has("--sensors") && !planarProblem(query.sensors).isEmpty())
        problem = "--sensors: " + planarProblem(query.sensors);
    else if (args.has("--calibrate")
        && (!toPlaces(*args.value("--calibrate"), !args.has("--sensors"), source)
            || source.size() != 1))
        problem = args.has("--sensors")
            ? "--calibrate takes the source's place in the plane, as X,Y"
            : "--calibrate takes the source's place on the line, as X";
    if (!problem.isEmpty())
        return false;
    if (args.has("--threshold-db"))
        settings.thresholdVolts = voltsOfDecibelsAe(decibels, query.preampDb);
    query.pair[0] = pair[0];
    query.pair[1] = pair[1];
    return true;
}

// What misleads about a fixed threshold on each channel, on standard error.
void warnOfThresholds(const QString& file, const HitFacts& facts)
{
    for (int c = 0; c < facts.channels.size(); ++c) {
        const ChannelBackground& b = facts.channels[c];
        const QString channel
            = QStringLiteral("channel %1: the threshold of %2 V").arg(c + 1).arg(b.thresholdVolts);
        if (b.warnings & ChannelBackground::belowOneCode)
            fail(file, channel + QStringLiteral(" is under one code"));
        if (b.warnings & ChannelBackground::belowNoise)
            fail(file,
                channel
                    + QStringLiteral(" is under three times the background RMS (%1 V)")
                          .arg(b.rmsVolts));
        if (b.warnings & ChannelBackground::aboveFullScale)
            fail(file, channel + QStringLiteral(" is above the full scale: no hits there"));
    }
}

int hits(const Command& command, const Arguments& args)
{
    HitQuery query;
    QString problem;
    if (!hitQuery(command, args, query, problem))
        return usage(command, problem);
    const std::optional<QString> out = args.value("-o");
    int status = exitDone;
    const QStringList files = expandFolders(args.files, status);
    if (out && outputIsInput(*out, files))
        return exitFailed;
    const std::optional<QString> calibrate = args.value("--calibrate");
    QList<QPointF> source;
    if (calibrate)
        toPlaces(*calibrate, !query.planar(), source);
    std::string text = calibrate ? std::string("file,speed_mps,spread_mps,events,residual_m\n")
                                 : hitsCsv({}, {}, 1, query, false, true);
    if (!out)
        output(text);
    status = forEachRecord(files, false, status, [&](const QString& file, const WaveStore& record) {
        QList<HitRow> rows;
        HitFacts facts;
        QString cause;
        // A calibration's waves may take twice as long as the given speed says.
        HitQuery asked = query;
        if (calibrate ? !calibrationHits(record, asked, rows, cause)
                      : !tabulateHits(record, query, rows, cause, &facts)) {
            fail(file, cause);
            return false;
        }
        warnOfThresholds(file, facts);
        const double rate = sampleRateHz(record);
        std::string lines;
        if (calibrate) {
            SpeedFit fit;
            if (!fitSpeed(rows, query, source.value(0), rate, fit, cause)) {
                fail(file, cause);
                return false;
            }
            lines = pathBytes(file).toStdString();
            for (const double value : { fit.speedMps, fit.spreadMps }) {
                lines += ',';
                appendCsvNumber(lines, value);
            }
            lines += ',' + std::to_string(fit.events) + ',';
            appendCsvNumber(lines, fit.residualMetres);
            lines += '\n';
        } else {
            lines = hitsCsv(file, rows, rate, query, facts.detector, false);
        }
        return out ? (text += lines, true) : output(lines);
    });
    QString cause;
    if (out && !saveText(*out, text, cause))
        return saveFailed(*out, cause), exitFailed;
    return status;
}

// --- session -----------------------------------------------------------------------------------

QString databaseOf(const QString& folder)
{
    return QDir(folder).filePath(QLatin1String(sessionDbName));
}

// "2024-05-01T10:00:00.000Z" of seconds since 1970-01-01 UTC.
std::string utcText(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000)), Qt::UTC)
        .toString(Qt::ISODateWithMs)
        .toStdString();
}

std::string numberText(double value)
{
    return QString::number(value, 'g', 10).toStdString();
}

int printSummary(const QString& folder)
{
    SessionDb db;
    SessionSummary s;
    QString cause;
    if (!db.openForReading(folder, cause) || !db.summary(s, cause)) {
        fail(databaseOf(folder), cause);
        return exitFailed;
    }
    std::string text = "captures: " + std::to_string(s.captures)
        + "\nhits: " + std::to_string(s.hits) + "\nevents: " + std::to_string(s.events) + "\n";
    if (s.captures > 0)
        text += "first_utc: " + utcText(s.firstUtcSeconds) + "\nlast_utc: "
            + utcText(s.lastUtcSeconds) + "\nspan_s: " + numberText(s.spanSeconds())
            + "\nrecorded_s: " + numberText(s.recordedSeconds) + "\n";
    text += "hits_per_hour: "
        + (s.hitsPerHour() < 0 ? std::string("n/a") : numberText(s.hitsPerHour())) + "\n";
    output(text);
    return exitDone;
}

// A record file of a session folder: its name there, number and start. A name made as the
// series makes them gives both; any other file takes the numbers after the highest such, in
// name order, and its modification time as its start.
struct SessionFile
{
    QString path;
    QString name;
    int number = 0;
    QDateTime start;
};

QList<SessionFile> sessionFiles(const QString& folder)
{
    QList<SessionFile> files;
    int highest = 0;
    for (const QString& path : recordsIn(folder)) {
        SessionFile file { path, QFileInfo(path).fileName(), 0, QDateTime() };
        if (parseCaptureFileName(file.name, file.start, file.number))
            highest = std::max(highest, file.number);
        files << file;
    }
    for (SessionFile& file : files) {
        struct stat st;
        if (!file.start.isNull())
            continue;
        file.number = ++highest;
        if (::stat(pathBytes(file.path).constData(), &st) == 0)
            file.start = QDateTime::fromMSecsSinceEpoch(
                qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000, Qt::UTC);
    }
    return files;
}

// Searches each record of the folder for hits into the rebuild's database; false when the
// database failed (the rebuild is then dropped), status 1 when a record did.
bool storeCaptures(const QList<SessionFile>& files, const HitQuery& query, SessionDb& db,
    QString& acquisition, int& stored, int& status, QString& cause)
{
    for (const SessionFile& file : files) {
        WaveStore record(QRect(0, 0, 639, 399));
        QList<HitRow> rows;
        HitFacts facts;
        if (!readRecord(file.path, record)) {
            status = exitFailed;
            continue;
        }
        if (!tabulateHits(record, query, rows, cause, &facts)) {
            fail(file.path, cause);
            status = exitFailed;
            continue;
        }
        warnOfThresholds(file.path, facts);
        const CaptureInfo info = captureOf(record, file.name, file.number, file.start);
        if (!db.addCapture(info, rows, query, info.rateHz, facts.detector, cause))
            return false;
        if (stored++ == 0)
            acquisition = acquisitionText(info);
    }
    return true;
}

int session(const Command& command, const Arguments& args)
{
    if (args.files.size() != 1)
        return usage(command, QStringLiteral("session takes one folder"));
    const QString folder = args.files[0];
    if (args.has("--summary"))
        return args.values.empty() ? printSummary(folder)
                                   : usage(command, QStringLiteral("--summary takes no options"));
    HitQuery query;
    QString problem;
    if (!hitQuery(command, args, query, problem))
        return usage(command, problem);
    if (!isFolder(folder)) {
        struct stat st;
        fail(folder,
            ::stat(pathBytes(folder).constData(), &st) == 0 ? QStringLiteral("not a folder")
                                                            : saveCause(-1, errno));
        return exitFailed;
    }
    const QList<SessionFile> files = sessionFiles(folder);
    if (files.isEmpty()) {
        fail(folder, QStringLiteral("a folder without .raw records"));
        return exitFailed;
    }
    SessionRebuild rebuild;
    QString cause;
    QString acquisition;
    int stored = 0;
    int status = exitDone;
    SessionSummary s;
    if (!rebuild.begin(folder, cause)
        || !storeCaptures(files, query, rebuild.database(), acquisition, stored, status, cause)
        || (stored > 0
            && (!rebuild.database().writeSession(query, acquisition, cause)
                || !rebuild.database().summary(s, cause) || !rebuild.commit(cause)))) {
        fail(databaseOf(folder), cause + QStringLiteral("; nothing was changed"));
        return exitFailed;
    }
    if (stored == 0) {
        fail(folder, QStringLiteral("no record could be read; nothing was changed"));
        return exitFailed;
    }
    output(pathBytes(databaseOf(folder)).toStdString() + ": " + std::to_string(s.captures)
        + " captures, " + std::to_string(s.hits) + " hits, " + std::to_string(s.events)
        + " events\n");
    return status;
}

// --- The commands ------------------------------------------------------------------------------

// The options of a hit search, as hits and session take them.
const QStringList aeOptions { "--threshold-v", "--threshold-db", "--threshold-auto", "--preamp-db",
    "--high-pass-khz", "--hdt-us", "--hlt-us", "--pdt-us", "--channels", "--spacing-m",
    "--speed-mps", "--pair", "--window-s", "--sensors" };

const Command commands[] = {
    { "info",
        "usage: voltrix-tool info FILE... [--json]\n"
        "  channels, samples, frequency (Hz), duration (s), inputs, gain codes, detector and\n"
        "  synchronisation of each record; --json: one JSON array\n",
        {}, { "--json" }, info },
    { "export",
        "usage: voltrix-tool export FILE... [-o OUT] [--format csv|wav] [--unit V|Q|code]\n"
        "                           [--float] [--start SAMPLE] [--count N]\n"
        "  CSV (a time column, then one column per channel; --unit) or WAV (8-bit PCM, or\n"
        "  32-bit float volts with --float; the record's facts in its comment). OUT is the\n"
        "  file for one record (- the standard output), a folder for several; without it\n"
        "  FILE's name with .csv or .wav beside it\n",
        { "-o", "--format", "--unit", "--start", "--count" }, { "--float" }, exportRecords },
    { "import",
        "usage: voltrix-tool import FILE.wav -o OUT.raw [--gain CODE]\n"
        "  a WAV file (8- to 32-bit PCM or float; any WAV-family container) into a record;\n"
        "  a WAV written by this tool comes back as the record it was; CODE 0 ... 12 sets\n"
        "  every channel's gain\n",
        { "-o", "--gain" }, {}, importRecord },
    { "spectrum",
        "usage: voltrix-tool spectrum FILE --channel N [--start S] [--length 2^k] [--window NAME]\n"
        "                             [--db] [-o OUT]\n"
        "  frequency_Hz,amplitude_V (or _dB) of the spectrum window's transform of --length\n"
        "  samples from --start (the largest power of two they hold by default); windows:\n"
        "  None, Parzen, Hanning, Hamming, ExactBlackman, Welch\n",
        { "--channel", "--start", "--length", "--window", "-o" }, { "--db" }, spectrum },
    { "hits",
        "usage: voltrix-tool hits FILE... --threshold-v V | --threshold-db DB | --threshold-auto "
        "DB\n"
        "                         [--preamp-db 0] [--high-pass-khz F] [--hdt-us 800]\n"
        "                         [--hlt-us 1000] [--pdt-us 200] [--channels 1,2,...]\n"
        "                         [--start S] [--count N] [-o OUT]\n"
        "                         [--spacing-m D [--pair 1,2] | --sensors \"x1,y1;x2,y2;x3,y3\"]\n"
        "                         [--speed-mps 3000] [--window-s W] [--calibrate X[,Y]]\n"
        "  acoustic-emission hits as CSV (definition times up to 1e9 us; the lockout counts from\n"
        "  the hit's end). --threshold-auto: DB over each channel's background RMS, never under\n"
        "  1.5 codes; a fixed threshold that misleads is warned of. Each channel's background\n"
        "  mean is taken off before the search. dB_AE refer to the sensor ahead of a\n"
        "  preamplifier of --preamp-db. With a spacing: events and the location between the\n"
        "  pair; with --sensors (metres, channel 1's first): planar location by least squares\n"
        "  (x_m, y_m, residual_m, zone). The coincidence window defaults to the farthest\n"
        "  sensors' distance over the speed with a margin. --calibrate: the speed that best\n"
        "  explains the events of a source at X[,Y], with its spread, instead of the hits\n",
        aeOptions + QStringList { "--start", "--count", "--calibrate", "-o" }, {}, hits },
    { "session",
        "usage: voltrix-tool session FOLDER --threshold-v V | --threshold-db DB | "
        "--threshold-auto DB\n"
        "                               [the options of hits but --start, --count, -o and\n"
        "                               --calibrate]\n"
        "       voltrix-tool session FOLDER --summary\n"
        "  builds the database session.sqlite of a session folder anew from its .raw records:\n"
        "  each a capture (its start and number from a name YYYYMMDD-HHMMSS-NNNN.raw, UTC, else\n"
        "  its modification time and the numbers after the highest), its hits, and with a\n"
        "  spacing or sensors its events and their sources. The new database replaces the old\n"
        "  one whole, or the old one stays; a file that is not a session database is never\n"
        "  replaced. Prints the captures, hits and events stored. --summary: the captures,\n"
        "  hits and events of the database, its time span and the hits per hour over it\n",
        aeOptions, { "--summary" }, session },
};

// An interrupting signal removes the temporary file of the save under way, then ends the tool
// with the signal's own status.
extern "C" void endOnSignal(int signal)
{
    removePendingTemporary();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void installSignalHandlers()
{
    std::signal(SIGPIPE, SIG_DFL);
    struct sigaction action
    {
    };
    action.sa_handler = endOnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaction(signal, &action, nullptr);
}

int runCommand(QStringList words)
{
    if (words.isEmpty()) {
        std::fputs(summary, stderr);
        return exitUsage;
    }
    const QString name = words.takeFirst();
    if (name == "--help" || name == "-h") {
        output(summary);
        for (const Command& command : commands)
            output(std::string("\n") + command.usage);
        return exitDone;
    }
    if (name == "--version") {
        output("voltrix-tool " + versioninfo::numberText().toStdString() + "\n");
        return exitDone;
    }
    const auto found = std::find_if(std::begin(commands), std::end(commands),
        [&name](const Command& command) { return name == QLatin1String(command.name); });
    if (found == std::end(commands)) {
        std::fprintf(stderr, "voltrix-tool: unknown command '%s'; try 'voltrix-tool --help'\n",
            pathBytes(name).constData());
        return exitUsage;
    }
    Command command = *found;
    command.switches << "--help"
                     << "-h";
    Arguments args;
    QString problem;
    if (!parse(command, words, args, problem))
        return usage(command, problem);
    if (args.has("--help") || args.has("-h")) {
        output(command.usage);
        return exitDone;
    }
    if (args.files.isEmpty())
        return usage(command, QStringLiteral("%1 needs a file").arg(command.name));
    return command.run(command, args);
}

} // namespace

int main(int argc, char** argv)
{
    installSignalHandlers();
    setWaitForReaders(true);
    QCoreApplication application(argc, argv);
    QHash<QString, int> files { { QString(), 0 } };
    qtmisc::filesHash = &files;
    qtmisc::registerSourceFiles(filesListArray, filesListCount);
    // The words as the system gave them: a name that is not valid UTF-8 keeps its bytes.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << pathText(QByteArray(argv[i]));
    return finish(runCommand(words));
}
