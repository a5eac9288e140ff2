#include "windowdragger.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

namespace orvo::ui {

WindowDragger::WindowDragger(QWidget *parent) : QWidget(parent) { }

QWidget *WindowDragger::frame() const
{
    QWidget *windowFrame = parentWidget();
    return windowFrame ? windowFrame->parentWidget() : nullptr;
}

void WindowDragger::mousePressEvent(QMouseEvent *event)
{
    dragging = true;
    pressGlobalPos = event->globalPos();
    if (QWidget *f = frame())
        pressWindowPos = f->pos();
}

void WindowDragger::mouseMoveEvent(QMouseEvent *event)
{
    QWidget *f = frame();
    if (f && dragging)
        f->move(pressWindowPos + (event->globalPos() - pressGlobalPos));
}

void WindowDragger::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
}

void WindowDragger::mouseDoubleClickEvent(QMouseEvent *)
{
    emit doubleClicked();
}

void WindowDragger::paintEvent(QPaintEvent *)
{
    // A plain QWidget subclass draws no style-sheet background by itself.
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

} // namespace orvo::ui
