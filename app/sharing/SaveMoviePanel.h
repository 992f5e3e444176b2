#pragma once

#include "app/sharing/SavePanel.h"

#include <memory>

class Tape;
class TapeMovie;

// "Save Movie…": the tape's movie (the one `cassora movie` makes) rendered
// to a file the user chooses, with progress and Cancel, no account needed.
// The movie is made under a hidden name beside the file and named only when
// whole; an existing file is replaced only after the user agreed.
class SaveMoviePanel : public SavePanel {
    Q_OBJECT

public:
    // The deck window's panel, made on first use.
    static SaveMoviePanel* forWindow(QWidget* window);
    explicit SaveMoviePanel(QWidget* window);
    // Stops a movie being made; nothing of it is left.
    ~SaveMoviePanel() override;

    void saveMovie(const std::shared_ptr<Tape>& tape);
    // What the dialog's answer leads to (".mov" added to a name without an
    // extension).
    void saveMovieTo(const std::shared_ptr<Tape>& tape, const QString& path);
    bool isRunning() const { return mMovie != nullptr; }
    void cancel();

signals:
    // `error` is empty when the movie was saved, and for a cancelled one.
    void finished(const QString& path, const QString& error, bool cancelled);

private:
    void done(const QString& error, bool cancelled);

    std::unique_ptr<TapeMovie> mMovie;
    QString mDestination;
    bool mReplaces = false;
};
