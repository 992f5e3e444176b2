#include "app/deck/TapeBoxModel.h"

#include "app/library/DurationFormatter.h"
#include "app/library/FuzzyDateFormatter.h"

#include <QFileInfo>
#include <QMimeData>
#include <QSet>

#include <cmath>

namespace {

// The locale's short date and time, without seconds. "Today" and
// "Yesterday" replace the first word, so the date must be one word: a date
// written with spaces ("8 Nov 2026") is held together by no-break spaces.
QString spineDateFormat() {
    const QLocale locale;
    QString date = locale.dateFormat(QLocale::ShortFormat);
    date.replace(QLatin1Char(' '), QChar(0x00a0));
    QString time = locale.timeFormat(QLocale::ShortFormat);
    time.remove(QLatin1String(":ss"));
    return date + QLatin1Char(' ') + time;
}

} // namespace

TapeBoxModel::TapeBoxModel(TapeLibraryArrayController* controller, QObject* parent)
    : QAbstractListModel(parent), mController(controller) {
    if (!mController) {
        return;
    }
    mRows = mController->arrangedObjects();
    for (const auto& tape : mRows) {
        watch(tape);
    }
    connect(mController, &ArrayController::arrangedObjectsChanged, this,
            &TapeBoxModel::followArrangedObjects);
    connect(mController, &QObject::destroyed, this, [this] {
        beginResetModel();
        for (const auto& tape : mRows) {
            disconnect(tape.get(), nullptr, this, nullptr);
        }
        mRows.clear();
        endResetModel();
    });
}

std::shared_ptr<Tape> TapeBoxModel::tapeAt(int row) const {
    if (row < 0 || row >= static_cast<int>(mRows.size())) {
        return nullptr;
    }
    return mRows[static_cast<size_t>(row)];
}

std::shared_ptr<Tape> TapeBoxModel::tapeAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) {
        return nullptr;
    }
    return tapeAt(index.row());
}

