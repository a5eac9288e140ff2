#include "catalogue.h"
#include "clock.h"
#include "debugcapture.h"
#include "simulator.h"
#include "testfrontend.h"
#include "workerhost.h"

#include <QTcpSocket>
#include <QtTest>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using namespace orvo;
using namespace orvo::test;
namespace sim = orvo::devsim;

namespace {

const QString kDeviceAddress = QStringLiteral("127.0.0.3");
const PanelSlot kAudioBoard { 0, 1, 2, 1 }; // "Channel AudioBoard 13-16" of the console

int audioBoardPosition()
{
    return findPanelIndex(Console6170, kAudioBoard).value_or(-1);
}

/// A fast clock with a gate: while the gate is closed, a thread that sleeps (or, with
/// `holdSocketWaits`, that is about to start a blocking socket wait) stops there until it opens.
/// It lets a test hold a job at a known point without depending on how fast anything runs.
class GateClock final : public Clock
{
public:
    time_point now() const override { return m_inner.now(); }

    void sleepUntil(time_point deadline) override
    {
        pass(false);
        m_inner.sleepUntil(deadline);
    }

    int socketWaitMs(int ms) const override
    {
        pass(true);
        return m_inner.socketWaitMs(ms);
    }

    void close(bool holdSocketWaits)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_holdSocketWaits = holdSocketWaits;
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = false;
        m_changed.notify_all();
    }
    /// Blocks until a thread waits at the closed gate; false after `realMs`.
    bool waitForArrival(int realMs = 20000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(realMs), [this] { return m_waiting > 0; });
    }
    int sleeps() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sleeps;
    }

private:
    void pass(bool socketWait) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!socketWait)
            ++m_sleeps;
        if (!m_closed || (socketWait && !m_holdSocketWaits))
            return;
        ++m_waiting;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_closed; });
        --m_waiting;
    }

    ScaledClock m_inner { 1000 };
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_closed = false;
    bool m_holdSocketWaits = false;
    mutable int m_waiting = 0;
    mutable int m_sleeps = 0;
};

} // namespace

class tst_Worker : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void aSecondRequestIsRefusedWhileAJobRuns();
    void requestWorkClearsAnEarlierAbort();
    void abortWithoutAJobChangesNothing();
    void destroyingTheHostEndsALongJobAtItsNextPoll();
    void destroyingTheHostWhileAQuestionWaitsEndsTheJob();
    void modeOutsideTheTableRunsNoJob_data();
    void modeOutsideTheTableRunsNoJob();
    void probeDeviceAt_data();
    void probeDeviceAt();
    void requestInfo_data();
    void requestInfo();
    void messageBoxAnswerReachesTheWorker();
    void discardClientDeletesOnlySockets();

private:
    /// Starts the simulator with one console at kDeviceAddress, builds the host and selects the
    /// console's audio board.
    void setUpRig(Clock &clock, const sim::DeviceConfig &device);
    void select(Worker &w) const;
    /// Requests a check of the audio board and holds it at its first socket wait: it has
    /// certainly started and not yet ended.
    bool holdACheck()
    {
        m_clock->close(true);
        return m_host->request(CheckPanel, [this](Worker &w) { select(w); }) && m_clock->waitForArrival();
    }

    std::unique_ptr<sim::Simulator> m_sim;
    std::unique_ptr<TestFrontEnd> m_front;
    std::unique_ptr<WorkerHost> m_host;
    std::unique_ptr<DebugCapture> m_debug;
    std::unique_ptr<GateClock> m_clock;
    OrvoDiscoveryInfo m_record;
};

void tst_Worker::init()
{
    m_debug = std::make_unique<DebugCapture>();
    m_clock = std::make_unique<GateClock>();
    setUpRig(*m_clock, sim::defaultDevice(Console6170, kDeviceAddress));
}

void tst_Worker::cleanup()
{
    if (m_clock)
        m_clock->open();
    m_host.reset();
    m_front.reset();
    if (m_sim) {
        const auto violations = m_sim->violations();
        for (const auto &v : violations)
            qWarning() << "violation:" << v.device << v.what << v.bytes.toHex();
        QVERIFY(violations.isEmpty());
    }
    m_sim.reset();
    m_debug.reset();
}

void tst_Worker::setUpRig(Clock &clock, const sim::DeviceConfig &device)
{
    m_sim = std::make_unique<sim::Simulator>(1.0);
    m_sim->addDevice(device);
    QString error;
    QVERIFY2(m_sim->start(0, &error), qPrintable(error));
    m_front = std::make_unique<TestFrontEnd>();
    m_host = std::make_unique<WorkerHost>(clock, m_front.get());
    m_host->worker()->devicePort = m_sim->port(0);

    // The record the device would give a scan.
    m_record.setHeader(111, kMagic, KindDeviceInfo, static_cast<std::uint16_t>(device.type));
    m_record.setType(device.type);
    m_record.setName("Before");
    m_record.setMac(device.mac);
    m_record.setIp({ { 127, 0, 0, 3 } });
    m_host->worker()->foundDevices = { m_record };
}

