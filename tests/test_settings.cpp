// The settings file: defaults, range rules, the written text and a round trip.
#include "settings.h"
#include "support/files.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_Settings : public QObject
{
    Q_OBJECT
private slots:
    void rangeRulesAndColors();
    void writtenDefaultsAndUnwritableFile();
    void roundTrip();

private:
    static QString write(const QTemporaryDir& dir, const QByteArray& text);
};

QString tst_Settings::write(const QTemporaryDir& dir, const QByteArray& text)
{
    return testfiles::write(dir.filePath("adc.ini"), text) ? settingsDirectory(dir.path())
                                                           : QString();
}

// Values the unit or the parameters dialog cannot take come to the nearest they can: gains
// 0-12, groups 0-7, switches 0 or 1, a half count of 1 ... 65534, a frequency code of 2 ...
// 65534; a port number below 1, a rate outside 1200 ... 115200 (which is noted), an unknown
// window and words give the defaults. An empty file gives every field its default,
// whatever it held before. A colour keeps its default when its key is absent or a word, and
// loses the bits above blue.
void tst_Settings::rangeRulesAndColors()
{
    const struct
    {
        const char* ini;
        const char* field;
        qint64 expected;
    } cases[] = { { "", "half", 50000 }, { "", "freq", 24 }, { "", "detector", 1 },
        { "", "gain2", 0 }, { "", "com", 1 }, { "", "baud", 115200 }, { "", "winfun", 0 },
        { "", "yaxis", 0 }, { "[COM]\nPort=3\n", "com", 3 }, { "[COM]\nPort=0\n", "com", 1 },
        { "[COM]\nPort=-2\n", "com", 1 }, { "[COM]\nComName=/dev/ttyUSB0\nPort=3\n", "name", 0 },
        { "[COM]\nBaud=1200\n", "baud", 1200 }, { "[COM]\nBaud=115200\n", "baud", 115200 },
        { "[COM]\nBaud=1199\n", "baud", 115200 }, { "[COM]\nBaud=115201\n", "baud", 115200 },
        { "[COM]\nBaud=0\n", "baud", 115200 }, { "[FFT]\nWinFun=5\n", "winfun", 5 },
        { "[FFT]\nWinFun=6\n", "winfun", 0 }, { "[FFT]\nWinFun=-1\n", "winfun", 0 },
        { "[WAVE_ADC]\nWaitA=70000\n", "freq", 65534 }, { "[WAVE_ADC]\nWaitA=0\n", "freq", 2 },
        { "[WAVE_ADC]\nWaitA=fast\n", "freq", 24 }, { "[WAVE_ADC]\nGain2=12\n", "gain2", 12 },
        { "[WAVE_ADC]\nGain2=13\n", "gain2", 12 }, { "[WAVE_ADC]\nGain2=300\n", "gain2", 12 },
        { "[WAVE_ADC]\nGain2=-1\n", "gain2", 0 }, { "[WAVE_ADC]\nSync=-4\n", "sync", 1 },
        { "[WAVE_ADC]\nSync=0\n", "sync", 0 }, { "[WAVE_ADC]\nDetector=255\n", "detector", 1 },
        { "[WAVE_ADC]\n", "detector", 1 }, { "[WAVE_ADC]\nMux=7\n", "mux", 7 },
        { "[WAVE_ADC]\nMux=99\n", "mux", 7 }, { "[WAVE_ADC]\nNumItems=100001\n", "half", 50000 },
        { "[WAVE_ADC]\nNumItems=131068\n", "half", 65534 },
        { "[WAVE_ADC]\nNumItems=200000\n", "half", 65534 },
        { "[COM]\nBaud=230400\n", "replaced", 230400 }, { "[COM]\nBaud=9600\n", "replaced", 0 },
        { "[WAVE_ADC]\nNumItems=-6\n", "half", 1 }, { "[WAVE_ADC]\nYAxis=5\n", "yaxis", 1 },
        { "[WAVE_ADC]\nForAll=0\n", "forall", 0 }, { "", "captures", 10 },
        { "[SERIES]\nCaptures=-3\n", "captures", 0 },
        { "[SERIES]\nCaptures=2000000\n", "captures", 1000000 },
        { "[SERIES]\nPause=90000\n", "pause", 86400 }, { "[SERIES]\nPause=x\n", "pause", 0 } };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        SettingsValues values;
        values.acq = { 0, 7, 5, { 9, 9, 9, 9 }, 3, 1, 0 };
        values.comName = "x";
        values.baudRate = 1;
        values.windowFunction = 3;
        values.yAxisVolts = true;
        readSettings(write(dir, c.ini), values);
        const QHash<QString, qint64> fields = {
            { "com", values.comName.startsWith("COM") ? values.comName.mid(3).toLongLong() : -1 },
            { "name", values.comName == "/dev/ttyUSB0" ? 0 : -1 }, { "baud", values.baudRate },
            { "winfun", values.windowFunction }, { "freq", values.acq.freqCode },
            { "gain2", values.acq.gains[2] }, { "sync", values.acq.sync },
            { "detector", values.acq.detector }, { "mux", values.acq.muxGroup },
            { "half", values.acq.halfCount }, { "replaced", values.replacedBaud },
            { "yaxis", values.yAxisVolts }, { "forall", values.forAll },
            { "captures", values.series.captures }, { "pause", values.series.pauseSeconds }
        };
        QVERIFY(fields.contains(c.field));
        QVERIFY2(fields.value(c.field) == c.expected, c.ini);
    }

    QTemporaryDir dir;
    SettingsValues values;
    values.graphColors[0] = QColor(1, 2, 3);
    values.cursorColors[1] = QColor(4, 5, 6);
    readSettings(
        write(dir, "[COLOR]\nGrColor1=4278190335\nBackColor3=16711680\nTextColor2=x\n"), values);
    QCOMPARE(values.graphColors[0], QColor(1, 2, 3));
    QCOMPARE(values.cursorColors[1], QColor(4, 5, 6));
    QCOMPARE(values.graphColors[1], QColor(255, 0, 0)); // 0xFF0000FF without its top byte
    QCOMPARE(values.backColors[3], QColor(0, 0, 255));
    QCOMPARE(values.textColors[2], QColor(Qt::black)); // not a number: the default
    QCOMPARE(packColor(QColor(160, 160, 0)), qint64(41120));
}

