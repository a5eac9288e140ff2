// The dark style: a dark palette with a disabled group, the font one point larger, the style
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
    // A few roles that show whether the dark palette is in place, and its disabled group.
    const QPalette p = QApplication::palette();
    QCOMPARE(p.color(QPalette::Active, QPalette::Window), QColor(53, 53, 53));
    QCOMPARE(p.color(QPalette::Inactive, QPalette::Text), QColor(Qt::white));
    QCOMPARE(p.color(QPalette::Disabled, QPalette::Text), QColor(127, 127, 127));
    QCOMPARE(p.color(QPalette::Disabled, QPalette::Highlight), QColor(80, 80, 80));
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
