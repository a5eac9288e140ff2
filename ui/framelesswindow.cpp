#include "framelesswindow.h"

#include "frameshadow.h"
#include "windowdragger.h"

#include <QApplication>
#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace orvo::ui {

namespace {

constexpr int kShadowMargin = 5;  ///< transparent margin around the frame in which the shadow shows
constexpr qreal kFrameRadius = 5; ///< the frame's corner radius in the normal state (its style sheets)

const char kTitlebarActive[] = "#windowTitlebar{border: 0px none palette(shadow); border-top-left-radius:5px; "
                               "border-top-right-radius:5px; background-color:palette(shadow); height:20px;}";
const char kTitlebarInactive[] = "#windowTitlebar{border: 0px none palette(shadow); border-top-left-radius:5px; "
                                 "border-top-right-radius:5px; background-color:palette(dark); height:20px;}";
const char kTitlebarInactiveNoRadius[]
    = "#windowTitlebar{border: 0px none palette(shadow); border-top-left-radius:0px; "
      "border-top-right-radius:0px; background-color:palette(dark); height:20px;}";
const char kFrameActive[] = "#windowFrame{border:1px solid palette(shadow); border-radius:5px 5px 5px 5px; "
                            "background-color:palette(Window);}";
const char kFrameInactive[] = "#windowFrame{border:1px solid #000000; border-radius:5px 5px 5px 5px; "
                              "background-color:palette(Window);}";
const char kFrameInactiveNoRadius[] = "#windowFrame{border:1px solid palette(shadow); border-radius:0px 0px 0px 0px; "
                                      "background-color:palette(Window);}";

QString buttonStyle(const char *name, const char *image, const char *extra = "")
{
    return QStringLiteral("#%1{background-color:none; border:none; width:16px; height:16px; padding:4px; "
                          "image:url(:/images/%2);%3}\n"
                          "#%1:hover{background-color:palette(alternate-base);}\n"
                          "#%1:pressed{background-color:palette(highlight);}")
        .arg(QLatin1String(name), QLatin1String(image), QLatin1String(extra));
}

QToolButton *titleButton(QWidget *parent, const char *name, const char *image, const char *extra = "")
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setStyleSheet(buttonStyle(name, image, extra));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

void FramelessWindowForm::setupUi(QWidget *frame)
{
    if (frame->objectName().isEmpty())
        frame->setObjectName(QStringLiteral("FramelessWindow"));
    frame->setAutoFillBackground(false);

    verticalLayout_2 = new QVBoxLayout(frame);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->setSpacing(0);
    verticalLayout_2->setContentsMargins(kShadowMargin, kShadowMargin, kShadowMargin, kShadowMargin);

    windowFrame = new QWidget(frame);
    windowFrame->setObjectName(QStringLiteral("windowFrame"));
    windowFrame->setAutoFillBackground(false);
    windowFrame->setStyleSheet(QLatin1String(kFrameActive));
    verticalLayout = new QVBoxLayout(windowFrame);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(0);
    verticalLayout->setContentsMargins(1, 1, 1, 1);

    windowTitlebar = new WindowDragger(windowFrame);
    windowTitlebar->setObjectName(QStringLiteral("windowTitlebar"));
    windowTitlebar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    windowTitlebar->setMinimumSize(0, 0);
    windowTitlebar->setStyleSheet(QLatin1String(kTitlebarActive));
    horizontalLayout = new QHBoxLayout(windowTitlebar);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(0);
    horizontalLayout->setContentsMargins(0, 0, 0, 0);

    spacer = new QWidget(windowTitlebar);
    spacer->setObjectName(QStringLiteral("spacer"));
    spacer->setFixedWidth(4);
    horizontalLayout->addWidget(spacer);

    icon = new QLabel(windowTitlebar);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setFixedSize(16, 16);
    icon->setContextMenuPolicy(Qt::NoContextMenu);
    icon->setStyleSheet(QStringLiteral("#icon {background-color:palette(shadow);}"));
    horizontalLayout->addWidget(icon);

    titleText = new QLabel(windowTitlebar);
    titleText->setObjectName(QStringLiteral("titleText"));
    QFont bold = titleText->font();
    bold.setWeight(75);
    titleText->setFont(bold);
    titleText->setStyleSheet(QStringLiteral("  padding-left:5px;\n  color:rgb(153,153,153);"));
    titleText->setAlignment(Qt::AlignLeading | Qt::AlignLeft | Qt::AlignVCenter);
    horizontalLayout->addWidget(titleText, 1);

    minimizeButton = titleButton(windowTitlebar, "minimizeButton", "icon_window_minimize.png");
    horizontalLayout->addWidget(minimizeButton);
    restoreButton = titleButton(windowTitlebar, "restoreButton", "icon_window_restore.png");
    restoreButton->setEnabled(false);
    horizontalLayout->addWidget(restoreButton);
    maximizeButton = titleButton(windowTitlebar, "maximizeButton", "icon_window_maximize.png");
    maximizeButton->setEnabled(false);
    horizontalLayout->addWidget(maximizeButton);
    closeButton = titleButton(windowTitlebar, "closeButton", "icon_window_close.png", " border-top-right-radius:5px;");
    horizontalLayout->addWidget(closeButton);

    verticalLayout->addWidget(windowTitlebar);

    windowContent = new QWidget(windowFrame);
    windowContent->setObjectName(QStringLiteral("windowContent"));
    windowContent->setAutoFillBackground(false);
    windowContent->setStyleSheet(
        QStringLiteral("#windowContent{\n  border: 0px none palette(base);\n  border-radius:0px 0px 5px 5px;\n}"));
    verticalLayout_3 = new QVBoxLayout(windowContent);
    verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));
    verticalLayout_3->setSpacing(0);
    verticalLayout_3->setContentsMargins(0, 0, 0, 0);
    verticalLayout->addWidget(windowContent);

    verticalLayout_2->addWidget(windowFrame);

    retranslateUi(frame);
    QMetaObject::connectSlotsByName(frame);
}

