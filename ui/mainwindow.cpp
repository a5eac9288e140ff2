#include "mainwindow.h"

#include "aboutdialog.h"
#include "activitylog.h"
#include "appsettings.h"
#include "catalogue.h"
#include "clock.h"
#include "devicetext.h"
#include "firmwarefiles.h"
#include "framelesswindow.h"
#include "history.h"
#include "mainwindowform.h"
#include "setmanipdialog.h"
#include "worker.h"
#include "workerhost.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QTextEdit>
#include <QToolBar>
#include <QtDebug>

namespace orvo::ui {

namespace {

/// Address of the support contact named in the Advanced Options password prompt.
const QString kSupportAddress = QStringLiteral("service@orvo.example");
/// Longest device name the devices store.

/// The title bar of the window's own message boxes and input dialogs: a fixed-size dialog
/// without the context-help button.
constexpr Qt::WindowFlags kInputDialogFlags
    = Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
constexpr Qt::WindowFlags kMessageBoxFlags = Qt::Dialog | kInputDialogFlags;

} // namespace

/// Hands the worker's signals, queued into the GUI thread by the host, to the window's slots.
class MainWindowFrontEnd final : public WorkerFrontEnd
{
public:
    explicit MainWindowFrontEnd(MainWindow &window) : m_window(window) { }

