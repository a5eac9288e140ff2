#pragma once

#include <QPoint>
#include <QWidget>

namespace orvo::ui {

/// The title bar of a FramelessWindow: pressing and moving the mouse on it moves the whole
/// frame (its grandparent) by the mouse's movement.
class WindowDragger : public QWidget
{
    Q_OBJECT

public:
    explicit WindowDragger(QWidget *parent = nullptr);

    bool isDragging() const { return dragging; }

signals:
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *frame() const;

    bool dragging = false;
    QPoint pressGlobalPos;
    QPoint pressWindowPos;
};

} // namespace orvo::ui
