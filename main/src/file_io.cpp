#include "file_io.h"

#include <QStringView>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

const char* const standardStreamName = "-";

QByteArray pathBytes(const QString& name)
{
    QByteArray bytes;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        const bool end = i == name.size();
        const char16_t u = end ? 0 : name[i].unicode();
        const bool escaped
            = !end && u >= 0xDC80 && u <= 0xDCFF && (i == 0 || !name[i - 1].isHighSurrogate());
        if (end || escaped) {
            bytes += QStringView(name).mid(start, i - start).toUtf8();
            if (escaped)
                bytes += char(u - 0xDC00);
            start = i + 1;
        }
    }
    return bytes;
}

QString pathText(const QByteArray& bytes)
{
    const QString whole = QString::fromUtf8(bytes);
    if (whole.toUtf8() == bytes)
        return whole;
    QString text;
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar lead = uchar(bytes[i]);
        const int length = lead < 0x80    ? 1
            : lead >= 0xC2 && lead < 0xE0 ? 2
            : lead >= 0xE0 && lead < 0xF0 ? 3
            : lead >= 0xF0 && lead < 0xF5 ? 4
                                          : 0;
        const QByteArray piece = bytes.mid(i, length);
        const QString decoded = QString::fromUtf8(piece);
        // A sequence is taken as text only when it encodes back to itself (no replacement).
        if (length > 0 && piece.size() == length && decoded.toUtf8() == piece) {
            text += decoded;
            i += length;
        } else {
            text += QChar(char16_t(0xDC00 + lead));
            ++i;
        }
    }
    return text;
}

namespace {

// The temporary file being written, for removePendingTemporary in a signal handler: the path
// is complete before the flag is raised, and the flag is lowered once the file is gone.
char pendingPath[PATH_MAX + 16];
volatile sig_atomic_t pendingSet = 0;
bool waitForReaders = false;

// The signals that end a program are held while the temporary file is made and recorded.
class EndingSignalsHeld
{
public:
    EndingSignalsHeld()
    {
        sigset_t ending;
        sigemptyset(&ending);
        for (const int signal : { SIGINT, SIGTERM, SIGHUP })
            sigaddset(&ending, signal);
        pthread_sigmask(SIG_BLOCK, &ending, &previous);
    }
    ~EndingSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

private:
    sigset_t previous;
};

void setPending(const QByteArray& path)
{
    if (size_t(path.size()) < sizeof pendingPath) {
        std::memcpy(pendingPath, path.constData(), size_t(path.size()) + 1);
        pendingSet = 1;
    }
}

// The file a save replaces: a symbolic link is followed, so that the link stays a link.
QByteArray finalPath(const QByteArray& path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.constData(), resolved))
        return QByteArray(resolved);
    // A link to a file still to be made: its target, beside the link when relative.
    const ssize_t n = ::readlink(path.constData(), resolved, sizeof resolved);
    if (n <= 0 || size_t(n) >= sizeof resolved)
        return path;
    const QByteArray target(resolved, int(n));
    const qsizetype slash = path.lastIndexOf('/');
    return target.startsWith('/') || slash < 0 ? target : path.left(slash + 1) + target;
}

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// Creates the temporary file beside the target without ever opening an existing file or
// following a link: name.tmp, or a fresh unique name when that is taken.
int createTemporary(const QByteArray& target, mode_t mode, QByteArray& tmpPath)
{
    EndingSignalsHeld held;
    tmpPath = target + ".tmp";
    int fd
        = ::open(tmpPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        tmpPath = target + ".tmpXXXXXX";
        fd = ::mkostemp(tmpPath.data(), O_CLOEXEC);
    }
    if (fd >= 0 && ::fchmod(fd, mode) != 0) {
        ::close(fd);
        ::unlink(tmpPath.constData());
        return -1;
    }
    if (fd >= 0)
        setPending(tmpPath);
    return fd;
}

void removeTemporary(const QByteArray& tmpPath)
{
    const int error = errno;
    ::unlink(tmpPath.constData());
    pendingSet = 0;
    errno = error;
}

