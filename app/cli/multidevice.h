#pragma once

// versions and auto-update on several devices at once. Each device gets a WorkerHost of its own
// (worker, thread and connections) and runs exactly the job of the single-device command; the
// devices wait for nothing but a free place among the `--parallel` ones. The question of the auto
// update is asked once for the whole set, before any device is touched.

#include "clifrontend.h"
#include "clioptions.h"

#include <QJsonObject>
#include <QObject>
#include <QStringList>

#include <memory>
#include <vector>

class QEventLoop;
class QTimer;

namespace orvo {
class Clock;
}

namespace orvo::cli {

/// The worst of several exit statuses, in the order 0, 5, 3, 1, 4 (best to worst): a board left
/// half-updated outweighs a device that could not be asked, which outweighs a skipped one.
int worstStatus(int a, int b);

class MultiDeviceRun : public QObject
{
public:
    /// `main` writes the lines that belong to no device (the question, the summary);
    /// `firmwareFolder` ends with a slash.
    MultiDeviceRun(const Options &options, Clock &clock, ConsoleFrontEnd &main, const QString &firmwareFolder,
        QObject *parent = nullptr);
    ~MultiDeviceRun() override;

    /// Runs the command on `addresses`; puts one section per device and a summary into
    /// `report`; returns the worst of the devices' statuses.
    int run(const QStringList &addresses, QJsonObject &report);

    /// Ctrl-C: every running device stops at its next step; waiting devices do not start.
    void interrupt();

private:
    struct Device;

    /// Runs `mode` on every device, at most `--parallel` at once, until each has ended.
    void runPhase(JobMode mode, Answer answer, const QString &answeredBy, bool quiet);
    void startMore();
    void start(Device &d);
    void lookedUp(Device &d);
    void finished(Device &d);
    /// Asks once whether the devices' out-of-date boards may be updated; false: No.
    bool askOnce();
    int summarise(QJsonObject &report);
    QString progressRow(const Device &d) const;

    // The terminal: the devices' lines scroll above one progress line per running device.
    void printLine(const QString &line);
    void clearRows();
    void drawRows();

    Options m_options;
    Clock &m_clock;
    ConsoleFrontEnd &m_main;
    QString m_firmwareFolder;
    QStringList m_addresses;
    std::vector<std::unique_ptr<Device>> m_devices;
    JobMode m_mode = JobMode::GetVersions;
    int m_parallel = 1;
    int m_running = 0;
    bool m_interrupted = false;
    QEventLoop *m_loop = nullptr;
    bool m_terminal = false;
    int m_columns = 80;
    int m_rowsDrawn = 0;
    bool m_dirty = false;
    QTimer *m_redraw = nullptr;
};

} // namespace orvo::cli
