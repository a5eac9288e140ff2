#pragma once

// Orderings that ThreadSanitizer cannot see by itself. QMutex and QThread do their
// synchronisation inside the Qt library, which a sanitizer build does not instrument; these
// annotations state the ordering those primitives give, and compile to nothing otherwise.

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#define ORVO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORVO_TSAN 1
#endif
#endif
#ifdef ORVO_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace orvo {

/// Everything this thread did so far happens before what follows a matching tsanAcquire.
inline void tsanRelease(const void *token)
{
#ifdef ORVO_TSAN
    __tsan_release(const_cast<void *>(token));
#else
    (void)token;
#endif
}

/// Pairs with tsanRelease on the same token.
inline void tsanAcquire(const void *token)
{
#ifdef ORVO_TSAN
    __tsan_acquire(const_cast<void *>(token));
#else
    (void)token;
#endif
}

/// Holds a QMutex for a few statements, annotated as a lock for the sanitizer.
class AnnotatedLock
{
public:
    explicit AnnotatedLock(QMutex &mutex) : m_mutex(mutex)
    {
        m_mutex.lock();
        tsanAcquire(&m_mutex);
    }
    ~AnnotatedLock()
    {
        tsanRelease(&m_mutex);
        m_mutex.unlock();
    }
    AnnotatedLock(const AnnotatedLock &) = delete;
    AnnotatedLock &operator=(const AnnotatedLock &) = delete;

private:
    QMutex &m_mutex;
};

} // namespace orvo
