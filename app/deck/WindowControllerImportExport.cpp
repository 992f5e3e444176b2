// The deck controller: tapes into and out of the library.

#include "app/deck/WindowController.h"
#include "app/deck/WindowControllerSupport.h"

#include "app/deck/DeckWindow.h"
#include "app/library/TapeImport.h"
#include "app/library/TapeLibraryArrayController.h"
#include "app/sharing/ExportPanel.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>

using namespace WindowControllerSupport;

// Import and export

void WindowController::importTapesIntoLibrary(const QList<QUrl>& urls) {
    const QString folder = soundFilePath();
    QStringList failures;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) {
            continue;
        }
        const TapeImport::Result result = TapeImport::copyTape(url.toLocalFile(), folder);
        if (result.outcome == TapeImport::Outcome::Failed) {
            logError(result.error);
            failures << result.error;
        }
    }
    if (!failures.isEmpty()) {
        showAlert(tr("Some tapes could not be imported"), failures.join(QLatin1Char('\n')));
    }
}

void WindowController::importTapes() {
    const QStringList files = QFileDialog::getOpenFileNames(
        mWindow, tr("Import Tapes"), QDir::homePath(), tr("MPEG-4 Audio (*.m4a *.mp4 *.m4b)"));
    if (files.isEmpty()) {
        return;
    }
    QList<QUrl> urls;
    for (const QString& file : files) {
        urls << QUrl::fromLocalFile(file);
    }
    // Only MPEG-4 audio, judged by content, like a drop.
    QMimeData data;
    data.setUrls(urls);
    const QList<QUrl> tapes = TapeLibraryArrayController::acceptableDropURLs(&data);
    if (tapes.size() < urls.size()) {
        showAlert(tr("Some files are not tapes"),
                  tr("Only MPEG-4 audio files can be imported into the library."));
    }
    importTapesIntoLibrary(tapes);
}

void WindowController::exportTape() {
    const std::shared_ptr<Tape> tape = mSelectedTape;
    if (canOperateOnTape(tape)) {
        ExportPanel::forWindow(mWindow)->exportTape(tape);
    }
}
