#pragma once

// The simulator's sockets are not opened close-on-exec; a program started from a test would
// inherit a listening socket and keep its port taken (and accept connections into a backlog
// nobody reads) while a simulated device restarts its network.

#include <QDir>
#include <QStringList>

#include <fcntl.h>

inline void keepDescriptorsFromChildren()
{
    for (const QString &entry : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System)) {
        const int fd = entry.toInt();
        const int flags = fd > 2 ? ::fcntl(fd, F_GETFD) : -1;
        if (flags >= 0)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}
