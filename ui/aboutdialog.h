#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

class QGroupBox;
class QLabel;
class QListWidget;

namespace orvo::ui {

struct AboutDialogForm
{
    QLabel *About_VLabel = nullptr;
    QGroupBox *groupBox_Info = nullptr;
    QLabel *label_Info_Text = nullptr;
    QLabel *label_Info = nullptr;
    QGroupBox *groupBox_CLog = nullptr;
    QListWidget *About_Notes = nullptr;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};

/// Version, build date, architectures and operating system beside the release's changelog.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

    /// The build date this release shows.
    static QString buildDate();
    /// "Changelog.txt" in the parent of the program's folder.
    static QString defaultChangelogPath();
    /// Every line of the file at `path`, without line ends; none when it cannot be read.
    static QStringList readChangelog(const QString &path);

    /// Shows changelogLines, one row each, scrolled to the first.
    void fillChangelog();

    QString changelogPath;
    QStringList changelogLines;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::unique_ptr<AboutDialogForm> ui;
};

} // namespace orvo::ui
