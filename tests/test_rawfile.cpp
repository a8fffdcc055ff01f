// Record files: byte-exact round trips, every failure code of the reader, and a writer that
// never leaves a target that is neither the old file nor the new one.
#include "file_io.h"
#include "files_list.h"
#include "support/child.h"
#include "support/files.h"
#include "support/records.h"
#include "wave_stor.h"

#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_files_list.h>
#include <QtMisc/qtm_messager.h>

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t nobody = 65534;

bool becomeNobody()
{
    return ::setgroups(0, nullptr) == 0 && ::setregid(nobody, nobody) == 0
        && ::setreuid(nobody, nobody) == 0;
}

QStringList leftovers(const QString& dir)
{
    return QDir(dir).entryList({ "*.tmp*" }, QDir::Files | QDir::Hidden | QDir::System);
}

QByteArray headerBytes(const WaveStore& record)
{
    return QByteArray(reinterpret_cast<const char*>(&record.header), sizeof record.header);
}

// A record of the shape with random samples, reserved bytes and cursors.
std::unique_ptr<WaveStore> randomRecord(int channels, int samples, quint32 seed)
{
    auto record = testrecords::make(channels, samples, seed);
    QRandomGenerator random(seed);
    auto* bytes = reinterpret_cast<quint8*>(&record->header);
    for (int offset : { 32, 35, 39, 43, 100, 255 })
        bytes[offset] = quint8(random.bounded(256));
    record->header.versionMinor = 7;
    record->header.versionMajor = 9;
    record->header.smoothMode = 2;
    record->header.firstVisible = samples / 3;
    record->header.detector = quint8(seed % 2);
    for (int i = 0; i < record->channelCount(); ++i) {
        record->channelSlots[i].header.reserved3[5] = quint8(random.bounded(256));
        record->channel(i)->cursorSample = int(random.bounded(samples + 1));
    }
    return record;
}

} // namespace

class tst_RawFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void roundTrip_data();
    void roundTrip();
    void readerFailures();
    void truncatedLastChannelKeepsTheOthers();
    void replacementRefused();
    void failureAtEveryWrite();
    void edgesOfWriting();
    void specialTargets();

private:
    QTemporaryDir dir;
    qtmisc::MessagerDaemon capture; // not initialised: its signals reach only this test
    QList<quint64> reported;
};

void tst_RawFile::initTestCase()
{
    qtmisc::filesHash = new QHash<QString, int>;
    qtmisc::filesHash->insert(QString(), 0);
    qtmisc::registerSourceFiles(filesListArray, filesListCount);
    qtmisc::mesDaemon = &capture;
    connect(&capture, &qtmisc::MessagerDaemon::sig_ShowCritical, this,
        [this](quint64 value) { reported.append(value); });
    QVERIFY(::chown(qPrintable(dir.path()), nobody, nobody) == 0 || ::geteuid() != 0);
}

void tst_RawFile::cleanupTestCase()
{
    qtmisc::mesDaemon = nullptr;
    delete qtmisc::filesHash;
    qtmisc::filesHash = nullptr;
}

void tst_RawFile::init()
{
    reported.clear();
}

void tst_RawFile::roundTrip_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("samples");
    for (int samples : { 1, 32768, 32769, 70000, 163840 })
        for (int channels = 0; channels <= 5; ++channels)
            QTest::addRow("%d x %d", channels, samples) << channels << samples;
}

void tst_RawFile::roundTrip()
{
    QFETCH(int, channels);
    QFETCH(int, samples);
    auto out = randomRecord(channels, samples, quint32(channels * 1000003 + samples));
    const QByteArray before = headerBytes(*out);
    const QString name = dir.filePath("trip.raw");
    QCOMPARE(writeRaw(*out, name), 0);
    QCOMPARE(QFileInfo(name).size(), qint64(264 + channels * (16 + samples)));

    WaveStore in(QRect(0, 0, 640, 400));
    QVERIFY(readRaw(in, name));
    QByteArray expected = before;
    expected[40] = 20; // the writer stamps the version
    expected[41] = 1;
    QCOMPARE(headerBytes(in), expected);
    for (int i = 0; i < channels; ++i) {
        const WaveChannel* a = out->channel(i);
        const WaveChannel* b = in.channel(i);
        QVERIFY(b && b->hasData);
        QCOMPARE(b->detectorOffset, in.header.detector != 0); // drawn and read from -128
        QCOMPARE(b->cursorSample, a->cursorSample);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&in.channelSlots[i].header), 16),
            QByteArray(reinterpret_cast<const char*>(&out->channelSlots[i].header), 16));
        QCOMPARE(int(in.channelSlots[i].header.cursorSample), a->cursorSample);
        for (int k = 0; k * 32768 < samples; ++k) {
            const int size = std::min(32768, samples - k * 32768);
            QVERIFY(std::memcmp(a->blocks[k], b->blocks[k], size_t(size)) == 0);
        }
    }
    QVERIFY(reported.isEmpty());
    QVERIFY(leftovers(dir.path()).isEmpty());
}

