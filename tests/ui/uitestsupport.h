#pragma once

// Shared by the window tests and the window's benchmark: a throw-away home for the data,
// settings and temporary folders, answering the modal boxes and dialogs that the window opens,
// and a driver that runs the window's jobs as a user would.

#include "mainwindow.h"
#include "startup.h"
#include "worker.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QInputDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVector>

#include <functional>
#include <memory>

namespace orvo::test {

/// Points HOME, the XDG folders and TMPDIR into a temporary folder for the whole test run,
/// before the application object exists, so no test touches the real profile or lock file.
class ThrowAwayHome
{
public:
    ThrowAwayHome()
    {
        const QString root = m_dir.path();
        for (const char *sub : { "data", "config", "cache", "tmp", "runtime" })
            QDir(root).mkpath(QLatin1String(sub));
        QFile::setPermissions(root + QStringLiteral("/runtime"),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("HOME", root.toUtf8());
        qputenv("XDG_DATA_HOME", (root + QStringLiteral("/data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_CACHE_HOME", (root + QStringLiteral("/cache")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toUtf8());
        qputenv("TMPDIR", (root + QStringLiteral("/tmp")).toUtf8());
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

/// Runs `answer` on the next modal widget that becomes active, from the event loop of whatever
/// exec() opened it. Gives up after five seconds.
inline void onNextModal(std::function<void(QWidget *)> answer)
{
    auto *timer = new QTimer(qApp);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, answer] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            timer->deleteLater();
            timer->stop();
            answer(modal);
        } else if (++*tries > 500) {
            timer->deleteLater();
            timer->stop();
        }
    });
    timer->start(10);
}

/// Answers the next input dialog with `text` (accepted) or cancels it (`accept` false). `then`
/// runs right after the answer, still inside the handler that opened the dialog: the place to
/// prepare the answer to a box that follows.
inline void answerInputDialog(const QString &text, bool accept = true, std::function<void()> then = {})
{
    onNextModal([=](QWidget *w) {
        auto *dialog = qobject_cast<QInputDialog *>(w);
        if (!dialog)
            return;
        dialog->setTextValue(text);
        accept ? dialog->accept() : dialog->reject();
        if (then)
            then();
    });
}

/// A message box as it was answered.
struct SeenBox
{
    int icon = -1;
    QString title;
    QString text;
};

/// Presses `buttons` in the next message boxes, one box each, in order; `seen` receives every
/// box answered.
inline void answerMessageBoxes(QList<QMessageBox::StandardButton> buttons, QVector<SeenBox> *seen)
{
    if (buttons.isEmpty())
        return;
    onNextModal([=](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box)
            return;
        seen->append({ box->icon(), box->windowTitle(), box->text() });
        answerMessageBoxes(buttons.mid(1), seen); // starts polling after this box has closed
        if (QAbstractButton *b = box->button(buttons.first()))
            b->click();
    });
}

/// While alive, answers every modal widget that opens and keeps what it was: a message box is
/// answered Yes, else OK, and its text kept; any other dialog is rejected and its class name
/// kept. For runs that answer every question, and for steps that must not ask anything, without
/// hanging when they do.
class BoxAnswerer
{
public:
    BoxAnswerer()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                QAbstractButton *b = box->button(QMessageBox::Yes);
                if (!b)
                    b = box->button(QMessageBox::Ok);
                if (!b)
                    return;
                seen << box->text();
                b->click();
            } else {
                seen << QString::fromLatin1(modal->metaObject()->className());
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->reject();
                else
                    modal->close();
            }
        });
        m_timer.start(10);
    }
    QStringList seen;

private:
    QTimer m_timer;
};

/// Counts the paint events of one widget: each is a repaint of the widget (and, behind a
/// graphics effect of its window, of whatever that effect covers).
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

/// A widget of the window by its object name; the test cannot go on without it.
template <typename T = QWidget>
T *child(QWidget &window, const char *name)
{
    T *c = window.findChild<T *>(QLatin1String(name));
    if (!c)
        qFatal("no widget %s", name);
    return c;
}

/// A toolbar action by its text; the test cannot go on without it.
inline QAction *action(QWidget &window, const QString &text)
{
    if (auto *bar = window.findChild<QToolBar *>()) {
        for (QAction *a : bar->actions()) {
            if (a->text() == text)
                return a;
        }
    }
    qFatal("no action %s", qPrintable(text));
}