// A device or FIFO opened for writing, or a socket connected; -1 with errno.
int openInPlace(const QByteArray& path, const struct stat& st)
{
    if (S_ISSOCK(st.st_mode)) {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (size_t(path.size()) >= sizeof address.sun_path) {
            errno = ENAMETOOLONG;
            return -1;
        }
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        return fd;
    }
    const bool hurried = S_ISFIFO(st.st_mode) && !waitForReaders;
    const int fd
        = ::open(path.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (hurried ? O_NONBLOCK : 0));
    // Once a reader is there, writes wait for it as usual.
    if (fd >= 0 && hurried)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Writes into a device, FIFO or socket where it stands, or the standard output. A reader that
// goes away fails this write (EPIPE); it never ends the program.
int writeInPlace(
    const QByteArray& path, const struct stat* st, const std::function<bool(int)>& write)
{
    const int fd = st ? openInPlace(path, *st) : ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sigset_t brokenPipe;
    sigset_t previous;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, &previous);
    const bool written = write(fd);
    const int error = errno;
    if (!written && error == EPIPE) {
        // The signal the failed write raised is taken here instead of on unblocking.
        const timespec now {};
        sigtimedwait(&brokenPipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(fd);
    errno = error;
    return written ? 0 : -1;
}

} // namespace

void setWaitForReaders(bool wait)
{
    waitForReaders = wait;
}

void removePendingTemporary()
{
    if (pendingSet)
        ::unlink(pendingPath);
}

void holdPendingTemporary(const QString& name)
{
    EndingSignalsHeld held;
    setPending(pathBytes(name));
}

void releasePendingTemporary()
{
    pendingSet = 0;
}

int saveThroughTemporary(const QString& name, const std::function<bool(int fd)>& write)
{
    if (name.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    if (name == QLatin1String(standardStreamName))
        return writeInPlace(QByteArray(), nullptr, write);
    const QByteArray target = finalPath(pathBytes(name));
    struct stat old;
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) {
        errno = EISDIR;
        return -1;
    }
    if (exists && S_ISBLK(old.st_mode))
        return -18;
    if (exists && !S_ISREG(old.st_mode))
        return writeInPlace(target, &old, write);
    // The old file is replaced by a rename in its folder: both must be writable.
    if (exists
        && (::access(target.constData(), W_OK) != 0
            || ::access(folderOf(target).constData(), W_OK | X_OK) != 0)) {
        errno = EACCES;
        return -16;
    }
    const mode_t umaskNow = ::umask(0);
    ::umask(umaskNow);
    const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~umaskNow);

    QByteArray tmpPath;
    const int fd = createTemporary(target, mode, tmpPath);
    if (fd < 0)
        return -1;
    if (exists && ::geteuid() == 0) {
        // Root saving over somebody's file hands the new file back to its owner.
        [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
    }
    const bool written = write(fd) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        errno = written ? errno : writeError;
        removeTemporary(tmpPath);
        return -1;
    }
    if (::rename(tmpPath.constData(), target.constData()) != 0) {
        removeTemporary(tmpPath);
        return -17;
    }
    pendingSet = 0;
    return 0;
}

bool writeBytes(int fd, const char* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    // The disk starts on what is written while the next piece is made, so that the final
    // flush has less to wait for (a hint: where it is not supported nothing changes).
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return true;
}

int openForReading(const QString& name, struct stat& st)
{
    const int fd = name == QLatin1String(standardStreamName)
        ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
        : ::open(pathBytes(name).constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool readWhole(const QString& name, qint64 limit, QByteArray& bytes, QString& cause)
{
    struct stat st;
    const int fd = openForReading(name, st);
    if (fd < 0 || S_ISDIR(st.st_mode)) {
        cause = fd < 0 ? readCause(errno) : readCause(EISDIR);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    bytes.clear();
    if (S_ISREG(st.st_mode))
        bytes.reserve(qsizetype(std::min<qint64>(st.st_size, limit + 1)));
    char piece[65536];
    ssize_t n = 0;
    while (bytes.size() <= limit && (n = ::read(fd, piece, sizeof piece)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        bytes.append(piece, qsizetype(n));
    }
    const int error = errno;
    ::close(fd);
    if (n < 0) {
        cause = readCause(error);
        return false;
    }
    if (bytes.size() > limit) {
        cause = QStringLiteral("more than %1 bytes: larger than any record").arg(limit);
        return false;
    }
    return true;
}

namespace {

// The system's description of an error in English and lower case, whatever the locale.
QString systemText(int error)
{
    const char* text = strerrordesc_np(error);
    return text ? QString::fromLatin1(text).toLower() : QStringLiteral("error %1").arg(error);
}

} // namespace

QString saveCause(int result, int error)
{
    if (result == -16)
        return QStringLiteral("permission denied");
    if (result == -18)
        return QStringLiteral("a block device, not a file");
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("no space left on the device");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case EROFS:
        return QStringLiteral("read-only file system");
    case ENOENT:
        return QStringLiteral("no such folder");
    case EISDIR:
        return QStringLiteral("a folder, not a file");
    case ENXIO:
        return QStringLiteral("no reader at the other end");
    case EPIPE:
        return QStringLiteral("the reader closed the pipe");
    case ENODATA:
        return QStringLiteral("the record has no samples");
    default:
        return systemText(error);
    }
}

QString readCause(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case EISDIR:
        return QStringLiteral("a folder, not a file");
    default:
        return systemText(error);
    }
}

bool sameFile(const QString& a, const QString& b)
{
    if (a == QLatin1String(standardStreamName) || b == QLatin1String(standardStreamName))
        return false;
    struct stat first;
    struct stat second;
    return ::stat(pathBytes(a).constData(), &first) == 0
        && ::stat(pathBytes(b).constData(), &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}
