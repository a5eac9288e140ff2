#include "setmanipdialog.h"

#include "dialogkeys.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace orvo::ui {

void SetManIPDialogForm::setupUi(QDialog *dialog)
{
    // Sized for the dark style's font, a point above the desktop's: the labels, an address with
    // all its zeros and both lines of the check box fit up to 11 pt.
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("SetManIP_Dialog"));
    dialog->resize(444, 235);
    groupBox_Info = new QGroupBox(dialog);
    groupBox_Info->setObjectName(QStringLiteral("groupBox_Info"));
    groupBox_Info->setGeometry(10, 10, 411, 171);

    QLabel **labels[4] = { &label_6170_Text, &label_QRT1_Text, &label_QRT2_Text, &label_QRT3_Text };
    const char *labelNames[4] = { "label_6170_Text", "label_QRT1_Text", "label_QRT2_Text", "label_QRT3_Text" };
    for (int i = 0; i < 4; ++i) {
        *labels[i] = new QLabel(groupBox_Info);
        (*labels[i])->setObjectName(QLatin1String(labelNames[i]));
        (*labels[i])->setGeometry(20, 40 + 30 * i, 81, 21);
        ManIPDev[i] = new QLineEdit(groupBox_Info);
        ManIPDev[i]->setObjectName(QStringLiteral("ManIPDev%1").arg(i + 1));
        // As tall as the field's text needs, centred on its label.
        ManIPDev[i]->setGeometry(110, 39 + 30 * i, 141, 23);
    }
    EnIP_checkBox = new QCheckBox(groupBox_Info);
    EnIP_checkBox->setObjectName(QStringLiteral("EnIP_checkBox"));
    EnIP_checkBox->setGeometry(270, 70, 121, 51);

    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void SetManIPDialogForm::retranslateUi(QDialog *dialog)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("SetManIP_Dialog", text); };
    dialog->setWindowTitle(tr("Dialog"));
    groupBox_Info->setTitle(tr("Orvo Updater  |  Manual IP Address Scan"));
    label_6170_Text->setText(tr("Device #1"));
    label_QRT1_Text->setText(tr("Device #2"));
    label_QRT2_Text->setText(tr("Device #3"));
    label_QRT3_Text->setText(tr("Device #4"));
    EnIP_checkBox->setText(tr("Scan Manual\nIP Addresses"));
}

QString SetManIP_Dialog::addressPattern()
{
    const QString octet = QStringLiteral("(?:[0-1]?[0-9]?[0-9]|2[0-4][0-9]|25[0-5])");
    const QString dotted = QStringLiteral("(\\.") + octet;
    return QStringLiteral("^") + octet + dotted + QStringLiteral(")") + dotted + QStringLiteral(")") + dotted
        + QStringLiteral(")$");
}

SetManIP_Dialog::SetManIP_Dialog(QWidget *parent) : QDialog(parent), ui(std::make_unique<SetManIPDialogForm>())
{
    ui->setupUi(this);
    validator = new QRegularExpressionValidator(QRegularExpression(addressPattern()), this);
    for (QLineEdit *field : ui->ManIPDev) {
        field->setValidator(validator);
        field->setInputMask(QStringLiteral("000.000.000.000;_"));
    }
}

SetManIP_Dialog::~SetManIP_Dialog()
{
    // Closing is the only way out, so the values are always taken over.
    enableIp = ui->EnIP_checkBox->isChecked();
    for (int i = 0; i < 4; ++i)
        ip[i] = ui->ManIPDev[i]->text();
    emit frSetManIP_DialogClosed(enableIp, ip[0], ip[1], ip[2], ip[3]);
}

void SetManIP_Dialog::loadValues()
{
    ui->EnIP_checkBox->setChecked(enableIp);
    for (int i = 0; i < 4; ++i)
        ui->ManIPDev[i]->setText(ip[i]);
}

void SetManIP_Dialog::keyPressEvent(QKeyEvent *event)
{
    if (isSwallowedDialogKey(event))
        return;
    QDialog::keyPressEvent(event);
}

} // namespace orvo::ui
