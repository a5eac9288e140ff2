// Every text of the three forms (labels, buttons and check boxes, the address fields, group box
// titles, every row of the combo boxes) fits the room its widget gives it at the font the program runs with: the dark style
// installed as the program installs it, which steps the application font up by a point and
// brings its style sheet (check box indicators, button padding).

#include "aboutdialog.h"
#include "appidentity.h"
#include "darkstyle.h"
#include "mainwindow.h"
#include "setmanipdialog.h"
#include "uitestsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTextDocument>

#include <memory>

using namespace orvo;
using namespace orvo::ui;

namespace {

enum class Form { About, ManualIp, Main, MainDevices };

struct Room
{
    QRect rect;    ///< where the text is drawn, in widget coordinates
    QSize needed;  ///< width of the longest line, height of all lines
    QString text;
};

QSize textSize(const QFontMetrics &fm, const QString &text)
{
    int width = 0;
    const QStringList all = text.split(QLatin1Char('\n'));
    for (const QString &line : all)
        width = qMax(width, fm.horizontalAdvance(line));
    return { width, fm.height() * all.size() + fm.leading() * (all.size() - 1) };
}

QString withoutMnemonic(QString text)
{
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

/// The room the style leaves for the text of a button: the check box and radio button lose
/// their indicator and its spacing, a push button its border and padding.
QRect buttonTextRect(QAbstractButton *button)
{
    QStyleOptionButton opt;
    opt.initFrom(button);
    opt.text = button->text();
    opt.icon = button->icon();
    opt.iconSize = button->iconSize();
    if (qobject_cast<QCheckBox *>(button))
        return button->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, button);
    if (qobject_cast<QRadioButton *>(button))
        return button->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, button);
    if (qobject_cast<QPushButton *>(button))
        return button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
    // Any other button sizes its text itself; its size hint says what it needs.
    return button->rect();
}

bool measure(QWidget *w, Room *room)
{
    if (auto *label = qobject_cast<QLabel *>(w)) {
        if (label->text().isEmpty() || Qt::mightBeRichText(label->text()))
            return false;
        const int m = label->margin();
        room->rect = label->contentsRect().adjusted(m, m, -m, -m);
        if (label->indent() > 0)
            room->rect.adjust(label->indent(), 0, 0, 0);
        room->text = label->text();
        room->needed = textSize(label->fontMetrics(), room->text);
        return true;
    }
    if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        if (button->text().isEmpty())
            return false;
        room->rect = buttonTextRect(button);
        room->text = withoutMnemonic(button->text());
        room->needed = textSize(button->fontMetrics(), room->text);
        if (!qobject_cast<QCheckBox *>(button) && !qobject_cast<QRadioButton *>(button)
            && !qobject_cast<QPushButton *>(button))
            room->needed = room->needed.expandedTo(button->sizeHint());
        return true;
    }
    if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        if (edit->displayText().isEmpty())
            return false;
        QStyleOptionFrame opt;
        opt.initFrom(edit);
        opt.rect = edit->contentsRect();
        opt.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
        opt.features = QStyleOptionFrame::None;
        const QMargins margins = edit->textMargins();
        // The line edit keeps two pixels on either side of its text, and one for the cursor.
        room->rect = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit)
                         .marginsRemoved(margins)
                         .adjusted(2, 1, -3, -1);
        room->text = edit->displayText();
        room->needed = textSize(edit->fontMetrics(), room->text);
        return true;
    }
    if (auto *combo = qobject_cast<QComboBox *>(w)) {
        // Every row must be readable when it is the current one.
        if (combo->count() == 0)
            return false;
        QStyleOptionComboBox opt;
        opt.initFrom(combo);
        opt.editable = combo->isEditable();
        opt.frame = combo->hasFrame();
        room->rect = combo->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
        for (int i = 0; i < combo->count(); ++i) {
            const QSize size = textSize(combo->fontMetrics(), combo->itemText(i));
            if (size.width() > room->needed.width()) {
                room->needed = size;
                room->text = combo->itemText(i);
            }
        }
        return true;
    }
    if (auto *box = qobject_cast<QGroupBox *>(w)) {
        if (box->title().isEmpty())
            return false;
        QStyleOptionGroupBox opt;
        opt.initFrom(box);
        opt.text = box->title();
        opt.lineWidth = 1;
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        opt.textAlignment = box->alignment();
        // The title's tab is as long as the title: it is clipped where it runs past the box.
        room->rect = box->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box)
                         .intersected(box->rect());
        room->text = box->title();
        room->needed = { box->fontMetrics().horizontalAdvance(room->text), box->fontMetrics().height() };
        return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Form)

class DialogTextsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void textsFit_data();
    void textsFit();
};

void DialogTextsTest::initTestCase()
{
    setApplicationIdentity();
    // The offscreen platform has no desktop theme and starts from 12 pt; on an X desktop that
    // sets no font of its own the program starts from the toolkit's "Sans Serif" 9 pt, as in
    // the screenshots. Start from that, then install the style as the program does, before any
    // window exists: it steps the font up by a point.
    QApplication::setFont(QFont(QStringLiteral("Sans Serif"), 9));
    QApplication::setStyle(new DarkStyle);
    QCOMPARE(QApplication::font().pointSize(), 10);
}

void DialogTextsTest::textsFit_data()
{
    QTest::addColumn<Form>("form");
    QTest::newRow("About dialog") << Form::About;
    QTest::newRow("manual IP dialog") << Form::ManualIp;
    QTest::newRow("main window") << Form::Main;
    QTest::newRow("main window, devices that need an interface update") << Form::MainDevices;
}

void DialogTextsTest::textsFit()
{
    QFETCH(Form, form);

    std::unique_ptr<QWidget> window;
    QWidget *root = nullptr;
    switch (form) {
    case Form::About:
        window = std::make_unique<AboutDialog>();
        root = window.get();
        break;
    case Form::ManualIp: {
        auto dialog = std::make_unique<SetManIP_Dialog>();
        dialog->loadValues(); // the unused entries' zeros, wider than the mask's blanks
        window = std::move(dialog);
        root = window.get();
        break;
    }
    case Form::Main:
    case Form::MainDevices:
        window = std::make_unique<MainWindow>();
        // The form's widgets; the tool bar sizes its buttons to their texts itself.
        root = window->findChild<QWidget *>(QStringLiteral("centralwidget"));
        if (form == Form::MainDevices) {
            // The longest device labels: names of the longest allowed length, the interface
            // update's status line; the console brings the longest panel names.
            QVector<OrvoDiscoveryInfo> devices;
            for (const quint8 type : { 0, 1 }) {
                OrvoDiscoveryInfo record;
                record.setType(type);
                record.setName(QByteArrayLiteral("Studio A Console Left"));
                record.setMac({ { 0xaa, 0xbb, 0xcc, 0xdd, 0xee, quint8(0xf0 + type) } });
                record.setIp({ { 192, 168, 100, quint8(200 + type) } });
                record.setNeedsUpdate(1);
                devices << record;
            }
            QVERIFY(QMetaObject::invokeMethod(window.get(), "updateDevicesCombo",
                                              Q_ARG(QVector<OrvoDiscoveryInfo>, devices)));
        }
        break;
    }
    QVERIFY(root);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    QStringList clipped;
    int measured = 0;
    const auto measureAll = [&] {
        for (QWidget *w : root->findChildren<QWidget *>()) {
            Room room;
            if (w->isHidden() || !measure(w, &room))
                continue;
            ++measured;
            if (room.needed.width() > room.rect.width() || room.needed.height() > room.rect.height())
                clipped << QStringLiteral("%1 \"%2\": needs %3 x %4, has %5 x %6")
                               .arg(w->objectName(), QString(room.text).replace(QLatin1Char('\n'), QLatin1String("\\n")))
                               .arg(room.needed.width())
                               .arg(room.needed.height())
                               .arg(room.rect.width())
                               .arg(room.rect.height());
        }
    };
    if (form == Form::MainDevices) {
        // Each device selected in turn: its label and its panel list.
        auto *devices = root->findChild<QComboBox *>(QStringLiteral("comboBox_FoundDevices"));
        QCOMPARE(devices->count(), 2);
        for (int i = 0; i < devices->count(); ++i) {
            devices->setCurrentIndex(i);
            measureAll();
        }
    } else {
        measureAll();
    }
    QVERIFY(measured > 0);
    QVERIFY2(clipped.isEmpty(), qPrintable(QStringLiteral("font %1 %2 pt; clipped:\n  ")
                                               .arg(QApplication::font().family())
                                               .arg(QApplication::font().pointSizeF())
                                           + clipped.join(QStringLiteral("\n  "))));
}

ORVO_UI_TEST_MAIN(DialogTextsTest)
#include "tst_dialogtexts.moc"
