#pragma once

// For tests that start programs while an in-process device simulator runs.

#include <QDir>
#include <QStringList>

#include <fcntl.h>

namespace orvo::testing {

/// Marks every open descriptor above 2 close-on-exec. The simulator's sockets are not; a program
/// started from the test would inherit a listening socket and keep its port taken while a
/// simulated device restarts its network.
inline void keepDescriptorsFromChildren()
{
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString &entry : fds) {
        bool ok = false;
        const int fd = entry.toInt(&ok);
        const int flags = ok && fd > 2 ? ::fcntl(fd, F_GETFD) : -1;
        if (flags >= 0)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

} // namespace orvo::testing
