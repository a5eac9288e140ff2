#pragma once

#include "devicerecord.h"
#include "joboutcome.h"
#include "workrequest.h"

#include <QDateTime>
#include <QMainWindow>
#include <QMessageBox>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QToolBar;

namespace orvo {
struct JobRecord;
class Clock;
class Worker;
class WorkerHost;
} // namespace orvo

namespace orvo::ui {

struct MainWindowForm;
class MainWindowFrontEnd;

/// The program's main window: the found devices, the advanced per-panel controls, the activity
/// list and the progress bars, and the toolbar that starts every job. It owns the worker and
/// its thread (through a WorkerHost) for its whole life.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    /// The same window on the given clock (it must outlive the window): for tests and tools.
    explicit MainWindow(Clock &clock, QWidget *parent = nullptr);
    ~MainWindow() override;

    /// The job engine, for tests and tools that set its port or firmware folder while no job runs.
    Worker *worker() const;
    /// What the next job starts from: the selected device and board, and the manual addresses.
    const WorkRequest &jobInputs() const { return selection; }

    /// Where the log file's time stamps come from (the local time by default): for tests and
    /// tools that need known stamps.
    void setWallClock(std::function<QDateTime()> now) { wallClock = std::move(now); }

    /// The pace of the running download (the worker sends it after each record), shown beside
    /// the board bar's next percentage: "51 %  ·  850 rec/s  ·  0:07 left".
    void showDownloadPace(const orvo::DownloadProgress &progress);

private slots:
    void toolBarAct_ScanNetwork();
    void toolBarAct_IP();
    void toolBarAct_AutoUpdate();
    void toolBarAct_AdvOptions();
    void toolBarAct_Rename();
    void toolBarAct_Identify();
    void toolBarAct_Info();
    void updateDevicesCombo(QVector<OrvoDiscoveryInfo> dev);
    void updateProgressBarAuto(bool bVisible, int nValue = 0, bool bShowText = true, int nMin = 0, int nMax = 100);
    void updateProgressBar(bool bVisible, int nValue = 0, bool bShowText = true, int nMin = 0, int nMax = 100);
    void showMessageBox(
        QMessageBox::Icon icon, const QString &textTitle, const QString &textMsg, QMessageBox::StandardButtons buttons);
    void SetManIP_DialogClosed(bool bEnIP, QString ip1, QString ip2, QString ip3, QString ip4);
    void insertListItem(orvo::RowIcon icon, QString text, bool bRemoveLastItem);
    void EnableControls(bool bEnable);
    void on_CheckDevice_Button_clicked();
    void on_Reset_Button_clicked();
    void on_Bootload_Button_clicked();
    void on_GetVersions_Button_clicked();
    void on_comboBox_FoundDevices_currentIndexChanged(int index);
    void on_comboBox_Panels_currentIndexChanged(int index);

private:
    friend class MainWindowFrontEnd;

    void buildToolbar();
    void prepareDataFolder();
    /// Appends the boards of a job that has ended to history.jsonl; a warning row when it cannot.
    void recordHistory(const JobRecord &job);
    void readSettings();
    /// Shows a modal message box and returns the pressed button.
    QMessageBox::StandardButton execMessageBox(
        QMessageBox::Icon icon, const QString &textTitle, const QString &textMsg, QMessageBox::StandardButtons buttons);
    /// Requests the job `mode` on the selected device with `complete` adding its own inputs.
    template <typename Complete>
    bool requestJob(JobMode mode, Complete &&complete);

    QVector<OrvoDiscoveryInfo> deviceList;
    std::unique_ptr<MainWindowForm> ui;
    std::unique_ptr<MainWindowFrontEnd> frontEnd;
    std::unique_ptr<WorkerHost> host; ///< the worker and its thread

    QToolBar *toolbar = nullptr;
    QAction *actScanNetwork = nullptr;
    QAction *actIP = nullptr;
    QAction *actAutoUpdate = nullptr;
    QAction *actAdvOptions = nullptr;
    QAction *actRename = nullptr;
    QAction *actInfo = nullptr;
    QAction *actIdentify = nullptr;

    bool progressShown = false;
    std::optional<DownloadProgress> boardDownload; ///< the running download's last record, else empty
    bool boardPaceShown = false;                   ///< the bar's text holds a pace
    bool autoProgressShown = false;
    QString logFilePath;
    QString historyFilePath;
    bool dataFolderReady = false;
    std::function<QDateTime()> wallClock = [] { return QDateTime::currentDateTime(); };
    bool restoreSelection = false;
    bool advancedUnlocked = false;
    QString settingsFilePath;
    WorkRequest selection;         ///< the device and board chosen, and the manual addresses of the scan
    QString firmwareFolderSetting; ///< from AppSettings.ini; empty: the installed folder
};

} // namespace orvo::ui