void tst_RawFile::readerFailures()
{
    QByteArray good(264, '\0');
    std::memcpy(good.data(), "KORUNRAW", 8);
    good[8] = 1; // one channel
    good[14] = 4; // of four samples
    good += QByteArray(16 + 4, '\1');
    auto with = [&good](int offset, const QByteArray& patch) {
        QByteArray bytes = good;
        bytes.replace(offset, patch.size(), patch);
        return bytes;
    };
    // "<empty>" is an empty name, "<dir>" a directory, "<none>" a missing file.
    const std::pair<QByteArray, int> cases[] = { { "<empty>", 0xA502 }, { "<none>", 0xA702 },
        { "KORUNRA", 0xA402 }, { "<dir>", 0xA602 }, { with(7, "V"), 0xAC02 },
        { good.left(8 + 255), 0xAF02 }, { with(8, QByteArray("\6", 1)), 0xAC02 },
        { with(14, QByteArray("\xff\xff\xff\xff", 4)), 0xAC02 }, // a negative count
        { with(14, QByteArray("\x01\x80\x02\x00", 4)), 0xAC02 }, // above a channel's blocks
        { good.left(264 + 10), 0xAD02 }, { good.left(good.size() - 1), 0xAD02 } };
    for (const auto& [bytes, code] : cases) {
        reported.clear();
        QString name = dir.filePath("bad.raw");
        QFile::remove(name);
        if (bytes == "<empty>")
            name.clear();
        else if (bytes == "<dir>")
            name = dir.path();
        else if (bytes != "<none>")
            QVERIFY(testfiles::write(name, bytes));
        WaveStore record(QRect(0, 0, 99, 99));
        QVERIFY(!readRaw(record, name));
        QCOMPARE(reported.size(), 1);
        QCOMPARE(int(reported[0] & 0xFFFF), code);
        QCOMPARE(int((reported[0] >> 32) & 0xFFFF), 16);
    }
}

void tst_RawFile::truncatedLastChannelKeepsTheOthers()
{
    auto out = randomRecord(3, 5000, 77);
    const QString name = dir.filePath("cut.raw");
    QCOMPARE(writeRaw(*out, name), 0);
    QVERIFY(QFile::resize(name, 264 + 2 * 5016 + 16 + 4999));
    WaveStore in(QRect(0, 0, 99, 99));
    QVERIFY(!readRaw(in, name));
    QCOMPARE(int(reported.value(0) & 0xFFFF), 0xAD02);
    QVERIFY(in.channel(0) && in.channel(1));
    QVERIFY(!in.channel(2));
    QCOMPARE(in.channel(1)->sample(4999), out->channel(1)->sample(4999));
}

// A file nobody may replace, in a folder nobody may write or read-only itself: -16, the old
// contents stay and no temporary file is left.
void tst_RawFile::replacementRefused()
{
    if (::geteuid() != 0)
        QSKIP("needs root to become another user");
    const QString locked = dir.filePath("locked");
    QVERIFY(QDir().mkpath(locked));
    for (const bool lockedFolder : { true, false }) {
        const QString name = lockedFolder ? locked + "/old.raw" : dir.filePath("readonly.raw");
        QVERIFY(testfiles::write(name, "old contents"));
        QVERIFY(::chown(qPrintable(name), nobody, nobody) == 0);
        if (lockedFolder)
            QVERIFY(::chown(qPrintable(locked), nobody, nobody) == 0
                && ::chmod(qPrintable(locked), 0555) == 0);
        else
            QVERIFY(::chmod(qPrintable(name), 0444) == 0);
        const int result = testchild::run([&name] {
            if (!becomeNobody())
                return 10;
            return writeRaw(*randomRecord(1, 50, 3), name) == -16 ? 0 : 11;
        });
        QCOMPARE(result, 0);
        QCOMPARE(testfiles::read(name), QByteArray("old contents"));
        QVERIFY(leftovers(QFileInfo(name).path()).isEmpty());
    }

    // Saving over one's own file as that user works and keeps the owner.
    const QString mine = dir.filePath("mine.raw");
    const int saved = testchild::run([&mine] {
        if (!becomeNobody())
            return 10;
        if (writeRaw(*randomRecord(2, 100, 1), mine) != 0)
            return 11;
        return writeRaw(*randomRecord(2, 300, 2), mine) == 0 ? 0 : 12;
    });
    QCOMPARE(saved, 0);
    WaveStore in(QRect(0, 0, 99, 99));
    QVERIFY(readRaw(in, mine));
    QCOMPARE(in.sampleCount(), 300);
    QFileInfo info(mine);
    QCOMPARE(info.ownerId(), nobody);
}

