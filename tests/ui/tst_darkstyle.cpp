// The dark style: its palette with the disabled group, the font one point larger, the style
// sheet from the resources, and the palette alone when the style sheet is missing.

#include "darkstyle.h"
#include "uitestsupport.h"

#include <QFile>
#include <QPalette>
#include <QProxyStyle>

using namespace orvo::ui;

class DarkStyleTest : public QObject
{
    Q_OBJECT

private slots:
    void paletteFontAndStyleSheet();
    void missingStyleSheetKeepsThePalette();

private:
    void checkPalette();
};

void DarkStyleTest::checkPalette()
{
    const QPalette p = QApplication::palette();
    struct Role
    {
        QPalette::ColorRole role;
        QColor active;
        QColor disabled;
    };
    const QColor white(255, 255, 255), grey(127, 127, 127);
    const Role roles[] = {
        { QPalette::Window, QColor(53, 53, 53), QColor(53, 53, 53) },
        { QPalette::WindowText, white, grey },
        { QPalette::Base, QColor(42, 42, 42), QColor(42, 42, 42) },
        { QPalette::AlternateBase, QColor(66, 66, 66), QColor(66, 66, 66) },
        { QPalette::ToolTipBase, white, white },
        { QPalette::ToolTipText, QColor(53, 53, 53), QColor(53, 53, 53) },
        { QPalette::Text, white, grey },
        { QPalette::Dark, QColor(35, 35, 35), QColor(35, 35, 35) },
        { QPalette::Shadow, QColor(20, 20, 20), QColor(20, 20, 20) },
        { QPalette::Button, QColor(53, 53, 53), QColor(53, 53, 53) },
        { QPalette::ButtonText, white, grey },
        { QPalette::BrightText, QColor(255, 0, 0), QColor(255, 0, 0) },
        { QPalette::Link, QColor(42, 130, 218), QColor(42, 130, 218) },
        { QPalette::Highlight, QColor(42, 130, 218), QColor(80, 80, 80) },
        { QPalette::HighlightedText, white, grey },
    };
    for (const Role &r : roles) {
        for (QPalette::ColorGroup group : { QPalette::Active, QPalette::Inactive }) {
            QVERIFY2(p.color(group, r.role) == r.active,
                     qPrintable(QStringLiteral("role %1 group %2: %3").arg(r.role).arg(group).arg(p.color(group, r.role).name())));
        }
        QVERIFY2(p.color(QPalette::Disabled, r.role) == r.disabled,
                 qPrintable(QStringLiteral("role %1 disabled: %2").arg(r.role).arg(p.color(QPalette::Disabled, r.role).name())));
    }
}

void DarkStyleTest::paletteFontAndStyleSheet()
{
    const qreal before = QApplication::font().pointSizeF();
    auto *dark = new DarkStyle;
    QApplication::setStyle(dark);
    QCOMPARE(QApplication::font().pointSizeF(), before + 1);
    QCOMPARE(dark->baseStyle()->objectName().toLower(), QStringLiteral("fusion"));
    checkPalette();

    QFile qss(QStringLiteral(":/darkstyle/darkstyle.qss"));
    QVERIFY(qss.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString sheet = QString::fromLatin1(qss.readAll());
    QVERIFY(sheet.contains(QStringLiteral("QGroupBox")));
    QCOMPARE(qApp->styleSheet(), sheet);
}

void DarkStyleTest::missingStyleSheetKeepsThePalette()
{
    Q_CLEANUP_RESOURCE(orvo);
    qApp->setStyleSheet(QString());
    QApplication::setStyle(QStringLiteral("Windows")); // a plain palette first
    QVERIFY(!QFile::exists(QStringLiteral(":/darkstyle/darkstyle.qss")));

    QApplication::setStyle(new DarkStyle);
    QVERIFY2(qApp->styleSheet().isEmpty(), qPrintable(qApp->styleSheet().left(200)));
    checkPalette();
    orvo::ui::initResources();
}

ORVO_UI_TEST_MAIN(DarkStyleTest)
#include "tst_darkstyle.moc"
