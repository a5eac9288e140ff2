#include "mainwindowform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

namespace orvo::ui {

namespace {

template <typename W>
W *make(QWidget *parent, const char *name, int x, int y, int w, int h)
{
    auto *widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

} // namespace

void MainWindowForm::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(721, 715);

    centralwidget = new QWidget(window);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));

    // The two group boxes share the window's width differently from the original form: the
    // device label needs 381 pixels for "Status:  Interface Device requires firmware update" and
    // the panel list 230 for "Channel Master FPGA 17-24" at the program's font, so the Products
    // box is 50 wider and "Panels:" sits above the panel list instead of beside it.
    groupBox_Products = make<QGroupBox>(centralwidget, "groupBox_Products", 20, 20, 411, 171);
    comboBox_FoundDevices = make<QComboBox>(groupBox_Products, "comboBox_FoundDevices", 10, 40, 391, 31);
    label_DevInfo = make<QLabel>(groupBox_Products, "label_DevInfo", 20, 80, 381, 81);
    Rename_Button = make<QPushButton>(groupBox_Products, "Rename_Button", 390, 100, 21, 20);

    groupBox_AdvOpt = make<QGroupBox>(centralwidget, "groupBox_AdvOpt", 441, 20, 250, 171);
    groupBox_AdvOpt->setFlat(false);
    groupBox_AdvOpt->setCheckable(false);
    label_Panels = make<QLabel>(groupBox_AdvOpt, "label_Panels", 12, 32, 226, 18);
    comboBox_Panels = make<QComboBox>(groupBox_AdvOpt, "comboBox_Panels", 10, 50, 230, 31);
    GetVersions_Button = make<QPushButton>(groupBox_AdvOpt, "GetVersions_Button", 10, 88, 230, 31);
    Reset_Button = make<QPushButton>(groupBox_AdvOpt, "Reset_Button", 10, 128, 72, 31);
    CheckDevice_Button = make<QPushButton>(groupBox_AdvOpt, "CheckDevice_Button", 89, 128, 72, 31);
    Bootload_Button = make<QPushButton>(groupBox_AdvOpt, "Bootload_Button", 168, 128, 72, 31);

    LogEdit = make<QTextEdit>(centralwidget, "LogEdit", 20, 210, 671, 321);
    LogEdit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    LogEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    LogEdit->setReadOnly(true);
    LogEdit->setTextInteractionFlags(Qt::NoTextInteraction);

    Log_listWidget = make<QListWidget>(centralwidget, "Log_listWidget", 20, 210, 671, 321);

    progressBar = make<QProgressBar>(centralwidget, "progressBar", 20, 540, 671, 21);
    progressBar->setTextVisible(true);
    progressBar->setInvertedAppearance(false);

    progressBar_Auto = make<QProgressBar>(centralwidget, "progressBar_Auto", 20, 570, 671, 7);
    progressBar_Auto->setValue(0);
    progressBar_Auto->setTextVisible(true);
    progressBar_Auto->setInvertedAppearance(false);

    window->setCentralWidget(centralwidget);

    QWidget::setTabOrder(comboBox_FoundDevices, comboBox_Panels);
    QWidget::setTabOrder(comboBox_Panels, GetVersions_Button);
    QWidget::setTabOrder(GetVersions_Button, Reset_Button);
    QWidget::setTabOrder(Reset_Button, CheckDevice_Button);
    QWidget::setTabOrder(CheckDevice_Button, Bootload_Button);
    QWidget::setTabOrder(Bootload_Button, LogEdit);

    retranslateUi(window);
    QMetaObject::connectSlotsByName(window);
}

void MainWindowForm::retranslateUi(QMainWindow *)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("MainWindow", text); };
    groupBox_Products->setTitle(tr("Orvo Products"));
    label_DevInfo->setText(tr("Type:     [Scan not yet run] \nName:\nIP: \nMAC: \n"));
    Rename_Button->setText(tr("..."));
    groupBox_AdvOpt->setTitle(tr("Advanced Options"));
    label_Panels->setText(tr("Panels:"));
    GetVersions_Button->setText(tr("Get Versions"));
    GetVersions_Button->setShortcut(QKeySequence(tr("Ctrl+G")));
    Reset_Button->setText(tr("Reset"));
    Reset_Button->setShortcut(QKeySequence(tr("Ctrl+R")));
    CheckDevice_Button->setText(tr("Check"));
    CheckDevice_Button->setShortcut(QKeySequence(tr("Ctrl+C")));
    Bootload_Button->setText(tr("Update"));
    Bootload_Button->setShortcut(QKeySequence(tr("Ctrl+U")));
}

} // namespace orvo::ui
