#pragma once

class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QTextEdit;
class QWidget;

namespace orvo::ui {

/// The main window's widgets at their fixed places, by the object names that the by-name
/// connections, style sheets and tests use.
struct MainWindowForm
{
    QWidget *centralwidget = nullptr;
    QGroupBox *groupBox_Products = nullptr;
    QComboBox *comboBox_FoundDevices = nullptr;
    QLabel *label_DevInfo = nullptr;
    QPushButton *Rename_Button = nullptr;
    QGroupBox *groupBox_AdvOpt = nullptr;
    QLabel *label_Panels = nullptr;
    QComboBox *comboBox_Panels = nullptr;
    QPushButton *GetVersions_Button = nullptr;
    QPushButton *Reset_Button = nullptr;
    QPushButton *CheckDevice_Button = nullptr;
    QPushButton *Bootload_Button = nullptr;
    QTextEdit *LogEdit = nullptr;
    QListWidget *Log_listWidget = nullptr;
    QProgressBar *progressBar = nullptr;
    QProgressBar *progressBar_Auto = nullptr;

    /// Builds the widget tree on `window`, sets the texts, the focus order and connects the
    /// buttons and combo boxes to the window's slots named after them.
    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);
};

} // namespace orvo::ui