int TapeBoxModel::rowOfTape(const Tape* tape) const {
    for (size_t row = 0; row < mRows.size(); ++row) {
        if (mRows[row].get() == tape) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

int TapeBoxModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(mRows.size());
}

QVariant TapeBoxModel::data(const QModelIndex& index, int role) const {
    const auto tape = tapeAt(index);
    if (!tape) {
        return {};
    }
    switch (role) {
    case TapeRole:
        return QVariant::fromValue(tape);
    case Qt::DisplayRole:
    case TitleRole:
        // A tape whose label could not be read still shows which file it is.
        return tape->title().isEmpty() ? QFileInfo(tape->filename()).completeBaseName()
                                       : tape->title();
    case Qt::ToolTipRole:
        return tape->notes().isEmpty() ? QFileInfo(tape->filename()).fileName()
                                       : QStringLiteral("%1\n%2").arg(
                                             QFileInfo(tape->filename()).fileName(), tape->notes());
    case LetterRole: {
        const auto letter = tape->tapeLetter();
        return letter ? letter->letter() : QString();
    }
    case ColorSchemeRole: {
        const auto letter = tape->tapeLetter();
        return letter && letter->colorScheme() ? static_cast<int>(letter->colorScheme()->index())
                                               : 0;
    }
    case QualityRole:
        // Without headers there is no quality to tell either.
        return tape->samplerate() == 0 ? QString() : tape->quality();
    case DurationTextRole:
        // No headers (a file still being recorded, or a damaged one): no
        // duration is better than a wrong "0s".
        if (tape->samplerate() == 0) {
            return QStringLiteral("\u2013");
        }
        return DurationFormatter::tapeDurationToString(tape->duration());
    case DateTextRole: {
        if (!tape->date().isValid()) {
            return QString();
        }
        static const FuzzyDateFormatter formatter(spineDateFormat());
        return formatter.stringFromDate(tape->date());
    }
    case Qt::AccessibleTextRole:
        return spokenRow(index);
    default:
        return {};
    }
}

QString TapeBoxModel::spokenRow(const QModelIndex& index) const {
    const auto tape = tapeAt(index);
    QStringList parts{data(index, TitleRole).toString()};
    if (const QString letter = data(index, LetterRole).toString(); !letter.isEmpty()) {
        parts << tr("letter %1").arg(letter);
    }
    parts << data(index, QualityRole).toString();
    if (tape->samplerate() != 0) {
        const double seconds = tape->duration();
        parts << (std::isfinite(seconds) && seconds >= 0 &&
                          seconds <= DurationFormatter::kLongestTape
                      ? DurationFormatter::durationToString(static_cast<int>(seconds), 1)
                      : DurationFormatter::tapeDurationToString(seconds));
    }
    if (const QString date = data(index, DateTextRole).toString(); !date.isEmpty()) {
        parts << date;
    }
    parts.removeAll(QString());
    return parts.join(QStringLiteral(", "));
}

QHash<int, QByteArray> TapeBoxModel::roleNames() const {
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(TapeRole, "tape");
    names.insert(TitleRole, "title");
    names.insert(LetterRole, "letter");
    names.insert(ColorSchemeRole, "colorScheme");
    names.insert(QualityRole, "quality");
    names.insert(DurationTextRole, "durationText");
    names.insert(DateTextRole, "dateText");
    return names;
}

Qt::ItemFlags TapeBoxModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled; // drops land between the tapes
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

// Keeping in step with the controller. Rows leave first, then the rows that
// stay are put in the new order (one layout change that moves the view's
// selection and current row with their tapes), then new tapes are inserted
// where the arrangement has them.

void TapeBoxModel::followArrangedObjects() {
    if (!mController) {
        return;
    }
    const TapeList& arranged = mController->arrangedObjects();
    QSet<const Tape*> wanted;
    wanted.reserve(static_cast<qsizetype>(arranged.size()));
    for (const auto& tape : arranged) {
        wanted.insert(tape.get());
    }
    mFollowing = true;
    removeGoneRows(wanted);
    reorderRows(arranged);
    insertNewRows(arranged);
    mFollowing = false;
}

void TapeBoxModel::removeGoneRows(const QSet<const Tape*>& wanted) {
    int row = static_cast<int>(mRows.size()) - 1;
    while (row >= 0) {
        if (wanted.contains(mRows[static_cast<size_t>(row)].get())) {
            --row;
            continue;
        }
        const int last = row;
        while (row > 0 && !wanted.contains(mRows[static_cast<size_t>(row - 1)].get())) {
            --row;
        }
        beginRemoveRows(QModelIndex(), row, last);
        for (int gone = row; gone <= last; ++gone) {
            disconnect(mRows[static_cast<size_t>(gone)].get(), nullptr, this, nullptr);
        }
        mRows.erase(mRows.begin() + row, mRows.begin() + last + 1);
        endRemoveRows();
        --row;
    }
}

void TapeBoxModel::reorderRows(const TapeList& arranged) {
    QSet<const Tape*> shown;
    shown.reserve(static_cast<qsizetype>(mRows.size()));
    for (const auto& tape : mRows) {
        shown.insert(tape.get());
    }
    TapeList ordered;
    ordered.reserve(mRows.size());
    for (const auto& tape : arranged) {
        if (shown.contains(tape.get())) {
            ordered.push_back(tape);
        }
    }
    if (ordered == mRows) {
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QHash<const Tape*, int> newRow;
    newRow.reserve(static_cast<qsizetype>(ordered.size()));
    for (size_t row = 0; row < ordered.size(); ++row) {
        newRow.insert(ordered[row].get(), static_cast<int>(row));
    }
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before) {
        const auto tape = tapeAt(index.row());
        after << (tape ? createIndex(newRow.value(tape.get()), index.column()) : QModelIndex());
    }
    mRows = std::move(ordered);
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TapeBoxModel::insertNewRows(const TapeList& arranged) {
    QSet<const Tape*> shown;
    shown.reserve(static_cast<qsizetype>(mRows.size()));
    for (const auto& tape : mRows) {
        shown.insert(tape.get());
    }
    // What is shown is now in the arranged order, so every place where the
    // two lists differ starts a run of new tapes.
    size_t row = 0;
    while (row < arranged.size()) {
        if (row < mRows.size() && mRows[row] == arranged[row]) {
            ++row;
            continue;
        }
        size_t end = row;
        while (end < arranged.size() && !shown.contains(arranged[end].get())) {
            ++end;
        }
        if (end == row) {
            // Cannot happen while the controller lists each tape once; do
            // not loop on it if it ever does.
            ++row;
            continue;
        }
        beginInsertRows(QModelIndex(), static_cast<int>(row), static_cast<int>(end - 1));
        mRows.insert(mRows.begin() + static_cast<std::ptrdiff_t>(row),
                     arranged.begin() + static_cast<std::ptrdiff_t>(row),
                     arranged.begin() + static_cast<std::ptrdiff_t>(end));
        endInsertRows();
        for (size_t added = row; added < end; ++added) {
            watch(mRows[added]);
        }
        row = end;
    }
}

void TapeBoxModel::watch(const std::shared_ptr<Tape>& tape) {
    const Tape* watched = tape.get();
    const auto repaint = [this, watched] { tapeChanged(watched); };
    for (auto signal : {&Tape::titleChanged, &Tape::filenameChanged, &Tape::notesChanged,
                        &Tape::dateChanged, &Tape::tapeLetterChanged, &Tape::headersChanged}) {
        connect(tape.get(), signal, this, repaint);
    }
}

void TapeBoxModel::tapeChanged(const Tape* tape) {
    const int row = rowOfTape(tape);
    if (row >= 0) {
        emit dataChanged(index(row), index(row));
    }
}

// Drag and drop

QStringList TapeBoxModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* TapeBoxModel::mimeData(const QModelIndexList& indexes) const {
    QList<QUrl> urls;
    for (const QModelIndex& index : indexes) {
        if (const auto tape = tapeAt(index)) {
            std::unique_ptr<QMimeData> single(tape->pasteboardData());
            urls << single->urls();
        }
    }
    if (urls.isEmpty()) {
        return nullptr;
    }
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

Qt::DropActions TapeBoxModel::supportedDragActions() const {
    return Qt::CopyAction;
}

Qt::DropActions TapeBoxModel::supportedDropActions() const {
    return Qt::CopyAction;
}

bool TapeBoxModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                   const QModelIndex&) const {
    return mAcceptsDrops && mController && mController->hasImporter() &&
           (action == Qt::CopyAction || action == Qt::MoveAction) &&
           mController->validateDrop(data);
}

bool TapeBoxModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) {
        return false;
    }
    // The importer copies the files into the library folder; the folder
    // watch then adds the tapes, so no row is inserted here.
    return mController->acceptDrop(data);
}
