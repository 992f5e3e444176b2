#pragma once

#include "app/deck/TapeBoxModel.h"

#include <QListView>
#include <QPointer>

#include <memory>

// The tape box: a list of tape spines over the library controller. Its
// selection and the controller's follow each other both ways: a click or a
// key selects in the controller, and a change of the controller's selection
// (a new recording, a folder check, a search) selects and shows the row.
// While the deck records, the box is greyed and takes no selection changes,
// drags or drops from the user; it still follows the controller.
class TapeBoxView : public QListView {
    Q_OBJECT

public:
    static constexpr int BoxWidth = 236; // pixels at scale 1
    static constexpr int RowHeight = 30;

    explicit TapeBoxView(TapeLibraryArrayController* controller, QWidget* parent = nullptr);

    TapeBoxModel* tapeModel() const { return mModel; }
    TapeLibraryArrayController* controller() const { return mController; }

    void setRecording(bool recording);
    bool isRecording() const { return mRecording; }

    // Selects the row in the controller (not while recording) and scrolls it
    // into view; a row outside the list does nothing.
    void selectRowAndScrollToVisible(int row);
    // The search field's text becomes the controller's filter; the first
    // tape left is selected and shown.
    void search(const QString& text);

    // What the empty box says: no tapes yet, none matching the search, or
    // that the library folder cannot be read. Empty while tapes are shown.
    QString placeholderText() const;

    QSize sizeHint() const override;

signals:
    // A right click on a spine (or the keyboard's menu key on the current
    // one): the deck shows its tape menu for that tape at that place.
    void tapeContextMenuRequested(std::shared_ptr<Tape> tape, const QPoint& globalPosition);

protected:
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void initViewItemOption(QStyleOptionViewItem* option) const override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void followControllerSelection();
    void checkFolder();

    QPointer<TapeLibraryArrayController> mController;
    TapeBoxModel* mModel = nullptr;
    bool mRecording = false;
    bool mApplyingControllerSelection = false;
    bool mDropHovering = false;
    bool mFolderUnreadable = false;
};