    BoxButton messageBox(BoxIcon icon, const QString &textTitle, const QString &textMsg, BoxButtons flagBtn) override
    {
        // The codes are the message box's own numbers.
        return static_cast<BoxButton>(m_window.execMessageBox(static_cast<QMessageBox::Icon>(icon), textTitle, textMsg,
            static_cast<QMessageBox::StandardButtons>(static_cast<int>(flagBtn))));
    }
    void insertListItem(RowIcon icon, QString text, bool bRemoveLastItem) override
    {
        m_window.insertListItem(icon, text, bRemoveLastItem);
    }
    void clearList() override { m_window.ui->Log_listWidget->clear(); }
    void updateProgressBar(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) override
    {
        m_window.updateProgressBar(bVisible, nValue, bShowText, nMin, nMax);
    }
    void updateProgressBarAuto(bool bVisible, int nValue, bool bShowText, int nMin, int nMax) override
    {
        m_window.updateProgressBarAuto(bVisible, nValue, bShowText, nMin, nMax);
    }
    void updateDevicesCombo(QVector<OrvoDiscoveryInfo> dev) override { m_window.updateDevicesCombo(dev); }
    void enableControls(bool bEnable) override { m_window.EnableControls(bEnable); }
    void downloadProgress(orvo::DownloadProgress progress) override { m_window.showDownloadPace(progress); }
    void boardOutcome(orvo::BoardOutcome outcome) override { m_job.add(outcome); }
    void jobEnded(orvo::JobOutcome outcome) override
    {
        m_job.end = outcome;
        m_window.recordHistory(m_job);
        m_job = JobRecord();
    }

private:
    MainWindow &m_window;
    JobRecord m_job; ///< the boards of the running job, for the history
};

MainWindow::MainWindow(QWidget *parent) : MainWindow(Clock::real(), parent) { }

MainWindow::MainWindow(Clock &clock, QWidget *parent) : QMainWindow(parent), ui(std::make_unique<MainWindowForm>())
{
    ui->setupUi(this);
    buildToolbar();

    ui->Log_listWidget->setIconSize(QSize(13, 13));
    ui->Log_listWidget->setStyleSheet(QStringLiteral("font-family: MS Shell Dlg 2; font-size: 8pt;"));
    ui->Log_listWidget->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ui->Log_listWidget->setAutoScroll(true);
    ui->Log_listWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->Log_listWidget->setSelectionMode(QAbstractItemView::NoSelection);
    ui->Log_listWidget->setDragDropMode(QAbstractItemView::NoDragDrop);
    ui->Log_listWidget->setDropIndicatorShown(false);
    ui->Log_listWidget->setDefaultDropAction(Qt::IgnoreAction);

    ui->LogEdit->hide();
    ui->progressBar_Auto->hide();
    ui->progressBar->hide();
    ui->Rename_Button->hide();

    actIdentify->setEnabled(false);
    actInfo->setEnabled(true);
    actRename->setEnabled(false);
    actAutoUpdate->setEnabled(false);
    actAdvOptions->setChecked(false);
    toolBarAct_AdvOptions();
    actAdvOptions->setEnabled(false);

    ui->comboBox_FoundDevices->setEnabled(false);
    prepareDataFolder();

    frontEnd = std::make_unique<MainWindowFrontEnd>(*this);
    host = std::make_unique<WorkerHost>(clock, frontEnd.get());
    Worker *w = host->worker();
    w->setFirmwareFolder(firmwareFolderSetting.isEmpty() ? firmwareFolderPath() : firmwareFolderSetting);
    qDebug("%s", qUtf8Printable(QStringLiteral("Firmware folder: ") + w->firmwareFolder()));
}

MainWindow::~MainWindow()
{
    // Abort a running job, wait for its thread, list and log what the job said until it ended,
    // then delete thread and worker. The job's last calls reach handlers that use the host, so
    // they are delivered while it still exists, not from its destructor.
    host->shutDown();
    host.reset();
    frontEnd.reset();
}

Worker *MainWindow::worker() const
{
    return host->worker();
}

void MainWindow::buildToolbar()
{
    toolbar = new QToolBar(tr("Toolbar"), this);
    toolbar->setObjectName(QStringLiteral("toolBar"));
    toolbar->setIconSize(QSize(32, 32));
    toolbar->setMovable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(toolbar);

    const auto action = [this](const char *image, const QString &text, const QString &tip, const QKeySequence &key,
                            void (MainWindow::*slot)()) {
        auto *a = new QAction(QIcon(QStringLiteral(":/images/") + QLatin1String(image)), text, this);
        a->setToolTip(tip);
        a->setShortcut(key);
        connect(a, &QAction::triggered, this, slot);
        toolbar->addAction(a);
        return a;
    };

    actScanNetwork = action("ScanNetwork2.png", tr("Scan Network"), tr("Scan the Network for Orvo Products"),
        QKeySequence(Qt::CTRL | Qt::Key_S), &MainWindow::toolBarAct_ScanNetwork);
    toolbar->addSeparator();
    actIP = action(
        "IP.png", tr("Set IP"), tr("Set Manual IPs"), QKeySequence(Qt::CTRL | Qt::Key_M), &MainWindow::toolBarAct_IP);
    toolbar->addSeparator();
    actRename = action("Rename.png", tr("Rename"), tr("Rename the currently selected Orvo Product"),
        QKeySequence(Qt::CTRL | Qt::Key_N), &MainWindow::toolBarAct_Rename);
    toolbar->addSeparator();
    actIdentify = action("Identify.png", tr("Identify"), tr("Identify the currently selected Orvo Product"),
        QKeySequence(Qt::CTRL | Qt::Key_D), &MainWindow::toolBarAct_Identify);

    auto *spacer = new QWidget(toolbar);
    spacer->setObjectName(QStringLiteral("toolBarSpacer"));
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);

    actAutoUpdate = action("UpdateAll.png", tr("Auto Update"),
        tr("Auto Update Firmware on all panels/boards for the selected Product"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), &MainWindow::toolBarAct_AutoUpdate);
    toolbar->addSeparator();
    actAdvOptions = action("AdvancedSettings.png", tr("Advanced"), tr("Click to show Advanced Options"),
        QKeySequence(Qt::CTRL | Qt::Key_A), &MainWindow::toolBarAct_AdvOptions);
    actAdvOptions->setCheckable(true);
    toolbar->addSeparator();
    actInfo = action("Info.png", tr("About"), tr("Click to show Changelog/Version information"),
        QKeySequence(Qt::CTRL | Qt::Key_I), &MainWindow::toolBarAct_Info);
}

// ---- Data folder and settings ------------------------------------------------------------------