void tst_Worker::select(Worker &w) const
{
    w.selectedDevice = 0;
    w.deviceType = Console6170;
    w.panelIndex = audioBoardPosition();
}

void tst_Worker::aSecondRequestIsRefusedWhileAJobRuns()
{
    QVERIFY(holdACheck());
    QVERIFY(m_host->worker()->isWorking());

    m_debug->clear();
    bool touched = false;
    QVERIFY(!m_host->request(GetVersions, [&](Worker &) { touched = true; }));
    QVERIFY(!touched);
    QCOMPARE(m_debug->starting("worker still busy"), QStringList { "worker still busy" });

    // The first job runs to its end undisturbed.
    m_clock->open();
    QVERIFY(waitForIdle(*m_host));
    QVERIFY(!m_host->worker()->isAbortRequested());
    QCOMPARE(m_front->lines.filter(QStringLiteral(" Found!  Firmware version: ")).size(), 1);
    QCOMPARE(m_front->enables, (QVector<bool> { false, true }));
    QCOMPARE(m_sim->snapshot(0).boards[audioBoardPosition()].statusQueries, 1);

    // Once idle, the next request is taken.
    QVERIFY(runJob(*m_host, CheckPanel, [this](Worker &w) { select(w); }));
}

void tst_Worker::requestWorkClearsAnEarlierAbort()
{
    QVERIFY(holdACheck());
    m_host->worker()->abort();
    QVERIFY(m_host->worker()->isAbortRequested());
    m_clock->open();
    QVERIFY(waitForIdle(*m_host));
    QVERIFY(m_host->worker()->isAbortRequested()); // left over from the aborted job

    QVERIFY(holdACheck());
    QVERIFY(!m_host->worker()->isAbortRequested());
    m_clock->open();
    QVERIFY(waitForIdle(*m_host));
}

void tst_Worker::abortWithoutAJobChangesNothing()
{
    Worker &w = *m_host->worker();
    w.abort();
    QVERIFY(!w.isAbortRequested());
    QVERIFY(!w.isWorking());
    QVERIFY(w.currentFirmwareFile().isEmpty());
}

void tst_Worker::destroyingTheHostEndsALongJobAtItsNextPoll()
{
    // A board that takes the query and never answers: the check ends up in the 1 ms polls of
    // the reply wait, where the gate holds it.
    m_sim->addFault(0, { sim::FaultKind::AcceptNoAnswer, -1, 1, -1, 0 });
    m_clock->close(false);
    QVERIFY(m_host->request(CheckPanel, [this](Worker &w) { select(w); }));
    QVERIFY(m_clock->waitForArrival());

    // Opens the gate once the host's destructor has asked for the abort, and notes how many
    // sleeps had begun by then.
    Worker *worker = m_host->worker();
    int sleepsAtAbort = -1;
    std::thread opener([&] {
        for (int i = 0; i < 20000 && !worker->isAbortRequested(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sleepsAtAbort = m_clock->sleeps();
        m_clock->open();
    });
    m_host.reset(); // aborts, waits for the thread without a limit, deletes
    opener.join();

    QVERIFY(sleepsAtAbort > 0);
    QCOMPARE(m_clock->sleeps(), sleepsAtAbort); // no further poll after the abort
    // The job still ran its closing steps.
    QCoreApplication::sendPostedEvents();
    const QString name = panelName(Console6170, audioBoardPosition());
    QCOMPARE(m_front->lines.last(), QStringLiteral("[4] Warning!  Failed to Connect to ") + name);
    QCOMPARE(m_front->enables, (QVector<bool> { false, true }));
}

void tst_Worker::destroyingTheHostWhileAQuestionWaitsEndsTheJob()
{
    // The owner goes away while the job asks a question that its thread will not serve any
    // more (it is blocked in the destructor's wait; a closing window has left its event loop):
    // the question must come back unanswered, or neither thread ever moves again. The job asks
    // at its first step here, from the worker thread, and this thread turns no event loop.
    Worker *worker = m_host->worker();
    std::atomic<bool> asking { false };
    connect(
        worker, &Worker::frW_EnableControls, worker,
        [worker, &asking](bool bEnable) {
            if (bEnable)
                return;
            asking = true;
            emit worker->frWorker_showMessageBox(3, QStringLiteral("Title"), QStringLiteral("Question"),
                                                 uint(kYes | kNo));
        },
        Qt::DirectConnection);
    worker->msgBoxResult = 0;
    QVERIFY(m_host->request(CheckPanel, [this](Worker &w) { select(w); }));
    for (int i = 0; i < 20000 && !asking; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QVERIFY(asking);

    // Should the destructor hang, free it after a while so that the test fails instead: drop
    // the queued call on the front end's side, where the host puts its receiver.
    const QList<QObject *> receivers = m_front->findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly);
    std::mutex mutex;
    std::condition_variable changed;
    bool destroyed = false;
    bool rescued = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(30), [&] { return destroyed; })) {
            rescued = true;
            for (QObject *receiver : receivers)
                QCoreApplication::removePostedEvents(receiver, QEvent::MetaCall);
        }
    });
    m_host.reset();
    {
        std::lock_guard<std::mutex> lock(mutex);
        destroyed = true;
    }
    changed.notify_all();
    watchdog.join();
    QVERIFY(!rescued);

    QCoreApplication::sendPostedEvents();
    QVERIFY(m_front->boxes.isEmpty());
    QCOMPARE(m_front->enables, (QVector<bool> { false, true })); // the job ran to its end
}

