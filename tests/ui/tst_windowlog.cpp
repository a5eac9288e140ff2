// The window's log file: what a row writes, what it leaves out, and what happens when the file
// or the whole data folder cannot be used.

#include "appidentity.h"
#include "mainwindow.h"
#include "uitestsupport.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QStandardPaths>

using namespace orvo;
using namespace orvo::ui;

namespace {

using test::logPath;

QString logText()
{
    QFile file(logPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void addRow(MainWindow &w, int icon, const QString &text)
{
    QVERIFY(QMetaObject::invokeMethod(&w, "insertListItem", Q_ARG(int, icon), Q_ARG(QString, text), Q_ARG(int, 0),
                                      Q_ARG(bool, false)));
}

int listedRows(MainWindow &w)
{
    return w.findChild<QListWidget *>(QStringLiteral("Log_listWidget"))->count();
}

/// A window whose log stamps read `start`, one millisecond later for every row.
std::unique_ptr<MainWindow> windowAt(const QDateTime &start)
{
    auto w = std::make_unique<MainWindow>();
    auto next = std::make_shared<qint64>(0);
    w->setWallClock([start, next] { return start.addMSecs((*next)++); });
    return w;
}

} // namespace

class WindowLogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void init() { QFile::remove(logPath()); }
    void rowsAppendedAcrossRuns();
    void unwritableFileIsTriedAgain();
    void noDataFolder();
};

void WindowLogTest::rowsAppendedAcrossRuns()
{
    const QDateTime morning(QDate(2026, 3, 9), QTime(7, 5, 3, 42));
    {
        auto w = windowAt(morning);
        addRow(*w, 2, QStringLiteral("Scanning for Orvo devices ..."));
        addRow(*w, 2, QStringLiteral("Scanning IP addresses: 192.168.1.17"));
        addRow(*w, 0, QString());
        addRow(*w, 1, QStringLiteral("Über-Konsole Studio 2 found"));
        QCOMPARE(listedRows(*w), 4); // the sweep's address line is listed, but not logged
    }
    {
        auto w = windowAt(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999)));
        addRow(*w, 3, QStringLiteral("Second run"));
    }
    QCOMPARE(logText(),
             QStringLiteral("09/03/2026  07:05:03.042   Scanning for Orvo devices ...\n"
                            "09/03/2026  07:05:03.043   \n"
                            "09/03/2026  07:05:03.044   Über-Konsole Studio 2 found\n"
                            "31/12/2026  23:59:59.999   Second run\n"));
}

void WindowLogTest::unwritableFileIsTriedAgain()
{
    // A folder where the file should be cannot be opened for writing, even by root.
    QVERIFY(QDir().mkpath(logPath()));
    auto w = windowAt(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QStringLiteral("Could not open ") + logPath()));
    addRow(*w, 2, QStringLiteral("lost"));
    QCOMPARE(listedRows(*w), 1);

    QVERIFY(QDir(logPath()).removeRecursively());
    addRow(*w, 2, QStringLiteral("kept"));
    QCOMPARE(listedRows(*w), 2);
    QCOMPARE(logText(), QStringLiteral("02/01/2026  03:04:05.001   kept\n"));
}

void WindowLogTest::noDataFolder()
{
    // The data location below a plain file cannot be created.
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    const QString blocker = QDir(QString::fromUtf8(saved)).filePath(QStringLiteral("not-a-folder"));
    QFile file(blocker);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("XDG_DATA_HOME", blocker.toUtf8());

    QTest::ignoreMessage(QtDebugMsg, "Log create/open failed");
    {
        MainWindow w;
        addRow(w, 2, QStringLiteral("only listed"));
        QCOMPARE(listedRows(w), 1);
    }
    qputenv("XDG_DATA_HOME", saved);
    QFile::remove(blocker);
    QVERIFY(!QFile::exists(logPath()));
}

ORVO_UI_TEST_MAIN(WindowLogTest)
#include "tst_windowlog.moc"
