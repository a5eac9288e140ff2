// The worker's request protocol and its owner's end: a second request while a job runs, modes
// outside the table, and the host destroyed while a job waits for an answer; and the texts of
// elapsed times. A job is held at a known point by its question: the worker thread waits while
// the box is open.

#include "catalogue.h"
#include "ipv4entry.h"
#include "jobrig.h"

#include <QtTest>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace orvo;
using namespace orvo::test;

namespace {

// A console whose meter board is out of date: an auto update asks before it writes anything.
devsim::DeviceConfig outdatedConsole()
{
    devsim::DeviceConfig c = devsim::defaultDevice(Console6170, QStringLiteral("127.0.0.3"));
    c.boards[16].version = 4;
    return c;
}

} // namespace

class tst_Worker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { quietDebugLines(); }

    void aSecondRequestIsRefusedWhileAJobRuns();
    void destroyingTheHostWhileAQuestionWaitsEndsTheJob();
    void modeOutsideTheTableRunsNoJob_data();
    void modeOutsideTheTableRunsNoJob();
    void timeTexts_data();
    void timeTexts();
    void ipv4Entries_data();
    void ipv4Entries();
};

void tst_Worker::aSecondRequestIsRefusedWhileAJobRuns()
{
    JobRig rig;
    QVERIFY(rig.startWith(outdatedConsole()));
    bool refused = false;
    bool touched = false;
    rig.front.onBox = [&] {
        WorkRequest next;
        next.mode = JobMode::GetVersions;
        refused = rig.worker().isWorking() && !rig.host.request(next, [&](WorkRequest &) { touched = true; });
    };
    rig.front.answers.enqueue(kNo);
    QVERIFY(rig.run(JobMode::AutoUpdate, rig.select(0)));
    QVERIFY(refused);
    QVERIFY(!touched);
    // The first job ran to its end undisturbed; once idle, the next request is taken.
    QCOMPARE(rig.ended(), QStringLiteral("cancelled 0"));
    QVERIFY(rig.run(JobMode::GetVersions, rig.select(0)));
}

void tst_Worker::destroyingTheHostWhileAQuestionWaitsEndsTheJob()
{
    // The owner goes away while the job asks a question that its thread will not serve any
    // more (it is blocked in the destructor's wait; a closing window has left its event loop):
    // the question must come back unanswered, or neither thread ever moves again. The job asks
    // at its first step here, from the worker thread, and this thread turns no event loop.
    TestFrontEnd front;
    auto host = std::make_unique<WorkerHost>(Clock::real(), &front);
    Worker *worker = host->worker();
    std::atomic<bool> asking { false };
    connect(
        worker, &Worker::frW_EnableControls, worker,
        [worker, &asking](bool bEnable) {
            if (bEnable)
                return;
            asking = true;
            emit worker->frWorker_showMessageBox(
                BoxIcon::Critical, QStringLiteral("Title"), QStringLiteral("Question"), BoxButtons::YesNo);
        },
        Qt::DirectConnection);
    WorkRequest check;
    check.mode = JobMode::CheckPanel;
    QVERIFY(host->request(check));
    for (int i = 0; i < 20000 && !asking; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QVERIFY(asking);

    // Should the destructor hang, free it after a while so that the test fails instead: drop
    // the queued call on the front end's side, where the host puts its receiver.
    const QList<QObject *> receivers = front.findChildren<QObject *>(QString(), Qt::FindDirectChildrenOnly);
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
    host.reset();
    {
        std::lock_guard<std::mutex> lock(mutex);
        destroyed = true;
    }
    changed.notify_all();
    watchdog.join();
    QVERIFY(!rescued);

    QCoreApplication::sendPostedEvents();
    QVERIFY(front.boxes.isEmpty());
    QCOMPARE(front.enables, (QVector<bool> { false, true })); // the job ran to its end
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
    TestFrontEnd front;
    WorkerHost host(Clock::real(), &front);
    QVERIFY(runJob(host, JobMode(mode)));
    QVERIFY(front.trace.isEmpty());
    QVERIFY(front.jobEnds.isEmpty());
    QVERIFY(!host.worker()->isWorking());
}

// The elapsed time at the end of a board's result line and of a whole run's closing line.
void tst_Worker::timeTexts_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("panelText");
    QTest::addColumn<QString>("totalText");

    QTest::newRow("-5 s counts as zero") << qint64(-5000) << QString() << QString();
    QTest::newRow("0.4 s") << qint64(400) << QString() << QString();
    QTest::newRow("45 s") << qint64(45000) << "   [45 secs]"
                          << "     [45 secs]";
    QTest::newRow("75 s") << qint64(75000) << "   [1 mins, 15 secs]"
                          << "     [1 mins, 15 secs]";
    QTest::newRow("2 min 5.999 s") << qint64(125999) << "   [2 mins, 5 secs]"
                                   << "     [2 mins, 5 secs]";
    QTest::newRow("2 min 0 s") << qint64(120000) << "   [2 mins, 0 secs]"
                               << "     [2 mins, 0 secs]";
    // An hour and more: the board's text names the hours as well, like the total.
    QTest::newRow("1 h 0 min 0.5 s") << qint64(3600500) << "   [1 hrs, 0 mins, 0 secs]"
                                     << "     [1 hrs, 0 mins, 0 secs]";
    QTest::newRow("25 h 59 min 59 s") << qint64(93599000) << "   [25 hrs, 59 mins, 59 secs]"
                                      << "     [25 hrs, 59 mins, 59 secs]";
}

void tst_Worker::timeTexts()
{
    QFETCH(qint64, ms);
    QTEST(panelTimeText(ms), "panelText");
    QTEST(totalTimeText(ms), "totalText");
}

void tst_Worker::ipv4Entries_data()
{
    // The entry as typed; the address it gives ("" when refused); whether it can name a device.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("oneDevice");
    QTest::newRow("the dialog's leading zeros") << "010.001.000.100"
                                                << "10.1.0.100" << true;
    QTest::newRow("blanks around it") << " 127.0.0.2\t"
                                      << "127.0.0.2" << true;
    QTest::newRow("this computer") << "0.0.0.0"
                                   << "0.0.0.0" << false;
    QTest::newRow("multicast") << "224.0.0.1"
                               << "224.0.0.1" << false;
    QTest::newRow("unused entry") << "255.255.255.255"
                                  << "255.255.255.255" << false;
    QTest::newRow("highest unicast") << "223.255.255.254"
                                     << "223.255.255.254" << true;
    QTest::newRow("256") << "1.2.3.256"
                         << "" << false;
    QTest::newRow("four digits") << "0127.0.0.1"
                                 << "" << false;
    QTest::newRow("empty field") << "1..2.3"
                                 << "" << false;
    QTest::newRow("three fields") << "1.2.3"
                                  << "" << false;
    QTest::newRow("five fields") << "1.2.3.4.5"
                                 << "" << false;
    QTest::newRow("a sign") << "+1.2.3.4"
                            << "" << false;
    QTest::newRow("a blank inside") << "1. 2.3.4"
                                    << "" << false;
    QTest::newRow("a host name") << "localhost"
                                 << "" << false;
    QTest::newRow("empty") << ""
                           << "" << false;
}

void tst_Worker::ipv4Entries()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    QFETCH(bool, oneDevice);
    const std::optional<Ipv4Entry> entry = parseIpv4Entry(text);
    QCOMPARE(entry ? entry->address : QString(), address);
    QCOMPARE(entry && namesOneDevice(*entry), oneDevice);
}

QTEST_GUILESS_MAIN(tst_Worker)
#include "tst_worker.moc"
