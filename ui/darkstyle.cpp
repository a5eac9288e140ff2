#include "darkstyle.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QPalette>
#include <QPointer>
#include <QStyleFactory>

namespace orvo::ui {

namespace {

constexpr char kStyleSheet[] = ":/darkstyle/darkstyle.qss";

} // namespace

DarkStyle::DarkStyle() : DarkStyle(baseStyle()) { }

DarkStyle::DarkStyle(QStyle *style) : QProxyStyle(style) { }

QStyle *DarkStyle::baseStyle()
{
    // The proxy takes ownership of its base style and deletes it with itself; the guard lets a
    // later DarkStyle (tests create several) get a new one instead of a deleted one.
    static QPointer<QStyle> base;
    if (!base)
        base = QStyleFactory::create(QStringLiteral("Fusion"));
    return base;
}

void DarkStyle::polish(QPalette &palette)
{
    const QColor white(255, 255, 255);
    const QColor disabledText(127, 127, 127);

    palette.setColor(QPalette::Window, QColor(53, 53, 53));
    palette.setColor(QPalette::WindowText, white);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    palette.setColor(QPalette::Base, QColor(42, 42, 42));
    palette.setColor(QPalette::AlternateBase, QColor(66, 66, 66));
    palette.setColor(QPalette::ToolTipBase, white);
    palette.setColor(QPalette::ToolTipText, QColor(53, 53, 53));
    palette.setColor(QPalette::Text, white);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setColor(QPalette::Dark, QColor(35, 35, 35));
    palette.setColor(QPalette::Shadow, QColor(20, 20, 20));
    palette.setColor(QPalette::Button, QColor(53, 53, 53));
    palette.setColor(QPalette::ButtonText, white);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setColor(QPalette::BrightText, QColor(255, 0, 0));
    palette.setColor(QPalette::Link, QColor(42, 130, 218));
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(80, 80, 80));
    palette.setColor(QPalette::HighlightedText, white);
    palette.setColor(QPalette::Disabled, QPalette::HighlightedText, disabledText);
}

void DarkStyle::polish(QApplication *app)
{
    // Setting the style sheet wraps this style in the style-sheet style, which polishes the
    // application again through its base style: that nested call must not step the font twice.
    static bool polishing = false;
    if (!app || polishing)
        return;
    polishing = true;

    QFont font = QApplication::font();
    if (font.pointSizeF() > 0) { // a font given in pixels has no point size to step
        font.setPointSizeF(font.pointSizeF() + 1);
        QApplication::setFont(font);
    }

    QFile qss(QString::fromLatin1(kStyleSheet));
    if (qss.open(QIODevice::ReadOnly | QIODevice::Text)) {
        app->setStyleSheet(QString::fromLatin1(qss.readAll()));
        qss.close();
    }
    polishing = false;
}

} // namespace orvo::ui