// The defaults as written; a directory path through a plain file cannot be written, not even
// by root.
void tst_Settings::writtenDefaultsAndUnwritableFile()
{
    QTemporaryDir dir;
    SettingsValues values;
    const QColor graph[]
        = { QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(160, 160, 0) };
    const QColor cursor[]
        = { QColor(255, 64, 64), QColor(64, 255, 64), QColor(64, 64, 255), QColor(255, 255, 64) };
    const QColor back[]
        = { QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0) };
    for (int i = 0; i < 4; ++i) {
        values.graphColors[i] = graph[i];
        values.cursorColors[i] = cursor[i];
        values.textColors[i] = Qt::black;
        values.backColors[i] = back[i];
    }
    readSettings(settingsDirectory(dir.path()), values);
    QVERIFY(writeSettings(settingsDirectory(dir.path()), values));

    QSettings file(dir.filePath("adc.ini"), QSettings::IniFormat);
    const QStringList expected = { "WAVE_ADC/YAxis=0", "WAVE_ADC/ForAll=0",
        "WAVE_ADC/NumItems=100000", "WAVE_ADC/WaitA=24", "WAVE_ADC/Sync=0", "WAVE_ADC/Detector=1",
        "WAVE_ADC/Mux=0", "WAVE_ADC/Gain0=0", "WAVE_ADC/Gain3=0", "COLOR/GrColor0=255",
        "COLOR/GrColor1=65280", "COLOR/GrColor2=16711680", "COLOR/GrColor3=41120",
        "COLOR/CursColor0=4210943", "COLOR/CursColor1=4259648", "COLOR/CursColor2=16728128",
        "COLOR/CursColor3=4259839", "COLOR/TextColor2=0", "COLOR/BackColor0=255",
        "COLOR/BackColor3=65535", "COM/ComName=COM1", "COM/Baud=115200", "FFT/WinFun=0",
        "OTHERS/OldDir=", "AE/Threshold=0.001", "AE/ThresholdUnit=V", "AE/HDT=800", "AE/HLT=1000",
        "AE/PDT=200", "AE/Spacing=1", "AE/Speed=3000", "AE/Window=-1", "AE/Pair=1,2",
        "AE/FloatingThreshold=1", "AE/FloatingMargin=16", "AE/HighPass=0", "AE/Preamp=0",
        "AE/Sensors=", "AE/Location=1", "AE/Plane=0", "VIEW/Scales=0", "PRINT/Labels=0" };
    for (const QString& entry : expected)
        QCOMPARE(entry.section('=', 0, 0) + '=' + file.value(entry.section('=', 0, 0)).toString(),
            entry);
    QVERIFY(!file.contains("COM/Port"));
    QCOMPARE(file.allKeys().size(), 53);
    QVERIFY(testfiles::write(dir.filePath("plain"), QByteArray()));
    QVERIFY(!writeSettings(settingsDirectory(dir.filePath("plain")), SettingsValues()));
}

