#pragma once

// Runs one command of orvo-updater-cli: looks the device up, fills the worker's fields as the
// window's handlers do, requests the job through WorkerHost, follows it to its end, and turns
// what happened into the exit status and the JSON report.

#include "clifrontend.h"
#include "clioptions.h"
#include "clireport.h"

#include <QJsonObject>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace orvo {
class Clock;
class WorkerHost;
class Worker;
} // namespace orvo

namespace orvo::cli {

/// Sets up SIGINT and SIGTERM to write to a self-pipe (and SIGPIPE to be ignored, so that a
/// closed output cannot kill an update half-way); returns the pipe's read end, or -1. A second
/// signal ends the program at once with status 130.
int installInterruptPipe();

class Runner : public QObject
{
    Q_OBJECT

public:
    /// `interruptFd` is the read end of installInterruptPipe(), or -1.
    Runner(const Options &options, int interruptFd, QObject *parent = nullptr);
    ~Runner() override;

    /// Runs the command and returns the exit status.
    int run();

private:
    int execute();
    int listPanels();
    /// release check, install and rollback: no device, no worker.
    int releaseCommand();
    int scan();
    int deviceCommand();
    /// versions and auto-update on several devices (or --all).
    int severalDevicesCommand();
    int finishDeviceCommand(const OrvoDiscoveryInfo &record, int deviceType, int panelIndex);
    int historyCommand();
    /// Appends the boards of the device job to the history; a warning row when it cannot.
    void recordHistory();

    /// Requests `mode` after `setInputs` has filled the worker's fields and waits until the
    /// job's thread has ended, handling output and Ctrl-C meanwhile.
    void runJob(const WorkRequest &request);
    std::optional<int> lookUpDevice(const QString &address, int &status);
    void onInterrupt();
    bool checkFiles(QString &error) const;
    void writeJson(int status);

    Options m_options;
    int m_interruptFd;
    QSocketNotifier *m_notifier = nullptr;
    std::unique_ptr<Clock> m_ownClock;
    Clock *m_clock = nullptr;
    std::unique_ptr<ConsoleFrontEnd> m_frontEnd;
    std::unique_ptr<WorkerHost> m_host;
    class MultiDeviceRun *m_multi = nullptr; ///< while several devices run
    JobRecord m_record;                      ///< the device job's outcomes
    bool m_interrupted = false;

    // For the report.
    QJsonObject m_report;
    std::optional<OrvoDiscoveryInfo> m_deviceBefore;
};

} // namespace orvo::cli
