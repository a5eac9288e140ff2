#pragma once

#include <QProxyStyle>

class QApplication;
class QPalette;

namespace orvo::ui {

/// The application's look: "Fusion" with a dark palette, the application font one point larger
/// and the dark style sheet from the resources.
class DarkStyle : public QProxyStyle
{
    Q_OBJECT

public:
    DarkStyle();
    explicit DarkStyle(QStyle *style);

    /// The "Fusion" style every DarkStyle wraps; created on the first call, the same style on
    /// every call while a DarkStyle owns it.
    static QStyle *baseStyle();

    void polish(QPalette &palette) override;
    void polish(QApplication *app) override;
    using QProxyStyle::polish;
};

} // namespace orvo::ui
