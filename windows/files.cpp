#include "files.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string nativePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

void writeWhole(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw TFileError(errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}
} // namespace

TFileError::TFileError(int errorNumber)
    : std::runtime_error(TextFor(errorNumber).toStdString()), m_errno(errorNumber)
{
}

QString TFileError::TextFor(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("File not found");
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Disk full");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Too many open files");
    default:
        return QStringLiteral("I/O error %1").arg(errorNumber);
    }
}

namespace files {
QByteArray readAll(const QString &path)
{
    const int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw TFileError(errno);
    QByteArray content;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw TFileError(error);
        }
        if (n == 0) break;
        content.append(chunk, n);
    }
    ::close(fd);
    return content;
}

std::string writeBeside(const QString &path, const QByteArray &content, bool ownerOnly)
{
    const QFileInfo info(path);
    std::string temporary = nativePath(info.absolutePath() + QLatin1Char('/') + QLatin1Char('.') +
                                       info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw TFileError(errno);
    try {
        // mkostemp makes the file 0600; a file others may read gets the usual mode.
        if (!ownerOnly) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            ::fchmod(fd, 0666 & ~mask);
        }
        writeWhole(fd, content.constData(), static_cast<std::size_t>(content.size()));
        if (::fsync(fd) != 0) throw TFileError(errno);
        if (::close(fd) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            throw TFileError(error);
        }
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    return temporary;
}

void putInPlace(const std::string &temporary, const QString &path)
{
    const std::string target = nativePath(QFileInfo(path).absoluteFilePath());
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw TFileError(error);
    }
}

void replaceAtomically(const QString &path, const QByteArray &content, bool ownerOnly)
{
    putInPlace(writeBeside(path, content, ownerOnly), path);
}
} // namespace files

void TLineFile::create(const QString &path)
{
    close();
    m_fd = ::open(nativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) throw TFileError(errno);
}

void TLineFile::writeLine(const QString &line)
{
    if (m_fd < 0) throw TFileError(EBADF);
    const QByteArray bytes = line.toUtf8() + "\r\n";
    writeWhole(m_fd, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void TLineFile::close()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

void TPartFile::create(const QString &target)
{
    abandon();
    const QFileInfo info(target);
    m_target = nativePath(info.absoluteFilePath());
    m_part = nativePath(info.absolutePath() + QLatin1Char('/') + QLatin1Char('.') +
                        info.fileName() + QStringLiteral(".part-XXXXXX"));
    m_fd = ::mkostemp(m_part.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_part.clear();
        throw TFileError(errno);
    }
    // mkostemp makes the file 0600; an export gets the usual mode.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(m_fd, 0666 & ~mask);
}

void TPartFile::write(const char *data, std::size_t size)
{
    if (m_fd < 0) throw TFileError(EBADF);
    writeWhole(m_fd, data, size);
}

void TPartFile::commit()
{
    if (m_fd < 0) throw TFileError(EBADF);
    int error = ::fsync(m_fd) != 0 ? errno : 0;
    if (::close(m_fd) != 0 && error == 0) error = errno;
    m_fd = -1;
    if (error == 0 && ::rename(m_part.c_str(), m_target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(m_part.c_str());
        m_part.clear();
        throw TFileError(error);
    }
    m_part.clear();
}

void TPartFile::abandon()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_part.empty()) ::unlink(m_part.c_str());
    m_part.clear();
}

QString TPartFile::partPath() const
{
    return QFile::decodeName(QByteArray::fromStdString(m_part));
}
