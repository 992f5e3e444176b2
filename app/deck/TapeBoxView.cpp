#include "app/deck/TapeBoxView.h"

#include "app/deck/TapeSpineDelegate.h"
#include "platform/desktop/FileNames.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QScrollBar>

#include <cstdio>

#include <unistd.h>

namespace {

// The deck's panel: near-black with a fine grain, tiled. The same seed every
// time, so the grain never shimmers between runs or screenshots.
const QImage& panelTexture() {
    static const QImage texture = [] {
        QImage image(96, 96, QImage::Format_RGB32);
        QRandomGenerator noise(0x7a9eb0c5);
        for (int y = 0; y < image.height(); ++y) {
            // A faint horizontal brush line every few rows.
            const int line = (y % 3 == 0) ? 2 : 0;
            auto* pixels = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int grain = static_cast<int>(noise.bounded(7)) - 3 + line;
                pixels[x] = qRgb(30 + grain, 31 + grain, 34 + grain);
            }
        }
        return image;
    }();
    return texture;
}

bool folderIsReadable(const QString& path) {
    return FileNames::isDirectory(path) &&
           ::access(FileNames::encode(path).constData(), R_OK | X_OK) == 0;
}

} // namespace

TapeBoxView::TapeBoxView(TapeLibraryArrayController* controller, QWidget* parent)
    : QListView(parent), mController(controller) {
    setAccessibleName(tr("Tapes"));
    mModel = new TapeBoxModel(controller, this);
    // Setting the model announces an empty selection: not the user's.
    mApplyingControllerSelection = true;
    setModel(mModel);
    mApplyingControllerSelection = false;
    setItemDelegate(new TapeSpineDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setUniformItemSizes(true); // a thousand tapes lay out without asking each row
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalScrollBar()->setSingleStep(RowHeight / 2);
    setFrameShape(QFrame::NoFrame);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false); // the whole box lights up instead
    setDefaultDropAction(Qt::CopyAction);
    viewport()->setAutoFillBackground(false);
    setMouseTracking(false);
    setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: #1b1c1f; width: 9px; margin: 0; }"
        "QScrollBar::handle:vertical { background: #4a4d53; border-radius: 3px; min-height: 24px;"
        " margin: 1px 2px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));

    if (mController) {
        // Connected after the model, so the rows are in step when these run.
        connect(mController, &ArrayController::selectionChanged, this,
                &TapeBoxView::followControllerSelection);
        connect(mController, &ArrayController::arrangedObjectsChanged, this,
                &TapeBoxView::checkFolder);
        checkFolder();
        followControllerSelection();
    }
}

QSize TapeBoxView::sizeHint() const {
    return {BoxWidth, RowHeight * 8};
}

// Selection, both ways.

void TapeBoxView::followControllerSelection() {
    if (!mController || !selectionModel()) {
        return;
    }
    QItemSelection selection;
    for (int row : mController->selectionIndexes()) {
        if (row >= 0 && row < mModel->rowCount()) {
            selection.select(mModel->index(row), mModel->index(row));
        }
    }
    mApplyingControllerSelection = true;
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (!selection.isEmpty()) {
        const QModelIndex first = selection.indexes().constFirst();
        selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
        scrollTo(first, QAbstractItemView::EnsureVisible);
    }
    mApplyingControllerSelection = false;
}

void TapeBoxView::selectionChanged(const QItemSelection& selected,
                                   const QItemSelection& deselected) {
    QListView::selectionChanged(selected, deselected);
    // Changes made to follow the controller, or made by the model while it
    // moves rows, are not the user's.
    if (mApplyingControllerSelection || mModel->isFollowingController() || !mController ||
        model() != mModel) {
        return;
    }
    if (mRecording) {
        followControllerSelection(); // whatever changed it, the deck's selection stands
        return;
    }
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
        rows << index.row();
    }
    mController->setSelectionIndexes(rows);
}

QItemSelectionModel::SelectionFlags TapeBoxView::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
    if (mRecording) {
        return QItemSelectionModel::NoUpdate;
    }
    return QListView::selectionCommand(index, event);
}

void TapeBoxView::selectRowAndScrollToVisible(int row) {
    if (row < 0 || row >= mModel->rowCount()) {
        return;
    }
    if (!mRecording && mController) {
        mController->setSelectionIndexes({row});
    }
    scrollTo(mModel->index(row), QAbstractItemView::EnsureVisible);
}

void TapeBoxView::search(const QString& text) {
    if (!mController) {
        return;
    }
    mController->setFilterString(text);
    selectRowAndScrollToVisible(0);
}

void TapeBoxView::setRecording(bool recording) {
    if (recording == mRecording) {
        return;
    }
    mRecording = recording;
    mModel->setAcceptsDrops(!recording);
    if (recording) {
        mDropHovering = false;
    }
    viewport()->update();
}

