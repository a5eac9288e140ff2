// The frameless frame: the main frame's title, icon, size and place; dragging by the title bar
// and presses that must do nothing; the inactive look when the application is left; what it
// paints.

#include "appidentity.h"
#include "clock.h"
#include "framelesswindow.h"
#include "mainwindow.h"
#include "uitestsupport.h"
#include "windowdragger.h"

#include <QLabel>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScreen>

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
    QMouseEvent event(
        type, local, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class FrameTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }
    void mainFrame();
    void mousePresses();
    void applicationInactiveAndBack();
    void paintsShadowAndTitle();
};

void FrameTest::mainFrame()
{
    ScaledClock fast(50);
    QCOMPARE(createMainFrame(&fast)->findChild<QLabel *>(QStringLiteral("titleText"))->text(),
        QStringLiteral("Orvo Updater  [7.35]  -  time factor 50, simulator only"));
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

void FrameTest::mousePresses()
{
    FramelessWindow frame;
    frame.resize(400, 300);
    frame.move(100, 120);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    WindowDragger *bar = titlebar(frame);
    const QPoint start = frame.pos();
    const QPoint press = bar->mapToGlobal(QPoint(60, 8));

    // A drag by the title bar moves the frame by the mouse's way from the press.
    send(bar, QEvent::MouseButtonPress, press, Qt::LeftButton);
    send(bar, QEvent::MouseMove, press + QPoint(37, 23), Qt::LeftButton);
    QCOMPARE(frame.pos(), start + QPoint(37, 23));
    send(bar, QEvent::MouseMove, press + QPoint(-15, 4), Qt::LeftButton);
    QCOMPARE(frame.pos(), start + QPoint(-15, 4));
    send(bar, QEvent::MouseButtonRelease, press + QPoint(-15, 4), Qt::NoButton);
    send(bar, QEvent::MouseMove, press + QPoint(80, 80), Qt::NoButton);
    const QRect before = frame.geometry();
    QCOMPARE(before.topLeft(), start + QPoint(-15, 4));

    // A double click on the title bar, and a press, a move and a double click on the transparent
    // border, neither resize, maximize nor move.
    QTest::mouseDClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(60, 8));
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
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    // The title bar's background and the frame's border: both in the shadow colour while
    // active; a dark title bar and a black border while not.
    const auto look = [&frame]() -> QString {
        const QRegularExpression title(QStringLiteral("background-color:([^;]+);"));
        const QRegularExpression border(QStringLiteral("border:1px solid ([^;]+);"));
        return title.match(titlebar(frame)->styleSheet()).captured(1) + QLatin1Char(' ')
            + border.match(frame.findChild<QWidget *>(QStringLiteral("windowFrame"))->styleSheet()).captured(1);
    };
    const QString active = QStringLiteral("palette(shadow) palette(shadow)");
    const QString inactive = QStringLiteral("palette(dark) #000000");
    QCOMPARE(look(), active);
    emit qApp->applicationStateChanged(Qt::ApplicationInactive);
    QCOMPARE(look(), inactive);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(look(), active);
    emit qApp->applicationStateChanged(Qt::ApplicationHidden); // hidden or suspended is not active
    QCOMPARE(look(), inactive);
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

void FrameTest::paintsShadowAndTitle()
{
    FramelessWindow frame;
    frame.setWindowTitle(QStringLiteral("MMMMMMMM"));
    auto *content = new QWidget;
    content->setFixedSize(400, 200);
    frame.setContent(content);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    auto *title = frame.findChild<QLabel *>(QStringLiteral("titleText"));
    auto *windowFrame = frame.findChild<QWidget *>(QStringLiteral("windowFrame"));
    const QRect titleRect(title->mapTo(&frame, QPoint()), title->size());
    const QRect frameRect(windowFrame->geometry());

    // What grab() renders: the title's letters, the shadow in the margin, fading outwards, and
    // the opaque frame.
    const QImage grabbed = frame.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    QVERIFY(hasLetters(grabbed, titleRect));
    const int midY = frameRect.center().y();
    const int nearEdge = qAlpha(grabbed.pixel(frameRect.left() - 1, midY));
    const int farOut = qAlpha(grabbed.pixel(0, midY));
    QVERIFY2(nearEdge > farOut && nearEdge > 64 && farOut < 64,
        qPrintable(QStringLiteral("%1 %2").arg(nearEdge).arg(farOut)));
    QCOMPARE(qAlpha(grabbed.pixel(frameRect.center())), 255);
    QCOMPARE(qAlpha(grabbed.pixel(0, 0)), 0);
}

ORVO_UI_TEST_MAIN(FrameTest)
#include "tst_frame.moc"
