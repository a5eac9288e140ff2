// The frameless frame: the main frame's title, icon, size and place; the four looks; dragging by
// the title bar; presses that must do nothing; the inactive look when the application is left.

#include "appidentity.h"
#include "framelesswindow.h"
#include "mainwindow.h"
#include "uitestsupport.h"
#include "windowdragger.h"

#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QSignalSpy>
#include <QToolButton>

using namespace orvo;
using namespace orvo::ui;

namespace {

WindowDragger *titlebar(FramelessWindow &f)
{
    return f.findChild<WindowDragger *>(QStringLiteral("windowTitlebar"));
}

/// Sends a mouse event with exact global coordinates: the title bar moves with the frame, so
/// positions mapped from it change while a drag runs.
void send(QWidget *target, QEvent::Type type, const QPoint &global, Qt::MouseButtons buttons)
{
    const QPoint local = target->mapFromGlobal(global);
    QMouseEvent event(type, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

QString titlebarSheet(FramelessWindow &f)
{
    return titlebar(f)->styleSheet();
}

QString frameSheet(FramelessWindow &f)
{
    return f.findChild<QWidget *>(QStringLiteral("windowFrame"))->styleSheet();
}

} // namespace

class FrameTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void mainFrame();
    void frameForm();
    void looks_data();
    void looks();
    void dragMovesByTheMouseDelta();
    void doubleClickAndBorderPressDoNothing();
    void applicationInactiveAndBack();
    void paintsShadowTitleAndContent();
};

void FrameTest::mainFrame()
{
    const std::unique_ptr<FramelessWindow> frame = createMainFrame();
    QCOMPARE(frame->findChild<QLabel *>(QStringLiteral("titleText"))->text(), QStringLiteral("Orvo Updater  [7.35]"));
    QVERIFY(frame->windowTitle().isEmpty());
    const QPixmap icon = frame->findChild<QLabel *>(QStringLiteral("icon"))->pixmap(Qt::ReturnByValue);
    QCOMPARE(icon.size(), QSize(16, 16));

    auto *content = frame->findChild<MainWindow *>();
    QVERIFY(content);
    QCOMPARE(content->parentWidget()->objectName(), QStringLiteral("windowContent"));
    QCOMPARE(frame->minimumSize(), QSize(721, 715));
    QCOMPARE(frame->maximumSize(), QSize(721, 715));

    const QRect screen = QGuiApplication::screens().first()->geometry();
    QCOMPARE(frame->geometry().size(), QSize(721, 715));
    // Equal room on both sides, give or take the odd pixel.
    QVERIFY(qAbs(2 * (frame->x() - screen.x()) - (screen.width() - 721)) <= 1);
    QVERIFY(qAbs(2 * (frame->y() - screen.y()) - (screen.height() - 715)) <= 1);

    // The whole program fits in the fixed frame: nothing of the main window is cut off.
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    const QWidget *lowest = content->findChild<QWidget *>(QStringLiteral("progressBar_Auto"));
    const QPoint bottomRight = lowest->mapTo(frame.get(), lowest->rect().bottomRight());
    QVERIFY2(frame->rect().contains(bottomRight), "the lower progress bar lies outside the frame");
}

void FrameTest::frameForm()
{
    FramelessWindow frame;
    const Qt::WindowFlags flags = frame.windowFlags();
    QVERIFY(flags & Qt::FramelessWindowHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(frame.testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(frame.testAttribute(Qt::WA_NoSystemBackground));
    QCOMPARE(frame.layout()->contentsMargins(), QMargins(5, 5, 5, 5));

    const auto button = [&](const char *name) { return frame.findChild<QToolButton *>(QLatin1String(name)); };
    QVERIFY(!button("minimizeButton")->isHidden());
    QVERIFY(!button("closeButton")->isHidden());
    QVERIFY(button("restoreButton")->isHidden() && !button("restoreButton")->isEnabled());
    QVERIFY(button("maximizeButton")->isHidden() && !button("maximizeButton")->isEnabled());

    auto *textShadow = qobject_cast<QGraphicsDropShadowEffect *>(
        frame.findChild<QLabel *>(QStringLiteral("titleText"))->graphicsEffect());
    QVERIFY(textShadow);
    QCOMPARE(textShadow->blurRadius(), 4.0);
    QCOMPARE(textShadow->color(), QColor(Qt::black));
    auto *frameShadow = qobject_cast<QGraphicsDropShadowEffect *>(
        frame.findChild<QWidget *>(QStringLiteral("windowFrame"))->graphicsEffect());
    QVERIFY(frameShadow);
    QCOMPARE(frameShadow->blurRadius(), 9.0);
    QCOMPARE(frameShadow->offset(), QPointF(0, 0));

    // The close button closes the frame; a content put in goes with it.
    QPointer<QWidget> content = new QWidget;
    frame.setContent(content);
    QCOMPARE(content->parentWidget()->objectName(), QStringLiteral("windowContent"));
    frame.show();
    QTest::mouseClick(button("closeButton"), Qt::LeftButton);
    QVERIFY(!frame.isVisible());
}

void FrameTest::looks_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("noState");
    QTest::addColumn<QString>("titleBackground");
    QTest::addColumn<QString>("frameBorder");
    QTest::addColumn<QString>("radius");
    QTest::addColumn<bool>("shadow");

    QTest::newRow("active, normal") << true << true << "palette(shadow)" << "palette(shadow)" << "5px" << true;
    QTest::newRow("active, maximized") << true << false << "palette(shadow)" << "palette(shadow)" << "5px" << false;
    QTest::newRow("inactive, normal") << false << true << "palette(dark)" << "#000000" << "5px" << true;
    QTest::newRow("inactive, maximized") << false << false << "palette(dark)" << "palette(shadow)" << "0px" << false;
}

void FrameTest::looks()
{
    QFETCH(bool, active);
    QFETCH(bool, noState);
    QFETCH(QString, titleBackground);
    QFETCH(QString, frameBorder);
    QFETCH(QString, radius);
    QFETCH(bool, shadow);

    FramelessWindow frame;
    frame.styleWindow(!active, !noState); // from the opposite look
    frame.styleWindow(active, noState);
    QVERIFY2(titlebarSheet(frame).contains(QStringLiteral("background-color:") + titleBackground),
             qPrintable(titlebarSheet(frame)));
    QVERIFY2(titlebarSheet(frame).contains(QStringLiteral("border-top-left-radius:") + radius),
             qPrintable(titlebarSheet(frame)));
    QVERIFY2(frameSheet(frame).contains(QStringLiteral("border:1px solid ") + frameBorder), qPrintable(frameSheet(frame)));
    QVERIFY2(frameSheet(frame).contains(QStringLiteral("border-radius:") + radius), qPrintable(frameSheet(frame)));
    QCOMPARE(frame.findChild<QWidget *>(QStringLiteral("windowFrame"))->graphicsEffect() != nullptr, shadow);
    QCOMPARE(frame.layout()->contentsMargins(), shadow ? QMargins(5, 5, 5, 5) : QMargins());
}

void FrameTest::dragMovesByTheMouseDelta()
{
    FramelessWindow frame;
    frame.resize(400, 300);
    frame.move(100, 120);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    WindowDragger *bar = titlebar(frame);
    const QPoint start = frame.pos();
    const QPoint press = bar->mapToGlobal(QPoint(60, 8));

    send(bar, QEvent::MouseButtonPress, press, Qt::LeftButton);
    QVERIFY(bar->isDragging());
    send(bar, QEvent::MouseMove, press + QPoint(37, 23), Qt::LeftButton);
    QCOMPARE(frame.pos(), start + QPoint(37, 23));
    send(bar, QEvent::MouseMove, press + QPoint(-15, 4), Qt::LeftButton); // each move from the press
    QCOMPARE(frame.pos(), start + QPoint(-15, 4));
    send(bar, QEvent::MouseButtonRelease, press + QPoint(-15, 4), Qt::NoButton);
    QVERIFY(!bar->isDragging());
    send(bar, QEvent::MouseMove, press + QPoint(80, 80), Qt::NoButton);
    QCOMPARE(frame.pos(), start + QPoint(-15, 4));
}

void FrameTest::doubleClickAndBorderPressDoNothing()
{
    FramelessWindow frame;
    frame.resize(400, 300);
    frame.move(50, 60);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const QRect before = frame.geometry();
    QSignalSpy doubleClicked(titlebar(frame), &WindowDragger::doubleClicked);

    QTest::mouseDClick(titlebar(frame), Qt::LeftButton, Qt::NoModifier, QPoint(60, 8));
    QCOMPARE(doubleClicked.count(), 1);
    QCOMPARE(frame.windowState(), Qt::WindowNoState);
    QCOMPARE(frame.geometry(), before);

    // The transparent border around the frame: a press and a move there neither resize nor move.
    const QPoint border = frame.mapToGlobal(QPoint(2, 150));
    send(&frame, QEvent::MouseButtonPress, border, Qt::LeftButton);
    send(&frame, QEvent::MouseMove, border + QPoint(30, 30), Qt::LeftButton);
    send(&frame, QEvent::MouseButtonRelease, border + QPoint(30, 30), Qt::NoButton);
    QTest::mouseDClick(&frame, Qt::LeftButton, Qt::NoModifier, QPoint(2, 150));
    QCOMPARE(frame.geometry(), before);
    QCOMPARE(frame.windowState(), Qt::WindowNoState);
}

void FrameTest::applicationInactiveAndBack()
{
    // The offscreen platform keeps the application active while a window of it exists, so the
    // switch to another program and back arrives as the application's own state signal.
    FramelessWindow frame;
    frame.resize(300, 200);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QVERIFY(titlebarSheet(frame).contains(QStringLiteral("background-color:palette(shadow)")));

    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    QVERIFY2(titlebarSheet(frame).contains(QStringLiteral("background-color:palette(dark)")), qPrintable(titlebarSheet(frame)));
    QVERIFY2(frameSheet(frame).contains(QStringLiteral("border:1px solid #000000")), qPrintable(frameSheet(frame)));

    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    QVERIFY(titlebarSheet(frame).contains(QStringLiteral("background-color:palette(shadow)")));
    QVERIFY(frameSheet(frame).contains(QStringLiteral("border:1px solid palette(shadow)")));

    // A hidden or suspended application counts as not active.
    emit qApp->applicationStateChanged(Qt::ApplicationHidden);
    QVERIFY(titlebarSheet(frame).contains(QStringLiteral("background-color:palette(dark)")));
}

namespace {

/// Whether `image` holds a pixel brighter than the title bar inside `rect`: the title's letters.
bool hasLetters(const QImage &image, const QRect &rect)
{
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (qGray(image.pixel(x, y)) > 100)
                return true;
    return false;
}

} // namespace

void FrameTest::paintsShadowTitleAndContent()
{
    FramelessWindow frame;
    frame.setWindowTitle(QStringLiteral("MMMMMMMM"));
    auto *content = new QWidget;
    content->setFixedSize(400, 200);
    auto *bar = new QProgressBar(content);
    bar->setGeometry(20, 150, 360, 20);
    frame.setContent(content);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    auto *title = frame.findChild<QLabel *>(QStringLiteral("titleText"));
    auto *windowFrame = frame.findChild<QWidget *>(QStringLiteral("windowFrame"));
    const QRect titleRect(title->mapTo(&frame, QPoint()), title->size());
    const QRect frameRect(windowFrame->geometry());

    // What is on the screen (the offscreen platform grabs its backing store, without alpha) and
    // what grab() renders: the title's letters; in the rendered picture also the shadow in the
    // margin, fading outwards, and the opaque frame.
    const QImage screen = frame.screen()->grabWindow(frame.winId()).toImage();
    QCOMPARE(screen.size(), frame.size());
    QVERIFY(hasLetters(screen, titleRect));
    const QImage grabbed = frame.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(hasLetters(grabbed, titleRect));
    const int midY = frameRect.center().y();
    const int nearEdge = qAlpha(grabbed.pixel(frameRect.left() - 1, midY));
    const int farOut = qAlpha(grabbed.pixel(0, midY));
    QVERIFY2(nearEdge > farOut && nearEdge > 64 && farOut < 64, qPrintable(QStringLiteral("%1 %2").arg(nearEdge).arg(farOut)));
    QCOMPARE(qAlpha(grabbed.pixel(frameRect.center())), 255);
    QCOMPARE(qAlpha(grabbed.pixel(0, 0)), 0);

    // A progress step repaints the bar's own area: the title, elsewhere in the frame, is not
    // painted again.
    test::PaintCounter titlePaints(title);
    for (int value = 1; value <= 20; ++value) {
        bar->setValue(value);
        QApplication::processEvents();
    }
    QCOMPARE(titlePaints.paints, 0);
    const QImage after = frame.screen()->grabWindow(frame.winId()).toImage();
    QVERIFY(hasLetters(after, titleRect));
}

ORVO_UI_TEST_MAIN(FrameTest)
#include "tst_frame.moc"
