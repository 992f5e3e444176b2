#pragma once

#include "app/library/TapeLibraryArrayController.h"

#include <QAbstractListModel>
#include <QPointer>

#include <memory>

Q_DECLARE_METATYPE(std::shared_ptr<Tape>)

// The tape box's rows: the controller's arranged tapes. Every change of the
// arrangement (tapes added or removed, a re-sort after a tape changed, a
// search) is turned into row removals, insertions and a layout change, never
// a reset, so the view's selection and scroll position survive it. A change
// of a shown tape's label or headers repaints its row.
class TapeBoxModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        TapeRole = Qt::UserRole + 1, // std::shared_ptr<Tape>
        TitleRole,                   // the title, or the file's name when it has none
        LetterRole,                  // the tape letter's text
        ColorSchemeRole,             // the colour scheme's index (0-7)
        QualityRole,                 // "HQ", "MQ", "LQ"
        DurationTextRole,            // "1h2m5s"
        DateTextRole,                // "Today 10:20", or the short date and time
        ReadableRole,                // false when the file's headers could not be read
    };

    explicit TapeBoxModel(TapeLibraryArrayController* controller, QObject* parent = nullptr);

    TapeLibraryArrayController* controller() const { return mController; }
    std::shared_ptr<Tape> tapeAt(const QModelIndex& index) const;
    std::shared_ptr<Tape> tapeAt(int row) const;
    // The row showing a tape (the same object), or -1.
    int rowOfTape(const Tape* tape) const;
    // True while the rows are being brought in step with the controller:
    // selection changes seen then come from the model, not from the user.
    bool isFollowingController() const { return mFollowing; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // A row as a screen reader says it: title, letter, quality, duration
    // spelled out, and date.
    QString spokenRow(const QModelIndex& index) const;
    QHash<int, QByteArray> roleNames() const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Drag and drop through the controller: a dragged row is its tape's file;
    // dropped MPEG-4 audio files go to the controller's importer. Drops are
    // refused while `acceptsDrops` is off (the deck is recording) and when no
    // importer is set, so no dropped file is silently ignored.
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;
    Qt::DropActions supportedDropActions() const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;
    void setAcceptsDrops(bool accepts) { mAcceptsDrops = accepts; }
    bool acceptsDrops() const { return mAcceptsDrops; }

private:
    void followArrangedObjects();
    void removeGoneRows(const QSet<const Tape*>& wanted);
    void reorderRows(const TapeList& arranged);
    void insertNewRows(const TapeList& arranged);
    void watch(const std::shared_ptr<Tape>& tape);
    void tapeChanged(const Tape* tape);

    QPointer<TapeLibraryArrayController> mController;
    TapeList mRows;
    bool mFollowing = false;
    bool mAcceptsDrops = true;
};