void MainWindow::prepareDataFolder()
{
    dataFolderReady = false;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (!folder.isEmpty() && QDir().mkpath(folder)) {
        const QString absolute = QDir(folder).absolutePath();
        logFilePath = absolute + QStringLiteral("/log.txt");
        historyFilePath = absolute + QStringLiteral("/history.jsonl");
        dataFolderReady = true;
        qDebug("%s", qUtf8Printable(QStringLiteral("Log location: ") + logFilePath));
        settingsFilePath = absolute + QStringLiteral("/AppSettings.ini");
        readSettings();
    }
    if (!dataFolderReady)
        qDebug("Log create/open failed");
}

void MainWindow::readSettings()
{
    qDebug("%s", qUtf8Printable(QStringLiteral("App Settings location: ") + settingsFilePath));
    const ManualIpSettings settings = readManualIpSettings(settingsFilePath);
    selection.manualIpEnabled = settings.enabled;
    selection.manualIp = settings.address;
    QString refusal;
    firmwareFolderSetting = readFirmwareFolderSetting(settingsFilePath, &refusal);
    if (!refusal.isEmpty())
        qDebug("%s",
            qUtf8Printable(QStringLiteral("FirmwareFolder setting not used (") + refusal
                + QStringLiteral("): the installed firmware folder applies")));
}

// ---- Jobs ---------------------------------------------------------------------------------------

template <typename Complete>
bool MainWindow::requestJob(JobMode mode, Complete &&complete)
{
    return host->request(selection.forJob(mode), std::forward<Complete>(complete));
}

void MainWindow::toolBarAct_ScanNetwork()
{
    requestJob(JobMode::ScanNetwork, [this](WorkRequest &) {
        actRename->setEnabled(false);
        actIdentify->setEnabled(false);
        actAutoUpdate->setEnabled(false);
        actAdvOptions->setChecked(false);
        toolBarAct_AdvOptions();
        actAdvOptions->setEnabled(false);
        updateDevicesCombo({});
        ui->comboBox_FoundDevices->setEnabled(false);
        actScanNetwork->setEnabled(false);
        actIP->setEnabled(false);
    });
}

void MainWindow::toolBarAct_AutoUpdate()
{
    requestJob(JobMode::AutoUpdate, [this](WorkRequest &r) {
        if (r.selectedDevice >= 0 && r.selectedDevice < deviceList.size()
            && deviceList.at(r.selectedDevice).needsUpdate() != 0) {
            restoreSelection = true;
            r.refreshDeviceInfo = true;
        }
        const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
        r.forceUpdate = (held & Qt::AltModifier) && (held & Qt::ControlModifier);
    });
}

void MainWindow::on_GetVersions_Button_clicked()
{
    requestJob(JobMode::GetVersions, [](WorkRequest &) {});
}

void MainWindow::on_CheckDevice_Button_clicked()
{
    requestJob(JobMode::CheckPanel, [](WorkRequest &) {});
}

void MainWindow::on_Bootload_Button_clicked()
{
    requestJob(JobMode::UpdatePanel, [this](WorkRequest &r) {
        if (r.selectedDevice >= 0 && r.selectedDevice < deviceList.size() && isKnownDeviceType(r.deviceType)
            && r.panelIndex == 0 && deviceList.at(r.selectedDevice).needsUpdate() != 0) {
            restoreSelection = true;
            r.refreshDeviceInfo = true;
        }
    });
}

void MainWindow::on_Reset_Button_clicked()
{
    requestJob(JobMode::ResetPanel,
        [](WorkRequest &r) { r.checkAfterReset = QGuiApplication::queryKeyboardModifiers() & Qt::AltModifier; });
}

void MainWindow::toolBarAct_Rename()
{
    // The prompt comes after the busy check: a refused request asks nothing.
    requestJob(JobMode::RenameDevice, [this](WorkRequest &r) {
        if (r.selectedDevice < 0 || r.selectedDevice >= deviceList.size())
            return false;
        const OrvoDiscoveryInfo record = deviceList.at(r.selectedDevice);
        bool ok = false;
        // The name as the list shows it: a control character the device sent is offered as its
        // visible escape, never put back unseen.
        const QString name = QInputDialog::getText(
            this, tr("Set Product Name"), tr("Name:"), QLineEdit::Normal, record.visibleName(), &ok, kInputDialogFlags);
        if (!ok || name.isEmpty())
            return false;
        const DeviceNameBytes check = encodeDeviceName(name);
        if (!check.ok()) {
            showMessageBox(QMessageBox::Information, tr("Set Product Name"), check.error, QMessageBox::Ok);
            return false;
        }
        restoreSelection = true;
        r.newDeviceName = name;
        return true;
    });
}