void TapeBoxView::initViewItemOption(QStyleOptionViewItem* option) const {
    QListView::initViewItemOption(option);
    if (mRecording) {
        option->state &= ~QStyle::State_Enabled; // spines drawn greyed
    }
}

// Context menu

void TapeBoxView::contextMenuEvent(QContextMenuEvent* event) {
    QModelIndex index;
    QPoint global = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        index = indexAt(event->pos());
    } else {
        index = currentIndex().isValid() ? currentIndex()
                                         : (selectionModel()->selectedIndexes().isEmpty()
                                                ? QModelIndex()
                                                : selectionModel()->selectedIndexes().first());
        if (index.isValid()) {
            const QRect rect = visualRect(index);
            global = viewport()->mapToGlobal(QPoint(rect.left() + rect.width() / 3, rect.bottom()));
        }
    }
    const auto tape = mModel->tapeAt(index);
    if (!tape) {
        event->ignore();
        return;
    }
    event->accept();
    emit tapeContextMenuRequested(tape, global);
}

// Drawing

QString TapeBoxView::placeholderText() const {
    if (mModel->rowCount() > 0) {
        return {};
    }
    if (mFolderUnreadable && mController) {
        return tr("The library folder cannot be read:\n%1")
            .arg(QDir::toNativeSeparators(mController->soundFilePath()));
    }
    if (mController && !mController->filterString().isEmpty()) {
        return tr("No tapes match the search.");
    }
    return tr("No tapes yet.\nPress REC to record one.");
}

void TapeBoxView::checkFolder() {
    // Only an empty list can hide an unreadable folder: the controller lists
    // such a folder as empty.
    const bool unreadable =
        mController && mModel->rowCount() == 0 && !folderIsReadable(mController->soundFilePath());
    if (unreadable && !mFolderUnreadable) {
        std::fprintf(stderr, "(ERROR) TapeBoxView : the library folder %s cannot be read\n",
                     qPrintable(FileNames::displayable(mController->soundFilePath())));
    }
    mFolderUnreadable = unreadable;
}

void TapeBoxView::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(viewport());
        painter.fillRect(event->rect(), QBrush(panelTexture()));
        // Inner shadow along the top edge, as if the box sat under the deck.
        QLinearGradient shade(0, 0, 0, 10);
        shade.setColorAt(0, QColor(0, 0, 0, 110));
        shade.setColorAt(1, QColor(0, 0, 0, 0));
        painter.fillRect(QRect(0, 0, viewport()->width(), 10), shade);
    }
    QListView::paintEvent(event);

    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const QString text = placeholderText();
    if (!text.isEmpty()) {
        QFont font = this->font();
        font.setPixelSize(12);
        painter.setFont(font);
        painter.setPen(mFolderUnreadable ? QColor(0xff, 0x8a, 0x7a) : QColor(0x8a, 0x8d, 0x93));
        painter.drawText(viewport()->rect().adjusted(12, 12, -12, -12),
                         Qt::AlignCenter | Qt::TextWordWrap, text);
    }
    if (mDropHovering) {
        QColor glow = TapeSpineDelegate::GlowColor;
        for (int ring = 0; ring < 3; ++ring) {
            glow.setAlpha(150 - ring * 50);
            painter.setPen(QPen(glow, 1.5));
            painter.drawRoundedRect(QRectF(viewport()->rect())
                                        .adjusted(1.5 + ring, 1.5 + ring, -1.5 - ring, -1.5 - ring),
                                    4, 4);
        }
    }
}

// Drag and drop. A tape dragged out is its file; files dropped in are judged
// once when the drag enters (reading their contents), not at every move.

void TapeBoxView::startDrag(Qt::DropActions supportedActions) {
    if (mRecording) {
        return;
    }
    QListView::startDrag(supportedActions & Qt::CopyAction);
}

void TapeBoxView::dragEnterEvent(QDragEnterEvent* event) {
    // A tape of this box dropped back on it would import its own file again.
    const bool ours = event->source() == this || event->source() == viewport();
    mDropHovering = !mRecording && !ours &&
                    mModel->canDropMimeData(event->mimeData(), Qt::CopyAction, -1, -1, {});
    viewport()->update();
    if (mDropHovering) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TapeBoxView::dragMoveEvent(QDragMoveEvent* event) {
    if (mDropHovering && !mRecording) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TapeBoxView::dragLeaveEvent(QDragLeaveEvent* event) {
    mDropHovering = false;
    viewport()->update();
    event->accept();
}

void TapeBoxView::dropEvent(QDropEvent* event) {
    const bool wanted = mDropHovering && !mRecording;
    mDropHovering = false;
    viewport()->update();
    const int row = indexAt(event->position().toPoint()).row();
    if (!wanted || !mModel->dropMimeData(event->mimeData(), Qt::CopyAction, row, 0, {})) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}