void tst_Settings::roundTrip()
{
    QTemporaryDir dir;
    SettingsValues out;
    out.yAxisVolts = true;
    out.forAll = true;
    out.acq = { 0, 65534, 65534, { 0, 1, 12, 7 }, 7, 1, 0 };
    for (int i = 0; i < 4; ++i) {
        out.graphColors[i] = QColor(i, 2 * i, 3 * i);
        out.cursorColors[i] = QColor(200 + i, 0, 9);
        out.textColors[i] = QColor(0, 100 + i, 0);
        out.backColors[i] = QColor(1, 1, 250 - i);
    }
    out.comName = "/dev/ttyS1";
    out.baudRate = 19200;
    out.windowFunction = 5;
    out.oldDir = "/данные/записи";
    out.ae.query.settings = { 0.0125, 150, 0, 37.5 };
    out.ae.query.spacingMetres = 0.35;
    out.ae.query.speedMps = 5900;
    out.ae.query.windowSeconds = 2.5e-5;
    out.ae.query.pair[0] = 4;
    out.ae.query.pair[1] = 2;
    out.ae.query.settings.highPassKhz = 12.5;
    out.ae.query.preampDb = 40;
    out.ae.query.sensors = { { 0, 0 }, { 1.25, 0 }, { 1.25, -0.5 }, { 0, 0.75 } };
    out.ae.decibels = true;
    out.ae.floating = false;
    out.ae.marginDb = 9.5;
    out.ae.location = false;
    out.ae.plane = true;
    out.scales = true;
    out.pageLabels = true;
    out.series = { "/данные/сеанс", 0, 30, true };
    QVERIFY(writeSettings(settingsDirectory(dir.path()), out));

    SettingsValues in;
    readSettings(settingsDirectory(dir.path()), in);
    QVERIFY(in.yAxisVolts && in.forAll && in.ae.decibels && in.scales && in.pageLabels);
    // 0, half count 65534, frequency code 65534, gains 0 1 12 7, group 7, sync on, detector off
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&in.acq), sizeof in.acq).toHex(),
        QByteArray("0000fefffeff00010c07070100"));
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(in.graphColors[i], out.graphColors[i]);
        QCOMPARE(in.cursorColors[i], out.cursorColors[i]);
        QCOMPARE(in.textColors[i], out.textColors[i]);
        QCOMPARE(in.backColors[i], out.backColors[i]);
    }
    QCOMPARE(in.comName, out.comName);
    QCOMPARE(in.baudRate, 19200);
    QCOMPARE(in.windowFunction, 5);
    QCOMPARE(in.oldDir, out.oldDir);
    QCOMPARE(in.ae.query.settings.thresholdVolts, 0.0125);
    QCOMPARE(in.ae.query.settings.hdtMicros, 150.0);
    QCOMPARE(in.ae.query.settings.hltMicros, 0.0);
    QCOMPARE(in.ae.query.settings.pdtMicros, 37.5);
    QCOMPARE(in.ae.query.spacingMetres, 0.35);
    QCOMPARE(in.ae.query.speedMps, 5900.0);
    QCOMPARE(in.ae.query.windowSeconds, 2.5e-5);
    QCOMPARE(in.ae.query.pair[0], 4);
    QCOMPARE(in.ae.query.pair[1], 2);
    QCOMPARE(in.ae.query.settings.highPassKhz, 12.5);
    QCOMPARE(in.ae.query.preampDb, 40.0);
    QCOMPARE(in.ae.query.sensors, out.ae.query.sensors);
    QVERIFY(!in.ae.floating && !in.ae.location && in.ae.plane);
    QCOMPARE(in.series.folder, out.series.folder);
    QVERIFY(in.series.captures == 0 && in.series.pauseSeconds == 30 && in.series.onlyWithHits);
    QCOMPARE(in.ae.marginDb, 9.5);
    // What is searched: a fixed threshold and no location, the places kept for later; on the
    // line too.
    QCOMPARE(in.ae.searched().settings.floatingDb, -1.0);
    QVERIFY(!in.ae.searched().locates() && in.ae.query.planar());
    in.ae.location = true;
    in.ae.plane = false;
    QVERIFY(!in.ae.searched().planar() && in.ae.searched().locates() && in.ae.query.planar());

    // An edited group: numbers out of range are brought into it, words and a pair of one
    // sensor give the defaults.
    {
        QSettings file(dir.filePath("adc.ini"), QSettings::IniFormat);
        file.setValue("AE/Threshold", "-3");
        file.setValue("AE/HDT", "many");
        file.setValue("AE/Speed", "1e9");
        file.setValue("AE/Pair", "3,3");
        file.setValue("AE/ThresholdUnit", "dBm");
        file.setValue("AE/FloatingMargin", "99");
        file.setValue("AE/HighPass", "-4");
        file.setValue("AE/Preamp", "x");
        file.setValue("AE/Sensors", "0,0;1,0;0,0");
        file.setValue("AE/FloatingThreshold", "yes");
    }
    readSettings(settingsDirectory(dir.path()), in);
    QCOMPARE(in.ae.query.settings.thresholdVolts, 1e-6); // 1 uV, the least the dialog takes
    QCOMPARE(in.ae.query.settings.hdtMicros, 800.0);
    QCOMPARE(in.ae.query.speedMps, 20000.0);
    QCOMPARE(in.ae.query.pair[0], 0);
    QCOMPARE(in.ae.query.pair[1], 1);
    QVERIFY(!in.ae.decibels);
    QCOMPARE(in.ae.marginDb, 60.0);
    QCOMPARE(in.ae.query.settings.highPassKhz, 0.0);
    QCOMPARE(in.ae.query.preampDb, 0.0);
    QVERIFY(in.ae.query.sensors.isEmpty()); // two sensors in one place: on the line
    QVERIFY(in.ae.floating); // a word: the default, floating
    // Typed by hand without quotes: the pair as a list, numbers with decimal commas; the places
    // in quotes (a semicolon would start a comment), one with decimal commas; absent switches:
    // floating and located.
    QVERIFY(testfiles::write(dir.filePath("adc.ini"),
        "[AE]\nPair=2,3\nThreshold=0,5\nPreamp=34,5\nSensors=\"0,0;0,5,0,0; 1 , 2 \"\n"));
    readSettings(settingsDirectory(dir.path()), in);
    QCOMPARE(in.ae.query.pair[0], 1);
    QCOMPARE(in.ae.query.pair[1], 2);
    QCOMPARE(in.ae.query.settings.thresholdVolts, 0.5);
    QCOMPARE(in.ae.query.preampDb, 34.5);
    QCOMPARE(in.ae.query.sensors, QList<QPointF>({ { 0, 0 }, { 0.5, 0 }, { 1, 2 } }));
    QVERIFY(in.ae.floating && in.ae.location && in.ae.plane); // places of a file without Plane
    QCOMPARE(in.ae.searched().settings.floatingDb, 16.0);
}

QTEST_MAIN(tst_Settings)
#include "test_settings.moc"
