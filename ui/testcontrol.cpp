#include "testcontrol.h"

#include "framelesswindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace orvo::ui {

bool TestControl::startIfRequested(QObject *parent)
{
#ifdef Q_OS_UNIX
    if (qEnvironmentVariableIsSet("ORVO_TEST_CONTROL")) {
        new TestControl(parent);
        return true;
    }
#else
    Q_UNUSED(parent);
#endif
    return false;
}

TestControl::TestControl(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_UNIX
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TestControl::readCommand);
#endif
}

void TestControl::readCommand()
{
#ifdef Q_OS_UNIX
    char buffer[256];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) { // the test went away: stop listening, leave the program as it is
        m_notifier->setEnabled(false);
        return;
    }
    m_pending.append(buffer, static_cast<int>(n));
    for (int eol = m_pending.indexOf('\n'); eol >= 0; eol = m_pending.indexOf('\n')) {
        const QByteArray command = m_pending.left(eol).trimmed();
        m_pending.remove(0, eol + 1);
        run(command);
    }
    if (m_pending.size() > 4096) // no command is that long
        m_pending.clear();
#endif
}

namespace {

/// The window that "press" and "select" act on: the active modal one (a dialog's frame has only
/// its close button as a way out), else the active window.
QWidget *commandWindow()
{
    QWidget *modal = QApplication::activeModalWidget();
    return modal ? modal : QApplication::activeWindow();
}

} // namespace

void TestControl::run(const QByteArray &command)
{
    if (command == "windows") {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (!w->isVisible())
                continue;
            QString title = w->windowTitle();
            if (auto *frame = qobject_cast<FramelessWindow *>(w)) {
                if (auto *text = frame->findChild<QLabel *>(QStringLiteral("titleText")))
                    title = text->text();
            } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
                title = box->text();
            }
            const QRect g = w->frameGeometry();
            reply("window " + QByteArray(w->metaObject()->className()) + ' ' + w->objectName().toUtf8() + ' '
                + QByteArray::number(g.x()) + ',' + QByteArray::number(g.y()) + ',' + QByteArray::number(g.width())
                + 'x' + QByteArray::number(g.height()) + ' ' + title.toUtf8().replace('\n', "\\n"));
        }
    } else if (command == "answer") {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            QAbstractButton *button = box->defaultButton();
            if (!button && !box->buttons().isEmpty())
                button = box->buttons().first();
            if (button) {
                reply("answered " + button->text().toUtf8());
                button->click();
            }
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            reply("answered dialog");
            dialog->accept();
        } else {
            reply("nothing to answer");
        }
    } else if (command.startsWith("grab ")) {
        // "grab <file> <title>": the visible frame of that title as the program paints it, with
        // its translucent margin and shadow, as a PNG with alpha.
        const int space = command.indexOf(' ', 5);
        const QString file = QString::fromLocal8Bit(command.mid(5, space - 5));
        const QString title = space > 0 ? QString::fromUtf8(command.mid(space + 1)) : QString();
        QWidget *found = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *text = w->isVisible() ? w->findChild<QLabel *>(QStringLiteral("titleText")) : nullptr;
            if (qobject_cast<FramelessWindow *>(w) && text && text->text() == title)
                found = w;
        }
        if (found && found->grab().save(file, "PNG"))
            reply("grabbed " + file.toLocal8Bit());
        else
            reply("nothing grabbed");
    } else if (command.startsWith("press ")) {
        // "press <object name>": clicks that button of the command window.
        QWidget *window = commandWindow();
        auto *button = window ? window->findChild<QAbstractButton *>(QString::fromUtf8(command.mid(6))) : nullptr;
        if (button) {
            reply("pressed " + command.mid(6));
            button->click();
        } else {
            reply("nothing pressed");
        }
    } else if (command.startsWith("select ")) {
        // "select <object name> <row>": as the user picking that row of the command window.
        const QList<QByteArray> words = command.split(' ');
        QWidget *window = commandWindow();
        bool isRow = false;
        const int row = words.size() == 3 ? words.at(2).toInt(&isRow) : -1;
        auto *combo = window && isRow ? window->findChild<QComboBox *>(QString::fromUtf8(words.at(1))) : nullptr;
        if (combo && combo->isEnabled() && row >= 0 && row < combo->count()) {
            combo->setCurrentIndex(row);
            reply("selected " + combo->currentText().toUtf8());
        } else {
            reply("nothing selected");
        }
    } else if (command.startsWith("value ")) {
        const QString name = QString::fromUtf8(command.mid(6));
        QProgressBar *bar = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (!bar)
                bar = w->findChild<QProgressBar *>(name);
        }
        if (bar)
            reply("value " + QByteArray::number(bar->value()) + ' ' + QByteArray::number(bar->minimum()) + ' '
                + QByteArray::number(bar->maximum()) + (bar->isVisible() ? " shown" : " hidden"));
        else
            reply("no such progress bar");
    } else if (command == "close") {
        reply("closing");
        QApplication::closeAllWindows();
    } else if (!command.isEmpty()) {
        reply("unknown command " + command);
    }
    reply("end");
}

void TestControl::reply(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace orvo::ui
