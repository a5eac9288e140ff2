#pragma once

// Collects the debug output of every thread while alive; warnings and worse still reach the
// test log. Guarded by a std::mutex, which ThreadSanitizer sees (a QMutex locks inside the
// uninstrumented Qt library, and the sanitizer would report the list as raced).

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

namespace orvo::test {

class DebugLines
{
public:
    DebugLines()
    {
        current() = this;
        m_previous = qInstallMessageHandler(&DebugLines::handler);
    }
    ~DebugLines()
    {
        qInstallMessageHandler(m_previous);
        current() = nullptr;
    }
    DebugLines(const DebugLines &) = delete;
    DebugLines &operator=(const DebugLines &) = delete;

    QStringList messages() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }
    /// Messages that start with `prefix`.
    QStringList starting(const QString &prefix) const
    {
        QStringList out;
        for (const QString &l : messages()) {
            if (l.startsWith(prefix))
                out << l;
        }
        return out;
    }

private:
    static DebugLines *&current()
    {
        static DebugLines *p = nullptr;
        return p;
    }
    static void handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
    {
        DebugLines *self = current();
        if (!self)
            return;
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_lines << msg;
        }
        if (type != QtDebugMsg && type != QtInfoMsg && self->m_previous)
            self->m_previous(type, ctx, msg);
    }

    mutable std::mutex m_mutex;
    QStringList m_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace orvo::test
