#pragma once

#include "workrequest.h"

#include <QDialog>
#include <QString>

#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRegularExpressionValidator;

namespace orvo::ui {

struct SetManIPDialogForm
{
    QGroupBox *groupBox_Info = nullptr;
    QLabel *label_6170_Text = nullptr;
    QLabel *label_QRT1_Text = nullptr;
    QLabel *label_QRT2_Text = nullptr;
    QLabel *label_QRT3_Text = nullptr;
    QLineEdit *ManIPDev[4] = {};
    QCheckBox *EnIP_checkBox = nullptr;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};

/// The four manual scan addresses and their switch. It has no buttons: it lives in a frame,
/// closes through the frame's close button, and hands its values over from its destructor.
class SetManIP_Dialog : public QDialog
{
    Q_OBJECT

public:
    explicit SetManIP_Dialog(QWidget *parent = nullptr);
    ~SetManIP_Dialog() override;

    /// The pattern of the address fields: four decimal octets 0..255 with dots.
    static QString addressPattern();

    /// Shows the fields below in the form.
    void loadValues();

    ManualAddresses ip = unusedManualAddresses();
    bool enableIp = false;

signals:
    void frSetManIP_DialogClosed(bool bEnIP, QString ip6170, QString ipQRT1, QString ipQRT2, QString ipQRT3);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::unique_ptr<SetManIPDialogForm> ui;
    QRegularExpressionValidator *validator = nullptr;
};

} // namespace orvo::ui
