#include "aboutdialog.h"

#include "dialogkeys.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QSysInfo>
#include <QTextStream>

#include <algorithm>

namespace orvo::ui {

void AboutDialogForm::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("AboutDialog"));
    dialog->resize(854, 319);
    dialog->setModal(true);

    About_VLabel = new QLabel(dialog);
    About_VLabel->setObjectName(QStringLiteral("About_VLabel"));
    About_VLabel->setGeometry(30, 270, 461, 16);
    groupBox_Info = new QGroupBox(dialog);
    groupBox_Info->setObjectName(QStringLiteral("groupBox_Info"));
    groupBox_Info->setGeometry(530, 10, 291, 161);
    label_Info_Text = new QLabel(groupBox_Info);
    label_Info_Text->setObjectName(QStringLiteral("label_Info_Text"));
    label_Info_Text->setGeometry(20, 40, 61, 101);
    label_Info = new QLabel(groupBox_Info);
    label_Info->setObjectName(QStringLiteral("label_Info"));
    label_Info->setGeometry(120, 40, 161, 101);
    groupBox_CLog = new QGroupBox(dialog);
    groupBox_CLog->setObjectName(QStringLiteral("groupBox_CLog"));
    // As wide as the list it captions, so that its title fits.
    groupBox_CLog->setGeometry(20, 10, 491, 31);

    About_Notes = new QListWidget(dialog);
    About_Notes->setObjectName(QStringLiteral("About_Notes"));
    About_Notes->setGeometry(20, 40, 491, 221);
    QFont notesFont(QStringLiteral("MS Shell Dlg 2"));
    notesFont.setPointSize(8);
    About_Notes->setFont(notesFont);
    About_Notes->setFrameShadow(QFrame::Sunken);
    About_Notes->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    About_Notes->setAutoScroll(true);
    About_Notes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    About_Notes->setSelectionMode(QAbstractItemView::NoSelection);
    About_Notes->setDragDropMode(QAbstractItemView::NoDragDrop);
    About_Notes->setDropIndicatorShown(false);
    About_Notes->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void AboutDialogForm::retranslateUi(QDialog *)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("AboutDialog", text); };
    groupBox_Info->setTitle(tr("Orvo Updater  |  System Information"));
    groupBox_CLog->setTitle(tr("Changelog  |  Release  |  Feature Notes"));
}

namespace {

/// The system values differ from machine to machine (a distribution's kernel and product names
/// can be long) and the captions grow with the font: both labels take the size their texts
/// need, and the group box and the dialog grow with them, never below the form's own sizes.
void fitSystemInformation(AboutDialogForm &ui, QDialog *dialog)
{
    constexpr int kGap = 12;         // between the captions and the values
    constexpr int kRightMargin = 10; // inside the group box, right of the values
    constexpr int kBottomMargin = 20;
    constexpr int kDialogMargin = 33; // right of the group box, where the frame's border takes some
    constexpr int kTitlePadding = 12; // the style sheet's padding of a group box title, both sides

    QLabel *captions = ui.label_Info_Text;
    QLabel *values = ui.label_Info;
    const int height = std::max({ captions->height(), captions->sizeHint().height(), values->sizeHint().height() });
    captions->resize(qMax(captions->width(), captions->sizeHint().width()), height);
    const int valuesX = qMax(values->x(), captions->geometry().right() + 1 + kGap);
    values->setGeometry(valuesX, values->y(), qMax(values->width(), values->sizeHint().width()), height);

    QGroupBox *box = ui.groupBox_Info;
    const int titleWidth = box->fontMetrics().horizontalAdvance(box->title()) + kTitlePadding;
    box->resize(std::max({ box->width(), values->geometry().right() + 1 + kRightMargin, titleWidth }),
        qMax(box->height(), values->geometry().bottom() + 1 + kBottomMargin));
    dialog->resize(qMax(dialog->width(), box->geometry().right() + 1 + kDialogMargin),
        qMax(dialog->height(), box->geometry().bottom() + 1 + kDialogMargin));
}

} // namespace

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui(std::make_unique<AboutDialogForm>())
{
    ui->setupUi(this);
    ui->About_VLabel->setText(QStringLiteral("Orvo Updater  |  Version: ") + QCoreApplication::applicationVersion());
    ui->About_VLabel->hide();
    ui->label_Info_Text->setText(QStringLiteral("Version:\nBuild date:\nBuild arch:\nCPU:\nKernel:\nOS:"));
    ui->label_Info->setText(QCoreApplication::applicationVersion() + QStringLiteral("\n") + buildDate()
        + QStringLiteral("\n") + QSysInfo::buildCpuArchitecture() + QStringLiteral("\n")
        + QSysInfo::currentCpuArchitecture() + QStringLiteral("\n") + QSysInfo::kernelType().toUpper()
        + QStringLiteral(" (") + QSysInfo::kernelVersion() + QStringLiteral(")\n") + QSysInfo::prettyProductName());
    fitSystemInformation(*ui, this);
}

AboutDialog::~AboutDialog() = default;

QString AboutDialog::buildDate()
{
    return QStringLiteral("09/10/2024");
}

QString AboutDialog::defaultChangelogPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../Changelog.txt");
}

QStringList AboutDialog::readChangelog(const QString &path)
{
    QStringList lines;
    QFile file(QFileInfo(path).absoluteFilePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return lines;
    QTextStream in(&file);
    while (!in.atEnd())
        lines << in.readLine();
    file.close();
    return lines;
}

void AboutDialog::fillChangelog()
{
    ui->About_Notes->clear();
    ui->About_Notes->addItems(changelogLines);
    ui->About_Notes->scrollToTop();
}

void AboutDialog::keyPressEvent(QKeyEvent *event)
{
    if (isSwallowedDialogKey(event))
        return;
    QDialog::keyPressEvent(event);
}

} // namespace orvo::ui
