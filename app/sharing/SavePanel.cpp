#include "app/sharing/SavePanel.h"

#include "platform/desktop/FileNames.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kProgressSteps = 1000;

} // namespace

SavePanel::SavePanel(QWidget* window) : QObject(window), mWindow(window) {
    mProgressTimer = new QTimer(this);
    mProgressTimer->setInterval(100);
    connect(mProgressTimer, &QTimer::timeout, this, [this] {
        if (mProgress) {
            mProgress->setValue(static_cast<int>(mProgressValue.load() * kProgressSteps));
        }
    });
}

SavePanel::~SavePanel() {
    delete mDialog;
    delete mProgress;
}

void SavePanel::askForFile(const QString& title, const QStringList& filters, int filter,
                           const QString& suggested, const QStringList& extensions,
                           std::function<void(const QString& path, int filter)> accepted) {
    delete mDialog;
    mDialog = new QFileDialog(mWindow, title);
    mDialog->setAcceptMode(QFileDialog::AcceptSave);
    mDialog->setFileMode(QFileDialog::AnyFile);
    // The replacement is confirmed here, for the name actually written.
    mDialog->setOption(QFileDialog::DontConfirmOverwrite);
    mDialog->setNameFilters(filters);
    mDialog->selectNameFilter(filters.value(filter));
    mDialog->setDefaultSuffix(extensions.value(filter));
    QFileDialog* shown = mDialog;
    connect(mDialog, &QFileDialog::filterSelected, mDialog,
            [shown, filters, extensions](const QString& chosen) {
                shown->setDefaultSuffix(
                    extensions.value(static_cast<int>(filters.indexOf(chosen))));
            });
    mDialog->setDirectory(QFileInfo(suggested).absolutePath());
    mDialog->selectFile(QFileInfo(suggested).fileName());
    mDialog->setWindowModality(Qt::WindowModal);
    mDialog->setAttribute(Qt::WA_DeleteOnClose);
    QFileDialog* dialog = mDialog;
    connect(dialog, &QFileDialog::accepted, this, [this, dialog, filters, accepted] {
        const QString path = dialog->selectedFiles().value(0);
        const int chosen = std::max<qsizetype>(0, filters.indexOf(dialog->selectedNameFilter()));
        if (!path.isEmpty()) {
            // After the dialog has gone.
            QTimer::singleShot(0, this, [accepted, path, chosen] { accepted(path, chosen); });
        }
    });
    mDialog->open();
}

bool SavePanel::mayWriteTo(const QString& path) {
    if (!FileNames::exists(path)) {
        return true;
    }
    if (mConfirmer) {
        return mConfirmer(path);
    }
    QMessageBox box(
        QMessageBox::Warning,
        tr("\"%1\" already exists. Do you want to replace it?").arg(QFileInfo(path).fileName()),
        tr("\"%1\" already exists. Do you want to replace it?").arg(QFileInfo(path).fileName()),
        QMessageBox::Cancel, mWindow);
    box.setInformativeText(
        tr("The file in \"%1\" will be replaced.").arg(QFileInfo(path).absolutePath()));
    QPushButton* replace = box.addButton(tr("Replace"), QMessageBox::DestructiveRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == replace;
}

void SavePanel::showAlert(const QString& message, const QString& informative) {
    if (mAlertPresenter) {
        mAlertPresenter(message, informative);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, message, message, QMessageBox::Ok, mWindow);
    box->setInformativeText(informative);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void SavePanel::showProgress(const QString& text, std::function<void()> cancel) {
    delete mProgress;
    mProgressValue = 0;
    mProgress = new QProgressDialog(text, tr("Cancel"), 0, kProgressSteps, mWindow);
    mProgress->setWindowModality(Qt::WindowModal);
    mProgress->setMinimumDuration(0);
    mProgress->setAutoClose(false);
    mProgress->setAutoReset(false);
    connect(mProgress, &QProgressDialog::canceled, this, [this, cancel] {
        if (mProgress) {
            mProgress->setLabelText(tr("Stopping…"));
            mProgress->setCancelButton(nullptr);
        }
        cancel();
    });
    mProgress->setValue(0);
    mProgress->show();
    mProgressTimer->start();
}

void SavePanel::hideProgress() {
    mProgressTimer->stop();
    if (mProgress) {
        mProgress->hide();
        mProgress->deleteLater();
        mProgress = nullptr;
    }
}
