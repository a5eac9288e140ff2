#pragma once

#include <QObject>

#include <cstdio>

class QSocketNotifier;

namespace orvo::ui {

/// Lets a test that started the program as a process look at its windows and answer them:
/// one command per line on standard input, answers on standard output, each ending in "end".
/// Only started when the environment variable ORVO_TEST_CONTROL is set; the program has no
/// command line of its own.
///
///   windows  one line per visible top-level window:
///            "window <class> <object name> <x>,<y>,<width>x<height> <title>",
///            the title being a frame's title text or a message box's text
///   answer   presses the default button of the active modal message box, or accepts the
///            active modal dialog
///   grab <file> <title>
///            saves the visible frame of that title as the program paints it (PNG with alpha:
///            the translucent margin and the shadow included)
///   press <object name>
///            clicks that button of the active modal window, or else of the active window
///   select <object name> <row>
///            makes that row the current one of that combo box of the active window, as the
///            user picking it does (its currentIndexChanged handlers run)
///   value <object name>
///            "value <n> <minimum> <maximum> <shown|hidden>" of that progress bar of any window
///   close    closes every window, as the user closing the program does
class TestControl : public QObject
{
    Q_OBJECT

public:
    /// Starts listening when ORVO_TEST_CONTROL is set; otherwise does nothing. Returns whether
    /// it listens: the window's jobs may then talk only to loopback addresses.
    static bool startIfRequested(QObject *parent);

private:
    explicit TestControl(QObject *parent);
    void readCommand();
    void run(const QByteArray &command);
    void reply(const QByteArray &text);

    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
};

} // namespace orvo::ui
