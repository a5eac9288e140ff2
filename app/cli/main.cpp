// orvo-updater-cli: the command-line front end over the same worker and jobs as the window.

#include "appidentity.h"
#include "clioptions.h"
#include "clirunner.h"
#include "versiontext.h"
#include "workerhost.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

bool g_showDebug = false;

// The worker's debug lines are for developers; the user's lines come through the front end.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && !g_showDebug)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    orvo::preferPlainWorkerEventLoop();
    QCoreApplication app(argc, argv);
    orvo::setApplicationIdentity();

    using namespace orvo::cli;
    const ParseResult parsed = parseArguments(app.arguments().mid(1));
    if (!parsed.ok) {
        std::fprintf(stderr, "orvo-updater-cli: %s\n%s\n", qPrintable(parsed.error),
            qPrintable(usageLine(parsed.options.command)));
        return ExitBadArguments;
    }
    if (parsed.options.version) {
        std::fputs(qPrintable(orvo::versionText("orvo-updater-cli")), stdout);
        return ExitOk;
    }
    if (parsed.options.help) {
        std::fputs(qPrintable(helpText(parsed.options.command)), stdout);
        return ExitOk;
    }
    g_showDebug = parsed.options.debug;
    qInstallMessageHandler(messageHandler);

    Runner runner(parsed.options, installInterruptPipe());
    return runner.run();
}