/// Whether the window's controls can be used, one digit each, in this order: Scan Network,
/// Set IP, Rename, Identify, Auto Update, Advanced, Advanced checked, the products group, the
/// device list, the Advanced Options group, About.
inline QString controls(QWidget &window)
{
    QString out;
    const auto digit = [&out](bool on) { out += QLatin1Char(on ? '1' : '0'); };
    for (const char *a : { "Scan Network", "Set IP", "Rename", "Identify", "Auto Update", "Advanced" })
        digit(action(window, QLatin1String(a))->isEnabled());
    digit(action(window, QStringLiteral("Advanced"))->isChecked());
    for (const char *c : { "groupBox_Products", "comboBox_FoundDevices", "groupBox_AdvOpt" })
        digit(child(window, c)->isEnabled());
    digit(action(window, QStringLiteral("About"))->isEnabled());
    return out;
}

/// The window's log file in the (throw-away) data folder.
inline QString logPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/log.txt");
}

/// The window as a user drives it: toolbar actions by their texts, the form's widgets by their
/// object names, and the end of each job (the job's end, then the end of its thread).
class WindowDriver
{
public:
    explicit WindowDriver(ui::MainWindow &window) : m_window(window), m_worker(*window.worker())
    {
        QObject::connect(&m_worker, &Worker::frW_jobEnded, &m_window, [this](const JobOutcome &outcome) {
            m_last = outcome;
            ++m_ended;
        });
    }

    Worker &worker() { return m_worker; }
    QAction *action(const QString &text) const { return test::action(m_window, text); }
    template <typename T = QWidget>
    T *child(const char *name) const
    {
        return test::child<T>(m_window, name);
    }

    /// True once no job runs, its thread has ended and the rows it sent are listed.
    bool idle(int timeoutMs = 30000)
    {
        const bool ended
            = QTest::qWaitFor([this] { return !m_worker.isWorking() && !m_worker.thread()->isRunning(); }, timeoutMs);
        QCoreApplication::processEvents();
        return ended;
    }

    /// Starts a job with `start` and waits for its end and its thread; false when it did not end
    /// within `timeoutMs` (a modal box still open then is closed, so that nothing waits on it).
    bool runJob(const std::function<void()> &start, int timeoutMs = 30000)
    {
        const int before = m_ended;
        start();
        if (QTest::qWaitFor([&] { return m_ended > before; }, timeoutMs))
            return idle(timeoutMs);
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
        return false;
    }

    /// A scan of the manual addresses (at most four) at `port`; true when each one's device is listed.
    bool scan(const QStringList &addresses, std::uint16_t port, int timeoutMs = 30000)
    {
        m_worker.setDevicePort(port);
        // As the manual IP dialog hands its entries over when it closes.
        const QString unused = kUnusedAddress;
        QMetaObject::invokeMethod(&m_window, "SetManIP_DialogClosed", Q_ARG(bool, true),
            Q_ARG(QString, addresses.value(0, unused)), Q_ARG(QString, addresses.value(1, unused)),
            Q_ARG(QString, addresses.value(2, unused)), Q_ARG(QString, addresses.value(3, unused)));
        return runJob([this] { action(QStringLiteral("Scan Network"))->trigger(); }, timeoutMs)
            && child<QComboBox>("comboBox_FoundDevices")->count() == addresses.size();
    }

    QStringList listTexts() const
    {
        QStringList out;
        auto *list = child<QListWidget>("Log_listWidget");
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    QStringList comboTexts(const char *name) const
    {
        QStringList out;
        auto *combo = child<QComboBox>(name);
        for (int i = 0; i < combo->count(); ++i)
            out << combo->itemText(i);
        return out;
    }
    const JobOutcome &lastOutcome() const { return m_last; }

private:
    ui::MainWindow &m_window;
    Worker &m_worker;
    JobOutcome m_last;
    int m_ended = 0;
};

} // namespace orvo::test

/// main() of a window test: the throw-away home first, then the application (offscreen unless
/// told otherwise) with the program's resources.
#define ORVO_UI_TEST_MAIN(TestClass)                                                                                   \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        orvo::test::ThrowAwayHome home;                                                                                \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                                            \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                                                   \
        QApplication app(argc, argv);                                                                                  \
        orvo::ui::initResources();                                                                                     \
        TestClass test;                                                                                                \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