void tst_Worker::modeOutsideTheTableRunsNoJob_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("-1") << -1;
    QTest::newRow("8") << 8;
    QTest::newRow("1000") << 1000;
}

void tst_Worker::modeOutsideTheTableRunsNoJob()
{
    QFETCH(int, mode);
    QVERIFY(runJob(*m_host, mode));
    QVERIFY(m_front->trace.isEmpty());
    QVERIFY(m_front->jobEnds.isEmpty());
    QVERIFY(!m_host->worker()->isWorking());
}

void tst_Worker::probeDeviceAt_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("addToList");
    QTest::addColumn<bool>("type5");
    QTest::addColumn<bool>("found");
    QTest::newRow("found, listed") << kDeviceAddress << true << false << true;
    QTest::newRow("found, not listed") << kDeviceAddress << false << false << true;
    QTest::newRow("header type 5") << kDeviceAddress << true << true << false;
    QTest::newRow("nobody there") << QStringLiteral("127.0.0.4") << true << false << false;
}

void tst_Worker::probeDeviceAt()
{
    QFETCH(QString, address);
    QFETCH(bool, addToList);
    QFETCH(bool, type5);
    QFETCH(bool, found);
    if (type5)
        m_sim->addFault(0, { sim::FaultKind::DiscoveryType5, -1, 1, -1, 0 });
    // The probe runs in the calling thread here; the worker thread is not needed for it.
    Worker &w = *m_host->worker();
    w.foundDevices.clear();
    QCOMPARE(w.probeDeviceAt(address, addToList), found);
    QCOMPARE(w.foundDevices.size(), found && addToList ? 1 : 0);
    if (found) {
        // A second answer from the same device replaces its entry.
        QVERIFY(w.probeDeviceAt(address, addToList));
        QCOMPARE(w.foundDevices.size(), addToList ? 1 : 0);
    }
}

void tst_Worker::requestInfo_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("vanished");
    QTest::newRow("replaces the selected record") << 1 << false;
    QTest::newRow("vanished device: the list unchanged") << 1 << true;
    QTest::newRow("no selection: the list unchanged") << 5 << false;
}

void tst_Worker::requestInfo()
{
    QFETCH(int, selected);
    QFETCH(bool, vanished);
    if (vanished) {
        m_sim->addFault(0, { sim::FaultKind::Vanish, -1, 1, -1, 0 });
        QTRY_VERIFY(!m_sim->snapshot(0).listening);
    }
    Worker &w = *m_host->worker();
    OrvoDiscoveryInfo other = m_record;
    other.setMac({ { 1, 2, 3, 4, 5, 6 } });
    w.foundDevices = { other, m_record };
    w.selectedDevice = selected;
    QSignalSpy spy(&w, &Worker::frWorker_updateDevicesCombo);
    w.RequestInfo();
    QCOMPARE(spy.size(), 1);
    const auto list = spy.first().first().value<DeviceList>();
    QCOMPARE(list, w.foundDevices);
    const bool updated = selected == 1 && !vanished;
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(0), other);
    QCOMPARE(list.at(1).nameBytes(), updated ? QByteArray("6170 Console") : QByteArray("Before"));
    QCOMPARE(m_sim->snapshot(0).connections, updated ? 1 : 0);
}

void tst_Worker::messageBoxAnswerReachesTheWorker()
{
    // The emission blocks its thread until the front end has answered in its own thread.
    m_front->answers.enqueue(kYes);
    Worker *w = m_host->worker();
    w->msgBoxResult = 0;
    std::atomic<bool> returned { false };
    std::thread asker([&] {
        emit w->frWorker_showMessageBox(3, QStringLiteral("Title"), QStringLiteral("Text"), 0x4000 | 0x10000);
        returned = true;
    });
    QTRY_VERIFY(returned.load());
    asker.join();
    QCOMPARE(w->msgBoxResult, kYes);
    QCOMPARE(m_front->boxes.size(), 1);
    QCOMPARE(m_front->boxes.first().title, QStringLiteral("Title"));
    QCOMPARE(m_front->boxes.first().buttons, uint(0x4000 | 0x10000));
}

void tst_Worker::discardClientDeletesOnlySockets()
{
    Worker w(*m_clock);
    QPointer<QTcpSocket> socket = new QTcpSocket;
    QPointer<QObject> other = new QObject;
    connect(socket.data(), &QTcpSocket::disconnected, &w, &Worker::discardClient);
    connect(other.data(), &QObject::objectNameChanged, &w, &Worker::discardClient);
    other->setObjectName("x");
    emit socket->disconnected();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(socket.isNull());
    QVERIFY(!other.isNull());
    delete other.data();
}

QTEST_GUILESS_MAIN(tst_Worker)
#include "tst_worker.moc"