void FramelessWindowForm::retranslateUi(QWidget *)
{
    titleText->setText(QCoreApplication::translate("FramelessWindow", "Frameless Window (Dark Style)"));
}

FramelessWindow::FramelessWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint),
      ui(std::make_unique<FramelessWindowForm>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_NoSystemBackground, true);
    setAttribute(Qt::WA_TranslucentBackground, true);

    ui->restoreButton->setVisible(false);
    ui->maximizeButton->setVisible(false);

    auto *textShadow = new QGraphicsDropShadowEffect(ui->titleText);
    textShadow->setBlurRadius(4.0);
    textShadow->setColor(QColor(0, 0, 0));
    textShadow->setOffset(0.0);
    ui->titleText->setGraphicsEffect(textShadow);
    setFrameShadow();

    connect(qApp, &QGuiApplication::applicationStateChanged, this, &FramelessWindow::on_applicationStateChanged);
}

FramelessWindow::~FramelessWindow() = default;

void FramelessWindow::setFrameShadow()
{
    auto *shadow = new FrameShadowEffect(kFrameRadius, ui->windowFrame);
    shadow->setBlurRadius(9.0);
    shadow->setColor(palette().color(QPalette::Shadow));
    shadow->setOffset(0.0);
    ui->windowFrame->setGraphicsEffect(shadow); // deletes the previous one
}

void FramelessWindow::setContent(QWidget *widget)
{
    ui->verticalLayout_3->addWidget(widget);
}

void FramelessWindow::setWindowTitle(QString text)
{
    ui->titleText->setText(text);
}

void FramelessWindow::setWindowIcon(QIcon ico)
{
    ui->icon->setPixmap(ico.pixmap(16, 16, QIcon::Normal, QIcon::Off));
}

void FramelessWindow::styleWindow(bool bActive, bool bNoState)
{
    // Rounded corners and the shadow only in the normal state; the inactive look darkens the
    // title bar, and in the normal state also the frame's border.
    const char *titlebar = bActive ? kTitlebarActive : bNoState ? kTitlebarInactive : kTitlebarInactiveNoRadius;
    const char *frame = bActive ? kFrameActive : bNoState ? kFrameInactive : kFrameInactiveNoRadius;
    ui->windowTitlebar->setStyleSheet(QLatin1String(titlebar));
    ui->windowFrame->setStyleSheet(QLatin1String(frame));
    const int margin = bNoState ? kShadowMargin : 0;
    layout()->setContentsMargins(margin, margin, margin, margin);
    if (bNoState)
        setFrameShadow();
    else
        ui->windowFrame->setGraphicsEffect(nullptr);
    update(); // the margin, where the shadow is painted
}

void FramelessWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange) {
        if (windowState() == Qt::WindowNoState)
            styleWindow(true, true);
        else if (windowState() & Qt::WindowMaximized)
            styleWindow(true, false);
    }
    QWidget::changeEvent(event); // repaints after palette, font and style changes
    event->accept();
}

void FramelessWindow::paintEvent(QPaintEvent *event)
{
    // The margin around windowFrame holds nothing but the frame's shadow.
    if (auto *shadow = qobject_cast<FrameShadowEffect *>(ui->windowFrame->graphicsEffect())) {
        QPainter painter(this);
        painter.setClipRegion(event->region());
        shadow->paintBehind(&painter, ui->windowFrame->geometry());
    }
}

void FramelessWindow::on_applicationStateChanged(Qt::ApplicationState state)
{
    const bool active = state == Qt::ApplicationActive;
    if (windowState() == Qt::WindowNoState)
        styleWindow(active, true);
    else if (windowState() & Qt::WindowFullScreen)
        styleWindow(active, false);
}

void FramelessWindow::on_minimizeButton_clicked()
{
    showMinimized();
}

void FramelessWindow::on_restoreButton_clicked() { }

void FramelessWindow::on_maximizeButton_clicked() { }

void FramelessWindow::on_closeButton_clicked()
{
    close();
}

void FramelessWindow::on_windowTitlebar_doubleClicked() { }

void FramelessWindow::mousePressEvent(QMouseEvent *) { }

void FramelessWindow::mouseReleaseEvent(QMouseEvent *) { }

void FramelessWindow::mouseDoubleClickEvent(QMouseEvent *) { }

} // namespace orvo::ui
