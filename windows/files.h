#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <stdexcept>
#include <string>

// Text files the program reads and writes itself ("settings.ini", "log.ini", the export file):
// plain POSIX calls, so a failure carries the system's error number, which maps to the standard
// file error texts.
class TFileError : public std::runtime_error
{
public:
    explicit TFileError(int errorNumber);
    int ErrorNumber() const { return m_errno; }
    // "File not found", "File access denied", "Disk full", "Too many open files" or
    // "I/O error %d" with the system error number.
    static QString TextFor(int errorNumber);

private:
    int m_errno;
};

namespace files {
// The whole file; throws TFileError.
QByteArray readAll(const QString &path);
// Replaces the file whole: written beside it, flushed, then renamed over it, so a failed write
// never destroys the previous file. The new file is readable by its owner only when ownerOnly.
// Throws TFileError.
void replaceAtomically(const QString &path, const QByteArray &content, bool ownerOnly);
// Its two steps, for a caller that writes in the background: the new file beside the old one,
// flushed (its name returned); then renamed over it (a failure removes it). Throw TFileError.
std::string writeBeside(const QString &path, const QByteArray &content, bool ownerOnly);
void putInPlace(const std::string &temporary, const QString &path);
} // namespace files

// A file written line by line, each line ended by CR LF and handed to the system as it is written,
// so that every entry is on disk (as far as the system goes) when the call returns.
class TLineFile
{
public:
    TLineFile() = default;
    ~TLineFile() { close(); }
    TLineFile(const TLineFile &) = delete;
    TLineFile &operator=(const TLineFile &) = delete;

    // Creates the file, or empties it. Throws TFileError.
    void create(const QString &path);
    // Throws TFileError; a file that is not open throws "I/O error" for EBADF.
    void writeLine(const QString &line);
    void close();
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// A file written piece by piece beside its target and put in its place only when it is whole:
// until commit the target is untouched, and abandon (or the destructor) leaves no part behind.
class TPartFile
{
public:
    TPartFile() = default;
    ~TPartFile() { abandon(); }
    TPartFile(const TPartFile &) = delete;
    TPartFile &operator=(const TPartFile &) = delete;

    // Throws TFileError.
    void create(const QString &target);
    void write(const char *data, std::size_t size);
    // Flushed, then renamed over the target. Throws TFileError (and removes the part).
    void commit();
    void abandon();
    bool isOpen() const { return m_fd >= 0; }
    // The part's path while it is being written.
    QString partPath() const;

private:
    int m_fd = -1;
    std::string m_part;
    std::string m_target;
};
