// voltrix-tool: records on the command line, without a display: their information, CSV and WAV
// exports, WAV imports and spectra, with the program's own reader, writer and transform.
#include "ae_hits.h"
#include "files_list.h"
#include "record_export.h"
#include "wav_file.h"
#include "ufft.h"
#include "wave_stor.h"

#include <QtMisc/qtm_errors.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>

namespace {

constexpr int exitDone = 0;
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;

const char* const usageText
    = "usage: voltrix-tool COMMAND [OPTIONS] FILE...\n"
      "\n"
      "  info FILE... [--json]\n"
      "      channels, samples, frequency (Hz), duration (s), inputs, gain codes, detector and\n"
      "      synchronisation of each record\n"
      "  export FILE... [-o OUT] [--format csv|wav] [--unit V|Q|code] [--float]\n"
      "                 [--start SAMPLE] [--count N]\n"
      "      CSV (a time column, then one column per channel) or WAV (8-bit PCM, or 32-bit\n"
      "      float volts with --float); OUT is the file for one record, a folder for several;\n"
      "      without it FILE's name with .csv or .wav\n"
      "  import FILE.wav -o OUT.raw [--gain CODE]\n"
      "      a WAV file (8/16-bit PCM or float) into a record\n"
      "  spectrum FILE --channel N [--start S] [--length 2^k] [--window NAME] [--db] [-o OUT]\n"
      "      frequency_Hz,amplitude_V (or _dB) of the spectrum window's transform; windows:\n"
      "      None, Parzen, Hanning, Hamming, ExactBlackman, Welch\n"
      "  hits FILE... --threshold-v V | --threshold-db DB [--hdt-us 800] [--hlt-us 1000]\n"
      "               [--pdt-us 200] [--channels 1,2,...] [--start S --count N]\n"
      "               [--spacing-m D --speed-mps C [--pair 1,2] [--window-s W]]\n"
      "      acoustic-emission hits as CSV; with a spacing, events, the onsets' differences to\n"
      "      the event's first hit and the linear location between the pair of channels (the\n"
      "      coincidence window defaults to spacing / speed)\n"
      "\n"
      "Exit status: 0 all done, 1 some file failed, 2 usage error.\n";

int usage(const QString& problem = QString())
{
    if (!problem.isEmpty())
        std::fprintf(stderr, "voltrix-tool: %s\n", qPrintable(problem));
    std::fputs(usageText, stderr);
    return exitUsage;
}

// The options after the command: "--name value" pairs, the flags given, and the files.
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
    bool flag(const QString& name) const { return flags.contains(name); }
};

bool parse(const QStringList& words, const QStringList& valued, const QStringList& switches,
    Arguments& out, QString& problem)
{
    for (int i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (valued.contains(word)) {
            if (i + 1 >= words.size()) {
                problem = word + " needs a value";
                return false;
            }
            out.values[word] = words[++i];
        } else if (switches.contains(word)) {
            out.flags << word;
        } else if (word.startsWith('-') && word.size() > 1) {
            problem = "unknown option " + word;
            return false;
        } else {
            out.files << word;
        }
    }
    return true;
}

bool toInt(const std::optional<QString>& text, int fallback, int& value)
{
    if (!text) {
        value = fallback;
        return true;
    }
    bool ok = false;
    value = text->toInt(&ok);
    return ok;
}

