#include "startup.h"

#include "appidentity.h"
#include "clock.h"
#include "darkstyle.h"
#include "devicerecord.h"
#include "framelesswindow.h"
#include "mainwindow.h"
#include "testcontrol.h"
#include "worker.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLockFile>
#include <QMessageBox>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QtDebug>

static void orvoInitResources()
{
    Q_INIT_RESOURCE(orvo);
}

namespace orvo::ui {

void initResources()
{
    orvoInitResources();
}

QString lockFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/OrvoUpdaterKvw.lock");
}

std::unique_ptr<FramelessWindow> createMainFrame(Clock *clock)
{
    auto frame = std::make_unique<FramelessWindow>();
    auto *mainWindow = clock ? new MainWindow(*clock) : new MainWindow;
    QString title = QStringLiteral("Orvo Updater  [") + QCoreApplication::applicationVersion() + QStringLiteral("]");
    // Every wait of the jobs is cut by the factor: whoever looks at the window must see it.
    if (clock && clock->factor() > 1.0)
        title += QStringLiteral("  -  time factor ") + QString::number(clock->factor())
            + QStringLiteral(", simulator only");
    frame->setWindowTitle(title);
    frame->setWindowIcon(QIcon(QStringLiteral(":/images/BigOrvo.ico")));
    frame->setContent(mainWindow);
    frame->setFixedSize(mainWindow->size());
    frame->setMaximumSize(mainWindow->size());
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (!screens.isEmpty())
        frame->setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frame->size(), screens.first()->geometry()));
    return frame;
}

int runApplication(QApplication &app)
{
    initResources();
    registerMetaTypes(); // the device list as "QVector <OrvoDiscoveryInfo>"
    QApplication::setStyle(new DarkStyle);
    setApplicationIdentity();

    const bool testControl = TestControl::startIfRequested(&app);

    const QString lockPath = lockFilePath();
    qDebug("%s", qUtf8Printable(QStringLiteral("lockFile: ") + lockPath));
    QLockFile lock(lockPath);
    if (!lock.tryLock(100)) {
        QMessageBox box(QMessageBox::Warning, QString(),
            QStringLiteral("You already have the Orvo Updater app open. Please switch to the open app."));
        box.exec();
        return 1;
    }

    // A seam for tests and the demo, which run the device simulator faster than real time: the
    // window's waits then run as many times faster. The window has no command line of its own.
    std::unique_ptr<Clock> scaled;
    bool factorOk = false;
    const double factor = qEnvironmentVariable("ORVO_TIME_FACTOR").toDouble(&factorOk);
    if (factorOk && factor > 1.0 && factor <= 10000.0) {
        scaled = std::make_unique<ScaledClock>(factor);
        qDebug("%s", qUtf8Printable(QStringLiteral("Time factor for testing: ") + QString::number(factor)));
    }

    // The frame is the shown window; destroying it destroys the main window, whose destructor
    // stops the worker first.
    const std::unique_ptr<FramelessWindow> frame = createMainFrame(scaled.get());
    // Standard input then presses the window's buttons, so a stray variable must not let it
    // reach a real device: the same rule as the time factor's.
    if (testControl) {
        Worker *worker = frame->findChild<MainWindow *>()->worker();
        if (worker->loopbackOnlyReason().isEmpty())
            worker->setLoopbackOnly(QStringLiteral("The test control (ORVO_TEST_CONTROL)"));
    }
    frame->show();
    return app.exec();
}

} // namespace orvo::ui
