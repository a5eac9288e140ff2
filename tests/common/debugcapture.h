#pragma once

// Collects the debug output of every thread while alive; warnings and worse still reach the
// test log. Guarded by a std::mutex, which ThreadSanitizer sees (a QMutex locks inside the
// uninstrumented Qt library, and the sanitizer would report the list as raced).

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <mutex>

namespace orvo::test {

class DebugCapture
{
public:
    DebugCapture()
    {
        current() = this;
        m_previous = qInstallMessageHandler(&DebugCapture::handler);
    }
    ~DebugCapture()
    {
        qInstallMessageHandler(m_previous);
        current() = nullptr;
    }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

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
        return selected([&](const QString &l) { return l.startsWith(prefix); });
    }
    /// Messages that contain `part`.
    QStringList matching(const QString &part) const
    {
        return selected([&](const QString &l) { return l.contains(part); });
    }

private:
    template <typename Predicate>
    QStringList selected(Predicate keep) const
    {
        QStringList out;
        for (const QString &l : messages()) {
            if (keep(l))
                out << l;
        }
        return out;
    }
    static DebugCapture *&current()
    {
        static DebugCapture *p = nullptr;
        return p;
    }
    static void handler(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
    {
        DebugCapture *self = current();
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