void fail(const QString& file, const QString& cause)
{
    std::fprintf(stderr, "voltrix-tool: %s: %s\n", qPrintable(file), qPrintable(cause));
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
// the status 1, and the others go on.
int forEachRecord(const QStringList& files, bool headerOnly,
    const std::function<bool(const QString& file, const WaveStore& record)>& work)
{
    int status = exitDone;
    for (const QString& file : files) {
        WaveStore record(QRect(0, 0, 639, 399));
        if (!readRecord(file, record, headerOnly) || !work(file, record))
            status = exitFailed;
    }
    return status;
}

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

int info(const Arguments& args)
{
    QJsonArray all;
    const int status
        = forEachRecord(args.files, true, [&](const QString& file, const WaveStore& record) {
              QJsonObject o = infoOf(record);
              if (args.flag("--json")) {
                  o.insert("file", file);
                  all.append(o);
                  return true;
              }
              std::printf("%s\n  channels: %d\n  samples: %d\n  frequency_Hz: %.10g\n"
                          "  duration_s: %.10g\n  inputs: %s\n  gain_codes: %s\n  detector: %s\n"
                          "  sync: %s\n",
                  qPrintable(file), o["channels"].toInt(), o["samples"].toInt(),
                  o["frequency_Hz"].toDouble(), o["duration_s"].toDouble(),
                  qPrintable(numbers(o["inputs"].toArray())),
                  qPrintable(numbers(o["gain_codes"].toArray())),
                  o["detector"].toBool() ? "on" : "off", qPrintable(o["sync"].toString()));
              return true;
          });
    if (args.flag("--json"))
        std::fputs(QJsonDocument(all).toJson(QJsonDocument::Indented).constData(), stdout);
    return status;
}

// Where the export of file goes: -o itself for one file, a file in the folder -o for several,
// else beside the record.
QString exportName(const Arguments& args, const QString& file, const QString& suffix)
{
    const QString base = QFileInfo(file).completeBaseName() + suffix;
    const std::optional<QString> out = args.value("-o");
    if (!out)
        return QFileInfo(file).dir().filePath(base);
    if (args.files.size() == 1 && !QFileInfo(*out).isDir())
        return *out;
    return QDir(*out).filePath(base);
}

int exportRecords(const Arguments& args)
{
    QString format = args.value("--format").value_or(QString());
    if (format.isEmpty()) {
        const QString out = args.value("-o").value_or(QString());
        format = out.endsWith(".wav", Qt::CaseInsensitive) ? "wav" : "csv";
    }
    const QString unitName = args.value("--unit").value_or("V");
    const std::map<QString, AmplitudeUnit> units = { { "V", AmplitudeUnit::Volts },
        { "Q", AmplitudeUnit::Coulombs }, { "code", AmplitudeUnit::Code } };
    SampleSpan span;
    if (format != "csv" && format != "wav")
        return usage("--format is csv or wav");
    if (!units.count(unitName))
        return usage("--unit is V, Q or code");
    if (!toInt(args.value("--start"), 0, span.start)
        || !toInt(args.value("--count"), -1, span.count))
        return usage("--start and --count take a number of samples");
    return forEachRecord(args.files, false, [&](const QString& file, const WaveStore& record) {
        const QString name = exportName(args, file, "." + format);
        QString cause;
        const bool done = format == "csv"
            ? exportCsv(record, name, units.at(unitName), span, cause)
            : exportWav(record, name, args.flag("--float"), span, cause);
        if (!done)
            fail(file, cause);
        return done;
    });
}

int importRecord(const Arguments& args)
{
    const std::optional<QString> out = args.value("-o");
    int gain = -1;
    if (args.files.size() != 1 || !out)
        return usage("import takes one WAV file and -o OUT.raw");
    if (!toInt(args.value("--gain"), -1, gain) || gain < -1 || gain > 12)
        return usage("--gain takes a gain code 0 ... 12");
    WaveStore record(QRect(0, 0, 639, 399));
    ImportNotes notes;
    QString cause;
    if (!importWav(args.files[0], gain, record, notes, cause)) {
        fail(args.files[0], cause);
        return exitFailed;
    }
    if (!notes.warning().isEmpty())
        std::fprintf(
            stderr, "voltrix-tool: %s: %s\n", qPrintable(args.files[0]), qPrintable(notes.warning()));
    errno = 0;
    const int result = writeRaw(record, *out);
    if (result != 0) {
        fail(*out,
            result == -16 ? QStringLiteral("permission denied")
                          : QString::fromLocal8Bit(std::strerror(errno)).toLower());
        return exitFailed;
    }
    return exitDone;
}

int windowIndex(const QString& name)
{
    const QStringList names = { "none", "parzen", "hanning", "hamming", "exactblackman", "welch" };
    return int(names.indexOf(name.toLower()));
}

int spectrum(const Arguments& args)
{
    int channel = 0;
    int start = 0;
    int length = 0;
    const int window = windowIndex(args.value("--window").value_or("None"));
    if (args.files.size() != 1 || !args.value("--channel"))
        return usage("spectrum takes one record and --channel N");
    if (!toInt(args.value("--channel"), 1, channel) || !toInt(args.value("--start"), 0, start)
        || !toInt(args.value("--length"), 0, length))
        return usage("--channel, --start and --length take numbers");
    if (window < 0)
        return usage("--window is None, Parzen, Hanning, Hamming, ExactBlackman or Welch");
    if (length != 0 && (length < 4 || (length & (length - 1)) != 0))
        return usage("--length is a power of two, 4 or more");
    WaveStore record(QRect(0, 0, 639, 399));
    const QString& file = args.files[0];
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
    if (!spectrumTable(record, channel - 1, start, e, window, args.flag("--db"), text, cause)) {
        fail(file, cause);
        return exitFailed;
    }
    if (const std::optional<QString> out = args.value("-o")) {
        if (!saveText(*out, text, cause)) {
            fail(*out, cause);
            return exitFailed;
        }
    } else {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    return exitDone;
}

bool toDouble(const std::optional<QString>& text, double fallback, double& value)
{
    bool ok = true;
    value = text ? text->toDouble(&ok) : fallback;
    return ok;
}

// "1,2,..." as 0-based channels; false when a number is missing or below 1.
bool toChannels(const QString& text, QList<int>& channels)
{
    for (const QString& word : text.split(',')) {
        bool ok = false;
        const int channel = word.toInt(&ok);
        if (!ok || channel < 1)
            return false;
        channels << channel - 1;
    }
    return true;
}

int hits(const Arguments& args)
{
    HitQuery query;
    double thresholdDb = 0;
    QList<int> pair { 0, 1 };
    const bool inVolts = args.value("--threshold-v").has_value();
    if (inVolts == args.value("--threshold-db").has_value())
        return usage("hits takes one of --threshold-v and --threshold-db");
    HitSettings& settings = query.settings;
    if (!toDouble(args.value("--threshold-v"), 0, settings.thresholdVolts)
        || !toDouble(args.value("--threshold-db"), 0, thresholdDb)
        || !toDouble(args.value("--hdt-us"), 800, settings.hdtMicros)
        || !toDouble(args.value("--hlt-us"), 1000, settings.hltMicros)
        || !toDouble(args.value("--pdt-us"), 200, settings.pdtMicros)
        || !toDouble(args.value("--spacing-m"), 0, query.spacingMetres)
        || !toDouble(args.value("--speed-mps"), 0, query.speedMps)
        || !toDouble(args.value("--window-s"), -1, query.windowSeconds)
        || !toInt(args.value("--start"), 0, query.first)
        || !toInt(args.value("--count"), -1, query.count)
        || (args.value("--channels") && !toChannels(*args.value("--channels"), query.channels))
        || (args.value("--pair")
            && (!toChannels(*args.value("--pair"), pair = {}) || pair.size() != 2)))
        return usage("hits: a number is missing or wrong");
    if (query.spacingMetres > 0 && query.speedMps <= 0)
        return usage("--spacing-m needs --speed-mps");
    if (!inVolts)
        settings.thresholdVolts = voltsOfDecibelsAe(thresholdDb);
    query.pair[0] = pair[0];
    query.pair[1] = pair[1];
    const bool locate = query.locates();
    std::fputs(hitsCsv({}, {}, 1, locate, true).c_str(), stdout);
    return forEachRecord(args.files, false, [&](const QString& file, const WaveStore& record) {
        QList<HitRow> rows;
        QString cause;
        if (!tabulateHits(record, query, rows, cause)) {
            fail(file, cause);
            return false;
        }
        std::fputs(hitsCsv(file, rows, sampleRateHz(record), locate, false).c_str(), stdout);
        return true;
    });
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QHash<QString, int> files { { QString(), 0 } };
    qtmisc::filesHash = &files;
    qtmisc::registerSourceFiles(filesListArray, filesListCount);

    QStringList words = QCoreApplication::arguments().mid(1);
    if (words.isEmpty() || words[0] == "--help" || words[0] == "-h") {
        std::fputs(usageText, words.isEmpty() ? stderr : stdout);
        return words.isEmpty() ? exitUsage : exitDone;
    }
    const QString command = words.takeFirst();
    if (words.contains("--help")) {
        std::fputs(usageText, stdout);
        return exitDone;
    }
    struct Command
    {
        QStringList valued;
        QStringList switches;
        int (*run)(const Arguments&);
    };
    const std::map<QString, Command> commands = {
        { "info", { {}, { "--json" }, info } },
        { "export",
            { { "-o", "--format", "--unit", "--start", "--count" }, { "--float" },
                exportRecords } },
        { "import", { { "-o", "--gain" }, {}, importRecord } },
        { "spectrum",
            { { "--channel", "--start", "--length", "--window", "-o" }, { "--db" }, spectrum } },
        { "hits",
            { { "--threshold-v", "--threshold-db", "--hdt-us", "--hlt-us", "--pdt-us", "--channels",
                  "--start", "--count", "--spacing-m", "--speed-mps", "--pair", "--window-s" },
                {}, hits } },
    };
    const auto found = commands.find(command);
    if (found == commands.end())
        return usage("unknown command " + command);
    Arguments args;
    QString problem;
    if (!parse(words, found->second.valued, found->second.switches, args, problem))
        return usage(problem);
    if (args.files.isEmpty())
        return usage(command + " needs a file");
    return found->second.run(args);
}