void MainWindow::toolBarAct_Identify()
{
    requestJob(JobMode::IdentifyDevice, [](WorkRequest &) {});
}

// ---- Advanced Options lock ----------------------------------------------------------------------

void MainWindow::toolBarAct_AdvOptions()
{
    if (advancedUnlocked) {
        ui->groupBox_AdvOpt->setEnabled(actAdvOptions->isChecked());
        return;
    }
    if (actAdvOptions->isChecked()) {
        bool ok = false;
        const QString code = QInputDialog::getText(this, tr("Advanced Options"),
            tr("The Advanced options are for Orvo Engineers. \nThese options are not for general use. \nUnless "
               "advised by Orvo Support, please click Cancel and continue as directed by the user manual. \nIf "
               "Advanced options are required and you have been advised by Orvo Support, please contact ")
                + kSupportAddress + tr(" \n\nPassword:"),
            QLineEdit::Password, QString(), &ok, kInputDialogFlags);
        if (ok && (code == QLatin1String("Kobo?Lantern") || code == QLatin1String("qel"))) {
            ui->groupBox_AdvOpt->setEnabled(actAdvOptions->isChecked());
            advancedUnlocked = true;
            return;
        }
        if (ok)
            showMessageBox(QMessageBox::Warning, tr("Advanced Options"), tr("Incorrect Password!"), QMessageBox::Ok);
    }
    actAdvOptions->setChecked(false);
    ui->groupBox_AdvOpt->setEnabled(false);
}

// ---- Device list and selection ------------------------------------------------------------------

void MainWindow::on_comboBox_FoundDevices_currentIndexChanged(int index)
{
    if (deviceList.isEmpty() || index < 0 || index >= deviceList.size())
        return;
    const OrvoDiscoveryInfo record = deviceList.at(index);
    const int type = static_cast<int>(record.type());

    QString text = QStringLiteral("Type:\t ") + deviceTypeName(record.type()) + QStringLiteral("\n");
    text += QStringLiteral("Name:\t ") + record.visibleName() + QStringLiteral("\n");
    text += QStringLiteral("IP:\t ") + ipText(record) + QStringLiteral("\n");
    text += (QStringLiteral("MAC:\t ") + macText(record) + QStringLiteral("\n")).toUpper();
    text += record.needsUpdate() != 0 ? QStringLiteral("Status:\t Interface Device requires firmware update")
                                      : QStringLiteral("Status:\t OK");
    ui->label_DevInfo->setText(text);

    selection.selectedDevice = index;
    selection.deviceType = type;
    ui->comboBox_Panels->clear();
    if (isKnownDeviceType(type)) {
        actAdvOptions->setEnabled(true);
        for (int i = 0; i < slotCount(type); ++i)
            ui->comboBox_Panels->addItem(panelName(type, i));
        ui->comboBox_Panels->setCurrentIndex(0);
        selection.panelIndex = ui->comboBox_Panels->currentIndex();
    }
}

void MainWindow::on_comboBox_Panels_currentIndexChanged(int index)
{
    selection.panelIndex = index;
}

void MainWindow::updateDevicesCombo(QVector<OrvoDiscoveryInfo> dev)
{
    deviceList.clear();
    ui->comboBox_FoundDevices->clear();
    ui->comboBox_Panels->clear();
    for (const OrvoDiscoveryInfo &record : dev) {
        // The row goes in first: the selection change of the first row finds the list empty.
        ui->comboBox_FoundDevices->addItem(
            QStringLiteral("Type: ") + deviceTypeName(record.type()) + QStringLiteral("  |  ") + record.visibleName());
        deviceList.append(record);
    }
    actScanNetwork->setEnabled(true);
    actIP->setEnabled(true);

    if (deviceList.isEmpty()) {
        ui->label_DevInfo->setText(QStringLiteral("Type:     [No Orvo Products found] \nName:\nIP: \nMAC:\n"));
        return;
    }
    actRename->setEnabled(true);
    actIdentify->setEnabled(true);
    actAutoUpdate->setEnabled(true);
    ui->comboBox_FoundDevices->setEnabled(true);
    const int selected = selection.selectedDevice;
    const int row = restoreSelection && selected >= 0 && selected < deviceList.size() ? selected : 0;
    ui->comboBox_FoundDevices->setCurrentIndex(row);
    on_comboBox_FoundDevices_currentIndexChanged(row);
    restoreSelection = false;
}

