#include "clifrontend.h"

#include "activitylog.h"
#include "devicetext.h"

#include <QJsonObject>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace orvo::cli {

namespace {

constexpr int kBarWidth = 30;

QString boxMark(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Information:
        return QStringLiteral("[i]");
    case BoxIcon::Warning:
        return QStringLiteral("[w!]");
    case BoxIcon::Critical:
        return QStringLiteral("[!!]");
    case BoxIcon::Question:
        return QStringLiteral("[?]");
    case BoxIcon::None:
        break;
    }
    return QStringLiteral("[ ]");
}

QString answerName(BoxButton button)
{
    switch (button) {
    case BoxButton::Yes:
        return QStringLiteral("Yes");
    case BoxButton::No:
        return QStringLiteral("No");
    case BoxButton::Ok:
        return QStringLiteral("OK");
    case BoxButton::None:
        break;
    }
    return QStringLiteral("0x") + QString::number(static_cast<quint32>(button), 16);
}

// "[=========>          ]  42%"
QString barText(int value)
{
    const int v = value < 0 ? 0 : (value > 100 ? 100 : value);
    const int filled = v * kBarWidth / 100;
    QString bar(kBarWidth, QLatin1Char(' '));
    for (int i = 0; i < filled; ++i)
        bar[i] = QLatin1Char('=');
    if (filled < kBarWidth && filled > 0)
        bar[filled] = QLatin1Char('>');
    return QStringLiteral("[") + bar + QStringLiteral("] ") + QStringLiteral("%1%").arg(v, 3);
}

// "  850 rec/s  0:07 left": the rate on the worker's clock, and the rest of the file at the
// pace so far.
QString downloadText(const DownloadProgress &d)
{
    const std::optional<DownloadPace> pace = downloadPace(d);
    return pace ? QStringLiteral("  ") + downloadPaceText(*pace) : QString();
}

} // namespace

ConsoleFrontEnd::ConsoleFrontEnd(const Settings &settings, QObject *parent)
    : WorkerFrontEnd(parent), m_settings(settings)
{ }

void ConsoleFrontEnd::write(const QString &text)
{
    if (m_settings.sink) {
        m_settings.sink(prefixed(text));
        return;
    }
    const QByteArray bytes = prefixed(text).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), m_settings.out);
    std::fflush(m_settings.out);
}

QString ConsoleFrontEnd::prefixed(const QString &text)
{
    if (m_settings.prefix.isEmpty() || text.isEmpty())
        return text;
    QString out;
    for (const QChar c : text) {
        if (m_atLineStart && c != QLatin1Char('\r'))
            out += m_settings.prefix;
        out += c;
        m_atLineStart = c == QLatin1Char('\n');
    }
    return out;
}

ConsoleFrontEnd::ProgressView ConsoleFrontEnd::progressView() const
{
    ProgressView view;
    view.task = m_task.visible ? m_task.value : -1;
    view.overall = m_overall.visible ? m_overall.value : -1;
    view.download = m_download;
    return view;
}

void ConsoleFrontEnd::clearBar()
{
    if (m_barDrawn) {
        write(QStringLiteral("\r\x1b[2K"));
        m_barDrawn = false;
    }
}

void ConsoleFrontEnd::drawBar()
{
    if (!m_settings.outIsTerminal)
        return;
    if (!m_task.visible && !m_overall.visible) {
        clearBar();
        return;
    }
    QString text = QStringLiteral("\r\x1b[2K");
    if (m_overall.visible)
        text += QStringLiteral("overall ") + barText(m_overall.value) + QStringLiteral("   ");
    if (m_task.visible)
        text += QStringLiteral("task ") + barText(m_task.value) + (m_download ? downloadText(*m_download) : QString());
    write(text);
    m_barDrawn = true;
}

void ConsoleFrontEnd::note(const QString &text)
{
    clearBar();
    write(QStringLiteral("-- ") + visibleText(text) + QStringLiteral("\n"));
    drawBar();
}

void ConsoleFrontEnd::insertListItem(RowIcon icon, QString text, bool /*bRemoveLastItem*/)
{
    // A line that replaces the last one in the window (a running address, a board's result)
    // is printed as a line of its own: a log of the run keeps both.
    QJsonObject entry;
    entry[QStringLiteral("icon")] = static_cast<int>(icon);
    entry[QStringLiteral("text")] = text;
    m_lines.append(entry);

    const QString mark = QLatin1String(rowIconLook(icon).mark);
    clearBar();
    // One row, one line, and nothing in it that a terminal would take as a command.
    const QString shown = visibleText(text);
    write((mark.isEmpty() ? shown : mark + QLatin1Char(' ') + shown) + QLatin1Char('\n'));
    drawBar();

    appendToLog(text);
}

void ConsoleFrontEnd::appendToLog(const QString &text)
{
    if (m_settings.logFile.isEmpty() || !isLoggedRow(text))
        return;
    if (!appendLogRow(m_settings.logFile, QDateTime::currentDateTime(), m_settings.prefix + text)) {
        if (!m_logWarned)
            note(QStringLiteral("Could not open ") + m_settings.logFile);
        m_logWarned = true;
    }
}

void ConsoleFrontEnd::clearList()
{
    // The window empties its list when a version scan starts; a terminal keeps what it showed.
}

