#pragma once

// The command line's side of the worker's signals: activity lines with their marks, progress
// as a bar on a terminal or as percentage lines in a log, message boxes as a prompt or as a
// given answer, and the window's log file.

#include "clioptions.h"
#include "clireport.h"
#include "workerhost.h"

#include <QJsonArray>
#include <QString>

#include <cstdio>
#include <functional>
#include <optional>

namespace orvo::cli {

/// Standard button values of the message boxes.

class ConsoleFrontEnd : public WorkerFrontEnd
{
    Q_OBJECT

public:
    struct Settings
    {
        std::FILE *out = stdout;
        bool outIsTerminal = false; ///< draw a progress bar
        bool progressLines = false; ///< not a terminal: percentage lines (else no progress at all)
        bool canPrompt = false;     ///< stdin and stdout are a terminal
        int inputFd = 0;            ///< where the prompt reads its answer
        int interruptFd = -1;       ///< readable when Ctrl-C was pressed (self-pipe), or -1
        Answer answer = Answer::Ask;
        QString answeredBy; ///< where a given answer came from, e.g. " (--yes)"; empty: the option
        QString logFile;    ///< empty: no log file
        /// Put in front of every line written and logged: whose line it is when several
        /// devices run at once.
        QString prefix;
        /// Takes the whole lines instead of `out` (empty: `out`).
        std::function<void(const QString &)> sink;
        /// Called after each change of the progress figures; then the download figures are kept
        /// for progress() even without a terminal.
        std::function<void()> onProgress;
    };

    /// The progress figures now shown: -1 for a hidden bar.
    struct ProgressView
    {
        int task = -1;
        int overall = -1;
        std::optional<DownloadProgress> download;
    };
    ProgressView progressView() const;

    explicit ConsoleFrontEnd(const Settings &settings, QObject *parent = nullptr);

    BoxButton messageBox(BoxIcon icon, const QString &textTitle, const QString &textMsg, BoxButtons flagBtn) override;

    /// The outcomes of the job now running go to this record (null: none).
    void setRecord(JobRecord *record) { m_record = record; }
    /// Called when the prompt saw Ctrl-C (the self-pipe was drained there).
    void setInterruptHandler(std::function<void()> handler) { m_onInterrupt = std::move(handler); }

    /// A line of the program's own, marked "--"; not logged (the window has no such lines).
    void note(const QString &text);

    const DeviceList &devices() const { return m_devices; }
    bool devicesReceived() const { return m_devicesReceived; }
    void resetDevices() { m_devicesReceived = false; }
    /// Every activity line so far, as {icon, text} objects.
    const QJsonArray &lines() const { return m_lines; }
    /// The message boxes shown so far, as {icon, title, text, answer} objects.
    const QJsonArray &boxes() const { return m_boxes; }

public slots:
    void insertListItem(orvo::RowIcon icon, QString text, bool bRemoveLastItem) override;
    void clearList() override;
    void updateProgressBar(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) override;
    void updateProgressBarAuto(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) override;
    void updateDevicesCombo(QVector<OrvoDiscoveryInfo> dev) override;
    void enableControls(bool bEnable) override;
    void boardOutcome(orvo::BoardOutcome outcome) override;
    void jobEnded(orvo::JobOutcome outcome) override;
    void downloadProgress(orvo::DownloadProgress progress) override;

private:
    struct Bar
    {
        bool visible = false;
        int value = -1;   ///< last value shown; -1 after hiding, so the next show prints
        int printed = -1; ///< last value written as a line (output that is not a terminal)
    };

    void progress(Bar &bar, const char *label, bool visible, int value);
    void write(const QString &text);
    /// `text` with the prefix at the start of each of its lines.
    QString prefixed(const QString &text);
    void clearBar();
    void drawBar();
    void appendToLog(const QString &text);
    /// Reads y/n from the terminal; No on end of input or Ctrl-C.
    BoxButton askYesNo();

    Settings m_settings;
    JobRecord *m_record = nullptr;
    std::function<void()> m_onInterrupt;
    Bar m_task;
    Bar m_overall;
    std::optional<DownloadProgress> m_download; ///< figures of the running download, for the bar
    bool m_barDrawn = false;
    bool m_atLineStart = true; ///< where the prefix goes
    bool m_logWarned = false;
    DeviceList m_devices;
    bool m_devicesReceived = false;
    QJsonArray m_lines;
    QJsonArray m_boxes;
};

} // namespace orvo::cli
