// Files as the program reads and writes them: names that keep every byte the system gave,
// saves through a temporary file renamed over a regular target, devices, FIFOs and sockets
// written where they stand, inputs read as streams, and the temporary file that an
// interrupted program must not leave behind. Depends on QtCore and the system only.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

struct stat;

// The name that stands for the standard output when saving and the standard input when
// reading ("-", as in the command-line tools; a window's file dialog never gives it).
extern const char* const standardStreamName;

// A file name in the system's bytes: UTF-8, except that U+DC80 ... U+DCFF stand for the bytes
// 0x80 ... 0xFF that were not valid UTF-8 (as pathText makes them), so that a name written on
// another system (say in CP1251) comes back byte for byte.
QByteArray pathBytes(const QString& name);
QString pathText(const QByteArray& bytes);

// Saves a file the way records are saved. A missing or regular target (a link is followed and
// stays a link) gets a fresh temporary file beside it (never an existing file or a link), which
// is flushed to the disk and renamed over it; permissions (and, for root, the owner) are kept.
// A character device, FIFO or socket is written where it stands, "-" is the standard output.
// Results: 0; -1 (nothing written, or the in-place write failed; errno says why, EISDIR for a
// folder); -16 (an existing file cannot be replaced); -17 (the final rename failed); -18 (a
// block device, which is never written).
int saveThroughTemporary(const QString& name, const std::function<bool(int fd)>& write);

// Whether writing into a FIFO waits for a reader to open it, as command-line tools do, or fails
// at once with ENXIO when none has (the default: a window must not freeze).
void setWaitForReaders(bool wait);

// Removes the temporary file of the save under way, if any. Safe in a signal handler.
void removePendingTemporary();

// Makes name the temporary file removePendingTemporary removes, for work that builds a file
// beside its target by other means than a save (a database); and forgets it again once the
// file is renamed or removed.
void holdPendingTemporary(const QString& name);
void releasePendingTemporary();

// Writes all the bytes, as many calls as it takes; false with errno.
bool writeBytes(int fd, const char* bytes, size_t size);

// Opens a file for reading ("-": the standard input) and tells what it is. A FIFO is opened
// without waiting for a writer; one without a writer then reads as empty. -1 with errno.
int openForReading(const QString& name, struct stat& st);

// Reads a whole file or stream of at most limit bytes; false with the cause in words.
bool readWhole(const QString& name, qint64 limit, QByteArray& bytes, QString& cause);

// The cause of a failed save in words, from the writer's result (-16: the old file may not be
// replaced; -18: a block device) and errno: "no space left on the device", "permission denied",
// "read-only file system", "no such folder", "a folder, not a file", "no reader at the other
// end", "the reader closed the pipe", "the record has no samples" (ENODATA), else the system's
// text in lower case.
QString saveCause(int result, int error);

// The cause of a failed open or read in words, from errno.
QString readCause(int error);

// True when both names are the same existing file (one device and inode, whatever links or
// paths lead there).
bool sameFile(const QString& a, const QString& b);