// The file system refuses the bytes from each point of the write in turn (the file-size
// limit): the save fails and the old file stays exactly as it was.
void tst_RawFile::failureAtEveryWrite()
{
    const QString name = dir.filePath("limited.raw");
    auto old = randomRecord(2, 40000, 5);
    QCOMPARE(writeRaw(*old, name), 0);
    const QByteArray before = testfiles::read(name);
    const qint64 full = 264 + 3 * (16 + 70000);
    for (qint64 limit : { qint64(0), qint64(1), qint64(8), qint64(200), qint64(263), qint64(264),
             qint64(270), qint64(280), qint64(281), qint64(64000 + 280), qint64(70000 + 280),
             qint64(70000 + 296), full - 1 }) {
        const int result = testchild::run([&name, limit] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit fileSize { rlim_t(limit), rlim_t(limit) };
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
            return writeRaw(*randomRecord(3, 70000, 6), name) == -1 ? 0 : 1;
        });
        QVERIFY2(result == 0, qPrintable(QString("limit %1").arg(limit)));
        QVERIFY2(testfiles::read(name) == before, qPrintable(QString("limit %1").arg(limit)));
        QVERIFY(leftovers(dir.path()).isEmpty());
    }
}

// A folder under the name is refused before anything is written; a link stays a link to the
// file it points at, with that file written; a link a stranger left under the temporary name is
// never written through; the file's permissions stay.
void tst_RawFile::edgesOfWriting()
{
    const QString folder = dir.filePath("adir.raw");
    QVERIFY(QDir().mkpath(folder));
    errno = 0;
    QCOMPARE(writeRaw(*randomRecord(1, 10, 1), folder), -1);
    QCOMPARE(errno, EISDIR);
    QVERIFY(QFileInfo(folder).isDir());
    QVERIFY(leftovers(dir.path()).isEmpty());

    const QString real = dir.filePath("real.raw");
    const QString link = dir.filePath("link.raw");
    QVERIFY(testfiles::write(real, "old"));
    QVERIFY(::chmod(qPrintable(real), 0640) == 0);
    QVERIFY(QFile::link(real, link));
    QCOMPARE(writeRaw(*randomRecord(1, 10, 1), link), 0);
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(real).size(), qint64(264 + 16 + 10));
    struct stat st;
    QCOMPARE(::stat(qPrintable(real), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0640);

    const QString name = dir.filePath("busy.raw");
    const QString victim = dir.filePath("victim");
    QVERIFY(testfiles::write(victim, "precious"));
    QVERIFY(QFile::link(victim, name + ".tmp"));
    QCOMPARE(writeRaw(*randomRecord(1, 10, 1), name), 0);
    QCOMPARE(testfiles::read(victim), QByteArray("precious"));
    QVERIFY(QFileInfo(name + ".tmp").isSymLink());
    QCOMPARE(QFileInfo(name).size(), qint64(264 + 16 + 10));
    QFile::remove(name + ".tmp");

    // A record without samples, or without a name, is not written; a file of no channels reads.
    QCOMPARE(writeRaw(*testrecords::make(4, 0), dir.filePath("empty.raw")), -1);
    QCOMPARE(writeRaw(*testrecords::make(1, 5), QString()), -1);
    QVERIFY(!QFile::exists(dir.filePath("empty.raw")));

    QByteArray bytes(264, '\0');
    std::memcpy(bytes.data(), "KORUNRAW", 8);
    bytes[14] = 100; // samples per channel, but no channel
    QVERIFY(testfiles::write(dir.filePath("none.raw"), bytes));
    WaveStore record(QRect(0, 0, 99, 99));
    QVERIFY(readRaw(record, dir.filePath("none.raw")));
    QCOMPARE(record.channelCount(), 0);
    QVERIFY(reported.isEmpty());
}

