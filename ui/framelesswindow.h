#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

#include <memory>

class QHBoxLayout;
class QLabel;
class QToolButton;
class QVBoxLayout;

namespace orvo::ui {

class WindowDragger;

/// Widgets of the frame, by the object names that style sheets and tests select them by.
struct FramelessWindowForm
{
    QVBoxLayout *verticalLayout_2 = nullptr;
    QWidget *windowFrame = nullptr;
    QVBoxLayout *verticalLayout = nullptr;
    WindowDragger *windowTitlebar = nullptr;
    QHBoxLayout *horizontalLayout = nullptr;
    QWidget *spacer = nullptr;
    QLabel *icon = nullptr;
    QLabel *titleText = nullptr;
    QToolButton *minimizeButton = nullptr;
    QToolButton *restoreButton = nullptr;
    QToolButton *maximizeButton = nullptr;
    QToolButton *closeButton = nullptr;
    QWidget *windowContent = nullptr;
    QVBoxLayout *verticalLayout_3 = nullptr;

    void setupUi(QWidget *frame);
    void retranslateUi(QWidget *frame);
};

/// A borderless, translucent top-level window that draws its own rounded frame, drop shadow and
/// title bar; every window of the program is shown as the content of one.
class FramelessWindow : public QWidget
{
    Q_OBJECT

public:
    explicit FramelessWindow(QWidget *parent = nullptr);
    ~FramelessWindow() override;

    /// Puts `widget` into the frame, which becomes its parent.
    void setContent(QWidget *widget);
    /// Applies the look of an active or inactive window, in the normal state (`bNoState`) or
    /// in a maximized or full-screen one.
    void styleWindow(bool bActive, bool bNoState);

public slots:
    void setWindowTitle(QString text);
    void setWindowIcon(QIcon ico);

private slots:
    void on_applicationStateChanged(Qt::ApplicationState state);
    void on_minimizeButton_clicked();
    void on_restoreButton_clicked();
    void on_maximizeButton_clicked();
    void on_closeButton_clicked();
    void on_windowTitlebar_doubleClicked();

protected:
    // The frame cannot be resized by its border: presses on it do nothing.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void setFrameShadow();

    std::unique_ptr<FramelessWindowForm> ui;
};

} // namespace orvo::ui
