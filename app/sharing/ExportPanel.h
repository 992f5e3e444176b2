#pragma once

#include "app/sharing/SavePanel.h"
#include "app/sharing/TapeExport.h"

#include <memory>
#include <thread>

class Tape;

// The deck's export: a save dialog whose file-type chooser offers the
// tape's own MPEG-4, WAV, FLAC, Opus and MP3; the chosen type sets the
// name's extension (a missing or another sound format's one is corrected);
// an existing file is replaced only after the user agreed; then the export
// runs on a thread of its own, with progress and Cancel. The last type
// chosen is offered again.
class ExportPanel : public SavePanel {
    Q_OBJECT

public:
    static const QString FormatDefault; // "ExportFormat": the last type chosen

    // The deck window's panel, made on first use.
    static ExportPanel* forWindow(QWidget* window);
    explicit ExportPanel(QWidget* window);
    // Stops a running export; nothing of it is left.
    ~ExportPanel() override;

    // The name filters of the file-type chooser, in the order of `TapeExport::formats`.
    static QStringList nameFilters();

    void exportTape(const std::shared_ptr<Tape>& tape);
    // What the dialog's answer leads to: `path` corrected for `format`,
    // confirmed when it exists, then exported.
    void exportTapeTo(const std::shared_ptr<Tape>& tape, const QString& path,
                      TapeExport::Format format);
    bool isRunning() const { return mRunning != nullptr; }
    void cancel();

signals:
    void finished(const TapeExport::Result& result);

private:
    void done(const TapeExport::Result& result);

    std::unique_ptr<TapeExport> mRunning;
    std::thread mThread;
};
