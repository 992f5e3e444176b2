#pragma once

#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QTimer;
class QWidget;

// What the deck's commands that save a tape to a file of the user's choice
// share: the save dialog as a sheet on the deck window, a confirmation
// before an existing file is replaced, a progress window with Cancel for
// the work (which runs on another thread), and alerts. Nothing here blocks
// the deck but the confirmation.
class SavePanel : public QObject {
    Q_OBJECT

public:
    explicit SavePanel(QWidget* window);
    ~SavePanel() override;

    // The save dialog while it is open, the progress window while the work runs.
    QFileDialog* dialog() const { return mDialog; }
    QProgressDialog* progressWindow() const { return mProgress; }

    // Replace the confirmation and the alerts (tests answer them at once).
    void setConfirmer(std::function<bool(const QString& path)> confirmer) {
        mConfirmer = std::move(confirmer);
    }
    void setAlertPresenter(std::function<void(const QString&, const QString&)> presenter) {
        mAlertPresenter = std::move(presenter);
    }

protected:
    QWidget* window() const { return mWindow; }
    // Opens the dialog on `suggested` with the name filters, `filter` chosen;
    // a name typed without an extension gets the chosen filter's one of
    // `extensions`. `accepted` gets the path and the index of the chosen filter.
    void askForFile(const QString& title, const QStringList& filters, int filter,
                    const QString& suggested, const QStringList& extensions,
                    std::function<void(const QString& path, int filter)> accepted);
    // True when `path` is free or the user agreed to replace what is there.
    bool mayWriteTo(const QString& path);
    void showAlert(const QString& message, const QString& informative);
    // The progress window; `cancel` runs when the user presses Cancel.
    void showProgress(const QString& text, std::function<void()> cancel);
    // From any thread: the share done, 0 to 1.
    void setProgress(double progress) { mProgressValue = progress; }
    void hideProgress();

private:
    QWidget* mWindow;
    QPointer<QFileDialog> mDialog;
    QPointer<QProgressDialog> mProgress;
    QTimer* mProgressTimer = nullptr;
    std::atomic<double> mProgressValue{0};
    std::function<bool(const QString&)> mConfirmer;
    std::function<void(const QString&, const QString&)> mAlertPresenter;
};