// ---- Message boxes ------------------------------------------------------------------------------

QMessageBox::StandardButton MainWindow::execMessageBox(
    QMessageBox::Icon icon, const QString &textTitle, const QString &textMsg, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, textTitle, textMsg, buttons, this, kMessageBoxFlags);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void MainWindow::showMessageBox(
    QMessageBox::Icon icon, const QString &textTitle, const QString &textMsg, QMessageBox::StandardButtons buttons)
{
    execMessageBox(icon, textTitle, textMsg, buttons);
}

// ---- Controls -----------------------------------------------------------------------------------

void MainWindow::EnableControls(bool bEnable)
{
    actScanNetwork->setEnabled(bEnable);
    actIP->setEnabled(bEnable);
    actRename->setEnabled(bEnable);
    actIdentify->setEnabled(bEnable);
    actAutoUpdate->setEnabled(bEnable);
    actAdvOptions->setEnabled(bEnable);
    ui->groupBox_Products->setEnabled(bEnable);
    if (actAdvOptions->isChecked())
        ui->groupBox_AdvOpt->setEnabled(bEnable);
}

// ---- Activity list, progress bars and dialogs ---------------------------------------------------

void MainWindow::recordHistory(const JobRecord &job)
{
    const QString warning
        = recordJobHistory(dataFolderReady ? historyFilePath : QString(), job, QStringLiteral("window"), wallClock());
    if (!warning.isEmpty())
        insertListItem(RowIcon::Warning, warning, false);
}

void MainWindow::insertListItem(RowIcon icon, QString text, bool bRemoveLastItem)
{
    QListWidget *list = ui->Log_listWidget;
    if (bRemoveLastItem && list->count() > 0)
        delete list->takeItem(list->count() - 1);

    // The same text as the log file's line (logFileLine), which shows it on one line.
    auto *row = new QListWidgetItem(visibleText(text));
    switch (rowIconLook(icon).picture) {
    case RowPicture::None:
        break;
    case RowPicture::Applied:
        row->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
        break;
    case RowPicture::Critical:
        row->setIcon(style()->standardIcon(QStyle::SP_MessageBoxCritical));
        break;
    case RowPicture::Warning:
        row->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
        break;
    case RowPicture::Information:
        row->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
        break;
    }
    list->addItem(row);
    list->scrollToBottom();

    if (!dataFolderReady || !isLoggedRow(text))
        return;
    if (!appendLogRow(logFilePath, wallClock(), text))
        qDebug("%s", qUtf8Printable(QStringLiteral("Could not open ") + logFilePath));
}

namespace {

const QString kProgressStyle = QStringLiteral(
    "QProgressBar::chunk {background-color: #666666;}QProgressBar {border-radius: 2px; background-color: #262626; "
    "text-align: center;}");

const QString kPaceSeparator = QStringLiteral("  \u00b7  ");

/// One bar and its flag: a bar first shown with nMax 0 is a styled bar until it is hidden again.
void driveProgressBar(QProgressBar *bar, bool &shown, bool bVisible, int nValue, bool bShowText, int nMax)
{
    if (bVisible) {
        if (!shown && nMax == 0) {
            shown = true;
            bar->hide();
            bar->setTextVisible(bShowText);
            bar->setStyleSheet(kProgressStyle);
        }
        bar->setValue(nValue);
    } else if (shown) {
        shown = false;
        bar->hide();
        bar->setTextVisible(bShowText);
        bar->setStyleSheet(QString());
    }
    bar->setVisible(bVisible);
}

} // namespace