void ConsoleFrontEnd::progress(Bar &bar, const char *label, bool visible, int value)
{
    if (!visible) {
        bar.visible = false;
        bar.value = -1;
        bar.printed = -1;
        if (m_settings.outIsTerminal)
            drawBar();
        if (m_settings.onProgress)
            m_settings.onProgress();
        return;
    }
    const int shown = value > 100 ? 100 : (value < 0 ? 0 : value);
    const bool changed = !bar.visible || shown != bar.value;
    bar.visible = true;
    bar.value = shown;
    if (m_settings.onProgress)
        m_settings.onProgress(); // the download figures change with every record, the value not
    if (!changed)
        return;
    if (m_settings.outIsTerminal) {
        drawBar();
        return;
    }
    if (!m_settings.progressLines)
        return; // the result lines carry each board's time; a log reads better without percentages
    // A log or a pipe gets a line per tenth, and one when a new wait or download starts: a
    // console's auto update would otherwise write thousands of percentage lines.
    if (bar.printed < 0 || shown < bar.printed || shown / 10 != bar.printed / 10) {
        bar.printed = shown;
        write(QString::fromLatin1(label) + QString::number(shown) + QStringLiteral("%\n"));
    }
}

void ConsoleFrontEnd::updateProgressBar(bool bVisible, int nValue, bool bShowText, int, int)
{
    // The bar shows its text only while a download runs; a wait or a hidden bar ends the figures.
    if (!bVisible || !bShowText)
        m_download.reset();
    progress(m_task, "progress: ", bVisible, nValue);
}

void ConsoleFrontEnd::updateProgressBarAuto(bool bVisible, int nValue, bool, int, int)
{
    progress(m_overall, "overall progress: ", bVisible, nValue);
}

void ConsoleFrontEnd::updateDevicesCombo(QVector<OrvoDiscoveryInfo> dev)
{
    m_devices = dev;
    m_devicesReceived = true;
}

void ConsoleFrontEnd::enableControls(bool)
{
    // No controls: the end of a job is taken from its thread's end.
}

void ConsoleFrontEnd::boardOutcome(orvo::BoardOutcome outcome)
{
    if (m_record)
        m_record->add(outcome);
}

void ConsoleFrontEnd::jobEnded(orvo::JobOutcome outcome)
{
    if (m_record)
        m_record->end = outcome;
}

void ConsoleFrontEnd::downloadProgress(orvo::DownloadProgress progress)
{
    // Shown with the next value of the task bar, which follows each record.
    if (m_settings.outIsTerminal || m_settings.onProgress)
        m_download = progress;
}

BoxButton ConsoleFrontEnd::messageBox(
    BoxIcon icon, const QString &textTitle, const QString &textMsg, BoxButtons flagBtn)
{
    clearBar();
    // The message's own line breaks are kept, indented; anything else is made visible.
    QStringList parts = textMsg.split(QLatin1Char('\n'));
    for (QString &part : parts)
        part = visibleText(part);
    write(boxMark(icon) + QLatin1Char(' ') + visibleText(textTitle) + QStringLiteral(": ")
        + parts.join(QStringLiteral("\n    ")) + QLatin1Char('\n'));

    BoxButton answer = BoxButton::Ok;
    QString how;
    if (flagBtn == BoxButtons::YesNo) {
        if (m_settings.answer == Answer::Yes) {
            answer = BoxButton::Yes;
            how = m_settings.answeredBy.isEmpty() ? QStringLiteral(" (--yes)") : m_settings.answeredBy;
        } else if (m_settings.answer == Answer::No) {
            answer = BoxButton::No;
            how = m_settings.answeredBy.isEmpty() ? QStringLiteral(" (--no)") : m_settings.answeredBy;
        } else if (m_settings.canPrompt) {
            answer = askYesNo();
        } else {
            answer = BoxButton::No;
            how = QStringLiteral(": no terminal to ask, and neither --yes nor --no was given");
        }
        write(QStringLiteral("    answered ") + answerName(answer) + how + QLatin1Char('\n'));
    }

    QJsonObject box;
    box[QStringLiteral("icon")] = static_cast<int>(icon);
    box[QStringLiteral("title")] = textTitle;
    box[QStringLiteral("text")] = textMsg;
    box[QStringLiteral("answer")] = answerName(answer);
    m_boxes.append(box);
    drawBar();
    return answer;
}

BoxButton ConsoleFrontEnd::askYesNo()
{
    QByteArray input;
    for (;;) {
        write(QStringLiteral("    Continue? [y/N] "));
        input.clear();
        bool lineDone = false;
        while (!lineDone) {
            pollfd fds[2] = { { m_settings.inputFd, POLLIN, 0 }, { m_settings.interruptFd, POLLIN, 0 } };
            const nfds_t count = m_settings.interruptFd >= 0 ? 2 : 1;
            if (::poll(fds, count, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return BoxButton::No;
            }
            if (count == 2 && (fds[1].revents & POLLIN)) {
                write(QStringLiteral("\n"));
                if (m_onInterrupt)
                    m_onInterrupt(); // drains the pipe and asks the job to stop
                return BoxButton::No;
            }
            if (!(fds[0].revents & (POLLIN | POLLHUP)))
                continue;
            char c = 0;
            const ssize_t n = ::read(m_settings.inputFd, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                write(QStringLiteral("\n"));
                return BoxButton::No; // end of input
            }
            if (c == '\n')
                lineDone = true;
            else if (input.size() < 64)
                input.append(c);
        }
        const QString reply = QString::fromLocal8Bit(input).trimmed().toLower();
        if (reply == QLatin1String("y") || reply == QLatin1String("yes"))
            return BoxButton::Yes;
        if (reply.isEmpty() || reply == QLatin1String("n") || reply == QLatin1String("no"))
            return BoxButton::No;
    }
}

} // namespace orvo::cli
