#include "app/deck/AppController.h"
#include "app/deck/TapeView.h"
#include "app/deck/WindowController.h"
#include "app/shell/CommandLine.h"
#include "app/shell/DeckInstance.h"
#include "app/shell/QuitSignals.h"
#include "app/shell/Translations.h"
#include "platform/audio/MainQueue.h"
#include "platform/desktop/FileNames.h"
#include "platform/media/MediaAudioFile.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

#include <csignal>
#include <cstdio>

namespace {

void nameApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Cassora"));
    QCoreApplication::setApplicationName(QStringLiteral("Cassora"));
    QCoreApplication::setApplicationVersion(CommandLine::version());
    // Desktops match the windows to the installed .desktop file by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.cassora.Cassora"));
}

// The arguments as given: a file name that is not UTF-8 keeps its bytes.
QStringList rawArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << FileNames::decode(QByteArray(argv[i]));
    }
    return arguments;
}

// Tapes named on the command line: every argument that is not one of Qt's options.
QStringList filesToOpen(const QStringList& arguments) {
    QStringList files;
    for (const QString& argument : arguments.mid(1)) {
        if (!argument.startsWith(QLatin1Char('-'))) {
            files << argument;
        }
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    // A file that reaches the size limit fails its write (and the recording
    // is finished) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // Cover art shows the tape's cassette, in the window and on the command line.
    TapeView::installCoverArtRenderer();
    // A finished recording keeps its journal until it is labelled, so that
    // no moment of a crash leaves a tape without its label.
    MediaAudioFile::setJournalKeptAfterFinishing(true);
    if (CommandLine::isCommand(rawArguments(argc, argv))) {
        // Commands draw (cover art) but show no window: no display needed.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        QGuiApplication application(argc, argv);
        nameApplication();
        return CommandLine::run(rawArguments(argc, argv));
    }

    QApplication application(argc, argv);
    nameApplication();
    // The deck speaks the user's language; the commands' output stays as
    // scripts expect it.
    Translations::install(application);
    const QStringList files = filesToOpen(rawArguments(argc, argv));
    // One deck per session: a deck already running takes the files.
    DeckInstance instance;
    QString error;
    switch (instance.claim(files, &error)) {
    case DeckInstance::Claim::HandedOver:
        return 0;
    case DeckInstance::Claim::Failed:
        std::fprintf(stderr, "cassora: %s\n", error.toLocal8Bit().constData());
        return 1;
    case DeckInstance::Claim::Registered:
    case DeckInstance::Claim::NoBus:
        break;
    }
    // The engine's notices for the main thread run in Qt's event loop.
    MainQueue::setDispatcher([](MainQueue::Job job) {
        QMetaObject::invokeMethod(qApp, std::move(job), Qt::QueuedConnection);
    });

    // The deck quits once it has stopped and saved everything, not the
    // moment its window disappears.
    QApplication::setQuitOnLastWindowClosed(false);
    AppController controller;
    QuitSignals quitSignals([&controller](int) { controller.quit(); });
    // A session that ends takes the deck down properly too.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &controller,
                     &AppController::quit);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &controller,
                     [&controller] { controller.quit(); });
    instance.setOpenHandler([&controller](const QStringList& opened) {
        if (WindowController* deck = controller.windowController()) {
            if (!opened.isEmpty()) {
                controller.openFiles(opened);
            }
            deck->raiseWindow();
        }
    });
    controller.start(files);
    const int status = QApplication::exec();
    MainQueue::setDispatcher({});
    return status;
}
