#include "line/durable_file.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString Errno() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool WriteAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    std::size_t left = static_cast<std::size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

QString WriteFileDurably(const QString& path, const QByteArray& bytes) {
    const QByteArray name = QFile::encodeName(path);
    const QByteArray part = name + ".part";
    const int fd = open(part.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return Errno();
    QString error;
    if (!WriteAll(fd, bytes) || fsync(fd) != 0)
        error = Errno();
    close(fd);
    if (error.isEmpty() && rename(part.constData(), name.constData()) != 0)
        error = Errno();
    if (!error.isEmpty()) {
        unlink(part.constData());
        return error;
    }
    // The new name is in the folder's entries: those reach the disk with the folder.
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dir = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return Errno();
    if (fsync(dir) != 0)
        error = Errno();
    close(dir);
    return error;
}