void MainWindow::updateProgressBar(bool bVisible, int nValue, bool bShowText, int /*nMin*/, int nMax)
{
    // The worker sends each record's figures just before its percentage. A hidden bar and the
    // waits (shown with nMax 0: erase, restart) are no download.
    if (!bVisible || nMax == 0)
        boardDownload.reset();
    QProgressBar *bar = ui->progressBar;
    // The first records' pace says little (the board's first replies are slower), so the pace
    // shows from 1 % on.
    const std::optional<DownloadPace> pace = boardDownload && nValue >= 1 ? downloadPace(*boardDownload) : std::nullopt;
    if (!pace) {
        bar->setFormat(QStringLiteral("%p%"));
        boardPaceShown = false;
    } else if (!boardPaceShown || nValue != bar->value()) {
        // A new pace with each new percentage only, not with every record: steady to read, and
        // the bar is painted no more often than for the percentage alone, whatever the rate.
        bar->setFormat(QStringLiteral("%p %") + kPaceSeparator + downloadPaceText(*pace, kPaceSeparator));
        boardPaceShown = true;
    }
    // After the last record the bar is the percentage only again.
    if (boardDownload && boardDownload->bytesDone >= boardDownload->bytesTotal)
        boardDownload.reset();
    driveProgressBar(bar, progressShown, bVisible, nValue, bShowText, nMax);
}

void MainWindow::showDownloadPace(const DownloadProgress &progress)
{
    boardDownload = progress;
}

void MainWindow::updateProgressBarAuto(bool bVisible, int nValue, bool bShowText, int /*nMin*/, int nMax)
{
    driveProgressBar(ui->progressBar_Auto, autoProgressShown, bVisible, nValue, bShowText, nMax);
}

namespace {

/// Puts a dialog into a new frame of its own, application-modal and deleted when closed, and
/// shows it; the caller then runs the dialog's modal loop, which ends when the frame's close
/// button destroys the dialog.
void showInFrame(QDialog *dialog, const QString &title)
{
    auto *frame = new FramelessWindow;
    frame->setWindowTitle(title);
    frame->setWindowIcon(QIcon(QStringLiteral(":/images/Orvo.ico")));
    frame->setContent(dialog);
    frame->setFixedSize(dialog->size());
    frame->setMaximumSize(dialog->size());
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->setWindowModality(Qt::ApplicationModal);
    frame->show();
}

} // namespace

void MainWindow::toolBarAct_IP()
{
    auto *dialog = new SetManIP_Dialog;
    connect(dialog, &SetManIP_Dialog::frSetManIP_DialogClosed, this, &MainWindow::SetManIP_DialogClosed);
    dialog->enableIp = selection.manualIpEnabled;
    dialog->ip = selection.manualIp;
    showInFrame(dialog, tr("Set Manual IPs"));
    dialog->loadValues();
    dialog->exec();
}

void MainWindow::SetManIP_DialogClosed(bool bEnIP, QString ip1, QString ip2, QString ip3, QString ip4)
{
    selection.manualIpEnabled = bEnIP;
    const ManualAddresses typed = { ip1, ip2, ip3, ip4 };
    for (std::size_t i = 0; i < typed.size(); ++i)
        selection.manualIp[i] = ui::isUsableIpEntry(typed[i]) ? typed[i] : kUnusedAddress;
    if (!dataFolderReady)
        return;
    ManualIpSettings settings;
    settings.enabled = selection.manualIpEnabled;
    settings.address = selection.manualIp;
    writeManualIpSettings(settingsFilePath, settings);
}

void MainWindow::toolBarAct_Info()
{
    const QString changelogPath = AboutDialog::defaultChangelogPath();
    qDebug("%s", qUtf8Printable(QStringLiteral("ChangeLog location: ") + changelogPath));
    auto *dialog = new AboutDialog;
    dialog->changelogPath = changelogPath;
    dialog->changelogLines = AboutDialog::readChangelog(changelogPath);
    showInFrame(dialog, tr("About"));
    dialog->fillChangelog();
    dialog->exec();
}

} // namespace orvo::ui
