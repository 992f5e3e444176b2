#include "app/sharing/ExportPanel.h"

#include "app/library/Tape.h"
#include "platform/desktop/FileNames.h"
#include "platform/desktop/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace {

int filterOf(TapeExport::Format format) {
    const QList<TapeExport::FormatInfo>& formats = TapeExport::formats();
    for (int index = 0; index < formats.size(); ++index) {
        if (formats[index].format == format) {
            return index;
        }
    }
    return 0;
}

} // namespace

const QString ExportPanel::FormatDefault = QStringLiteral("ExportFormat");

ExportPanel* ExportPanel::forWindow(QWidget* window) {
    if (auto* panel = window->findChild<ExportPanel*>(QString(), Qt::FindDirectChildrenOnly)) {
        return panel;
    }
    return new ExportPanel(window);
}

ExportPanel::ExportPanel(QWidget* window) : SavePanel(window) {
    UserDefaults::standard().registerDefaults({{FormatDefault, QStringLiteral("m4a")}});
}

ExportPanel::~ExportPanel() {
    cancel();
    if (mThread.joinable()) {
        mThread.join();
    }
}

QStringList ExportPanel::nameFilters() {
    QStringList filters;
    for (const TapeExport::FormatInfo& format : TapeExport::formats()) {
        filters << QStringLiteral("%1 (*.%2)").arg(format.description, format.extension);
    }
    return filters;
}

void ExportPanel::exportTape(const std::shared_ptr<Tape>& tape) {
    if (!tape || isRunning()) {
        return;
    }
    const TapeExport::Format format =
        TapeExport::formatNamed(UserDefaults::standard().stringForKey(FormatDefault))
            .value_or(TapeExport::Format::MPEG4);
    const QString suggested = QDir(QDir::homePath())
                                  .filePath(QFileInfo(tape->filename()).completeBaseName() +
                                            QLatin1Char('.') + TapeExport::info(format).extension);
    QStringList extensions;
    for (const TapeExport::FormatInfo& offered : TapeExport::formats()) {
        extensions << offered.extension;
    }
    askForFile(tr("Export Tape"), nameFilters(), filterOf(format), suggested, extensions,
               [this, tape](const QString& path, int filter) {
                   exportTapeTo(tape, path, TapeExport::formats().value(filter).format);
               });
    // Choosing a type shows the name with its extension at once.
    QFileDialog* shown = dialog();
    connect(shown, &QFileDialog::filterSelected, shown, [shown](const QString& filter) {
        const qsizetype index = nameFilters().indexOf(filter);
        const QString typed = shown->selectedFiles().value(0);
        if (index >= 0 && !typed.isEmpty() && !QFileInfo(typed).isDir()) {
            shown->selectFile(QFileInfo(TapeExport::correctedFilename(
                                            typed, TapeExport::formats().value(index).format))
                                  .fileName());
        }
    });
}

void ExportPanel::exportTapeTo(const std::shared_ptr<Tape>& tape, const QString& path,
                               TapeExport::Format format) {
    if (!tape || isRunning()) {
        return;
    }
    UserDefaults::standard().setValue(FormatDefault, TapeExport::info(format).name);
    const QString destination = TapeExport::correctedFilename(path, format);
    if (QFileInfo(destination).absoluteFilePath() ==
        QFileInfo(tape->filename()).absoluteFilePath()) {
        showAlert(tr("The tape could not be exported"),
                  tr("A tape cannot be exported onto itself."));
        return;
    }
    const bool replace = FileNames::exists(destination);
    if (!mayWriteTo(destination)) {
        return;
    }
    mRunning = std::make_unique<TapeExport>(tape->filename(), ExportTags::ofTape(*tape),
                                            destination, format);
    mRunning->setReplacesExistingFile(replace);
    showProgress(tr("Exporting \"%1\"…").arg(QFileInfo(destination).fileName()),
                 [this] { cancel(); });
    TapeExport* running = mRunning.get();
    mThread = std::thread([this, running] {
        const TapeExport::Result result =
            running->run([this](double progress) { setProgress(progress); });
        QMetaObject::invokeMethod(
            this, [this, result] { done(result); }, Qt::QueuedConnection);
    });
}

void ExportPanel::cancel() {
    if (mRunning) {
        mRunning->cancel();
    }
}

void ExportPanel::done(const TapeExport::Result& result) {
    if (mThread.joinable()) {
        mThread.join();
    }
    mRunning.reset();
    hideProgress();
    switch (result.outcome) {
    case TapeExport::Outcome::Failed:
        showAlert(tr("The tape could not be exported"), result.error);
        break;
    case TapeExport::Outcome::AlreadyThere:
        showAlert(tr("The tape could not be exported"),
                  tr("\"%1\" was made meanwhile; it was not replaced.").arg(result.destination));
        break;
    case TapeExport::Outcome::Exported:
    case TapeExport::Outcome::Stopped:
        break;
    }
    emit finished(result);
}