// A FIFO (also through a link), a socket and a character device are written where they stand
// and stay what they are; a FIFO nobody reads fails at once; a block device is never written;
// the temporary file of a save is gone once removePendingTemporary is called during it.
void tst_RawFile::specialTargets()
{
    const auto drained = [](int fd) {
        QByteArray bytes(1000, 0);
        const ssize_t n = ::read(fd, bytes.data(), 1000);
        ::close(fd);
        return bytes.left(n < 0 ? 0 : int(n));
    };
    const QString fifo = dir.filePath("fifo");
    const QString link = dir.filePath("fifo-link.raw");
    QCOMPARE(::mkfifo(qPrintable(fifo), 0600), 0);
    QVERIFY(QFile::link(fifo, link));
    errno = 0;
    QCOMPARE(writeRaw(*randomRecord(1, 10, 1), fifo), -1);
    QCOMPARE(errno, ENXIO);
    for (const QString& name : { fifo, link }) {
        const int reader = ::open(qPrintable(fifo), O_RDONLY | O_NONBLOCK);
        QCOMPARE(writeRaw(*randomRecord(2, 10, 1), name), 0);
        QCOMPARE(drained(reader).size(), 264 + 2 * (16 + 10));
    }
    // A reader that goes away fails the write; the program lives on, whatever SIGPIPE does.
    QCOMPARE(testchild::run([&fifo] {
        sigset_t brokenPipe;
        sigemptyset(&brokenPipe);
        sigaddset(&brokenPipe, SIGPIPE);
        sigprocmask(SIG_UNBLOCK, &brokenPipe, nullptr);
        std::signal(SIGPIPE, SIG_DFL);
        const int leaving = ::open(qPrintable(fifo), O_RDONLY | O_NONBLOCK);
        const int result = saveThroughTemporary(
            fifo, [leaving](int fd) { return ::close(leaving) == 0 && ::write(fd, "x", 1) == 1; });
        return result == -1 && errno == EPIPE ? 0 : 1;
    }),
        0);
    const QString socketName = dir.filePath("sock");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, qPrintable(socketName));
    QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    QCOMPARE(::listen(listener, 1), 0);
    QCOMPARE(writeRaw(*randomRecord(1, 20, 1), socketName), 0);
    QCOMPARE(drained(::accept(listener, nullptr, nullptr)).left(8), QByteArray("KORUNRAW"));
    ::close(listener);
    struct stat st;
    QVERIFY(::stat(qPrintable(fifo), &st) == 0 && S_ISFIFO(st.st_mode));
    QVERIFY(::stat(qPrintable(socketName), &st) == 0 && S_ISSOCK(st.st_mode));
    if (::geteuid() == 0) {
        const QString null = dir.filePath("null");
        const QString block = dir.filePath("loop");
        QCOMPARE(::mknod(qPrintable(null), S_IFCHR | 0666, makedev(1, 3)), 0);
        QCOMPARE(::mknod(qPrintable(block), S_IFBLK | 0600, makedev(7, 200)), 0);
        QCOMPARE(writeRaw(*randomRecord(1, 10, 1), null), 0);
        QCOMPARE(writeRaw(*randomRecord(1, 10, 1), block), -18);
        QVERIFY(::stat(qPrintable(null), &st) == 0 && S_ISCHR(st.st_mode));
        QVERIFY(::stat(qPrintable(block), &st) == 0 && S_ISBLK(st.st_mode));
    }
    QVERIFY(leftovers(dir.path()).isEmpty());

    QStringList before;
    QStringList after;
    QCOMPARE(saveThroughTemporary(dir.filePath("cut.csv"),
                 [&](int) {
                     before = leftovers(dir.path());
                     removePendingTemporary();
                     after = leftovers(dir.path());
                     return true;
                 }),
        -17);
    QCOMPARE(before, QStringList { "cut.csv.tmp" });
    QCOMPARE(after, QStringList());
}

QTEST_MAIN(tst_RawFile)
#include "test_rawfile.moc"
