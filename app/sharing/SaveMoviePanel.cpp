#include "app/sharing/SaveMoviePanel.h"

#include "app/library/Tape.h"
#include "app/sharing/FilePlacement.h"
#include "app/sharing/TapeMovie.h"
#include "platform/desktop/FileNames.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

SaveMoviePanel* SaveMoviePanel::forWindow(QWidget* window) {
    if (auto* panel = window->findChild<SaveMoviePanel*>(QString(), Qt::FindDirectChildrenOnly)) {
        return panel;
    }
    return new SaveMoviePanel(window);
}

SaveMoviePanel::SaveMoviePanel(QWidget* window) : SavePanel(window) {}

SaveMoviePanel::~SaveMoviePanel() {
    // The movie's own destruction stops it and removes its file.
    mMovie.reset();
}

void SaveMoviePanel::saveMovie(const std::shared_ptr<Tape>& tape) {
    if (!tape || isRunning()) {
        return;
    }
    const QString suggested =
        QDir(QDir::homePath())
            .filePath(QFileInfo(tape->filename()).completeBaseName() + QStringLiteral(".mov"));
    askForFile(tr("Save Movie"), {tr("QuickTime Movie (*.mov)")}, 0, suggested,
               {QStringLiteral("mov")},
               [this, tape](const QString& path, int) { saveMovieTo(tape, path); });
}

void SaveMoviePanel::saveMovieTo(const std::shared_ptr<Tape>& tape, const QString& path) {
    if (!tape || isRunning()) {
        return;
    }
    mDestination = QFileInfo(path).suffix().isEmpty() ? path + QStringLiteral(".mov") : path;
    mReplaces = FileNames::exists(mDestination);
    if (!mayWriteTo(mDestination)) {
        return;
    }
    mMovie = std::make_unique<TapeMovie>(tape, FilePlacement::partialNameFor(mDestination));
    TapeMovie* movie = mMovie.get();
    movie->setProgressUpdateBlock([this](double progress) {
        setProgress(progress);
        return true;
    });
    showProgress(tr("Making the movie \"%1\"…").arg(QFileInfo(mDestination).fileName()),
                 [this] { cancel(); });
    movie->performMovieExport([this, movie](const std::optional<TapeMovieError>& error) {
        const QString failure = error && !error->isCancellation() ? error->description : QString();
        const bool cancelled = error && error->isCancellation();
        QMetaObject::invokeMethod(
            this,
            [this, movie, failure, cancelled] {
                if (mMovie.get() == movie) {
                    done(failure, cancelled);
                }
            },
            Qt::QueuedConnection);
    });
}

void SaveMoviePanel::cancel() {
    if (mMovie) {
        mMovie->cancel();
    }
}

void SaveMoviePanel::done(const QString& error, bool cancelled) {
    mMovie->waitUntilFinished();
    const QString partial = mMovie->filename();
    mMovie.reset();
    hideProgress();
    QString failure = error;
    if (failure.isEmpty() && !cancelled) {
        const FilePlacement::Result placed = FilePlacement::place(partial, mDestination, mReplaces);
        if (placed.outcome == FilePlacement::Outcome::AlreadyThere) {
            failure = tr("\"%1\" was made meanwhile; it was not replaced.").arg(mDestination);
        } else if (placed.outcome == FilePlacement::Outcome::Failed) {
            failure = placed.error;
        }
    }
    if (!failure.isEmpty()) {
        showAlert(tr("The movie could not be saved"), failure);
    }
    emit finished(mDestination, failure, cancelled);
}
