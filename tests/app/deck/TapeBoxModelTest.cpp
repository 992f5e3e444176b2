#include "app/deck/TapeBoxModel.h"
#include "app/deck/TapeBoxView.h"
#include "app/deck/TapeSearchField.h"
#include "app/deck/TapeSpineDelegate.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QToolButton>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// One real short tape, made once with ffmpeg; every test tape is a labelled
// copy of it.
QString sourceTape() {
    static QTemporaryDir folder;
    static const QString path = [] {
        const QString made = QDir(folder.path()).filePath("source.m4a");
        QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                     "sine=frequency=440:sample_rate=8000:duration=1.5", "-c:a",
                                     "aac", "-f", "ipod", made});
        return made;
    }();
    return path;
}

QString makeTape(const QDir& folder, const QString& name, const QString& title,
                 const QDateTime& date, unsigned color = 0, const QString& letter = "A") {
    const QString path = folder.filePath(name);
    EXPECT_TRUE(QFile::copy(sourceTape(), path)) << path.toStdString();
    Tape tape(path);
    tape.setKeepsFileName(true);
    tape.setTitle(title);
    tape.setDate(date);
    tape.setTapeLetter(
        std::make_shared<TapeLetter>(letter, TapeColorScheme::colorSchemeWithIndex(color)));
    EXPECT_TRUE(tape.commitAttributes()) << tape.lastError().toStdString();
    return path;
}

// The model tester reports through warnings; any "FAIL!" is a broken
// promise of the model.
class ModelTesterFailures {
public:
    ModelTesterFailures() {
        sFailures.clear();
        mPrevious = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& message) {
                if (message.contains(QLatin1String("FAIL"))) {
                    sFailures << message;
                }
            });
    }
    ~ModelTesterFailures() { qInstallMessageHandler(mPrevious); }
    QStringList failures() const { return sFailures; }

private:
    static inline QStringList sFailures;
    QtMessageHandler mPrevious;
};

QStringList titlesOf(const TapeBoxModel& model) {
    QStringList titles;
    for (int row = 0; row < model.rowCount(); ++row) {
        titles << model.index(row).data(TapeBoxModel::TitleRole).toString();
    }
    return titles;
}

class TapeBox : public ::testing::Test {
protected:
    QTemporaryDir library;
    QTemporaryDir elsewhere;
    QDir dir{library.path()};
    const QDateTime now = QDateTime::currentDateTime();

    void SetUp() override {
        makeTape(dir, "a.m4a", "Oldest", now.addDays(-30), 0, "A");
        makeTape(dir, "b.m4a", "Interview with Ann", now.addDays(-3), 1, "B");
        makeTape(dir, "c.m4a", "Band practice", now.addDays(-1), 3, "C");
        // Ten minutes ago, but never yesterday: the box calls it "Today".
        makeTape(dir, "d.m4a", "Newest",
                 std::max(now.addSecs(-600), QDateTime(now.date(), QTime(0, 0))), 2, "D");
    }

    void expectInStep(const TapeBoxModel& model, const TapeLibraryArrayController& controller) {
        ASSERT_EQ(model.rowCount(), static_cast<int>(controller.arrangedObjects().size()));
        for (int row = 0; row < model.rowCount(); ++row) {
            EXPECT_EQ(model.tapeAt(model.index(row)), controller.arrangedObjects()[row])
                << "row " << row;
        }
    }

    int selectedRow(const TapeBoxView& view) {
        const auto rows = view.selectionModel()->selectedIndexes();
        return rows.size() == 1 ? rows.first().row() : -1;
    }
};

TEST_F(TapeBox, RowsFollowTheControllerWithoutResets) {
    ModelTesterFailures failures;
    TapeLibraryArrayController controller(library.path());
    TapeBoxModel model(&controller);
    QAbstractItemModelTester tester(&model,
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    expectInStep(model, controller);
    EXPECT_EQ(titlesOf(model),
              QStringList({"Newest", "Band practice", "Interview with Ann", "Oldest"}));
    EXPECT_EQ(model.index(0).data(TapeBoxModel::LetterRole).toString(), "D");
    EXPECT_EQ(model.index(0).data(TapeBoxModel::ColorSchemeRole).toInt(), 2);
    EXPECT_EQ(model.index(0).data(TapeBoxModel::DurationTextRole).toString(), "1s");
    EXPECT_TRUE(model.index(0).data(TapeBoxModel::DateTextRole).toString().startsWith("Today"));
    // A screen reader hears the whole row, the duration spelled out.
    EXPECT_EQ(model.index(0).data(Qt::AccessibleTextRole).toString(),
              "Newest, letter D, " + model.index(0).data(TapeBoxModel::QualityRole).toString() +
                  ", 1 second, " + model.index(0).data(TapeBoxModel::DateTextRole).toString());

    // A file appearing in the folder goes in at its place by date.
    makeTape(QDir(elsewhere.path()), "e.m4a", "Middle", now.addDays(-2), 4, "E");
    QFile::copy(QDir(elsewhere.path()).filePath("e.m4a"), dir.filePath("e.m4a"));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    controller.checkRecordingDirectory();
    expectInStep(model, controller);
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted.first().at(1).toInt(), 2);

    // A file deleted by another program leaves.
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QFile::remove(dir.filePath("b.m4a"));
    controller.checkRecordingDirectory();
    expectInStep(model, controller);
    EXPECT_EQ(removed.size(), 1);

    // A re-sort moves the tape, and an index held on it moves along.
    const QPersistentModelIndex oldest = model.index(model.rowCount() - 1);
    const auto oldestTape = model.tapeAt(oldest);
    QSignalSpy dataChanged(&model, &QAbstractItemModel::dataChanged);
    oldestTape->setDate(now.addSecs(60));
    expectInStep(model, controller);
    EXPECT_EQ(oldest.row(), 0);
    EXPECT_EQ(model.tapeAt(oldest), oldestTape);
    EXPECT_FALSE(dataChanged.isEmpty()) << "the changed date is repainted";

    // A title edit that keeps the order only repaints its row.
    QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);
    dataChanged.clear();
    model.tapeAt(1)->setTitle("Newest, take 2");
    EXPECT_TRUE(layouts.isEmpty());
    ASSERT_FALSE(dataChanged.isEmpty());
    EXPECT_EQ(dataChanged.last().at(0).toModelIndex().row(), 1);
    EXPECT_EQ(model.index(1).data().toString(), "Newest, take 2");

    // Searches narrow and widen the rows.
    controller.setFilterString("band");
    expectInStep(model, controller);
    EXPECT_EQ(titlesOf(model), QStringList({"Band practice"}));
    controller.setFilterString("color:green | color:orange");
    expectInStep(model, controller);
    EXPECT_EQ(titlesOf(model), QStringList({"Band practice", "Middle"}));
    // A recording that starts during a search is shown although it does not match.
    auto recording = std::make_shared<Tape>(dir.filePath("recording.m4a"));
    recording->setCommitsOnDestruction(false);
    recording->setDate(now);
    controller.addObject(recording);
    expectInStep(model, controller);
    EXPECT_EQ(model.rowCount(), 3);
    controller.setFilterString("");
    expectInStep(model, controller);
    EXPECT_EQ(model.rowCount(), 5);

    // A folder that empties out (or cannot be read any more) empties the box.
    controller.setContent({});
    expectInStep(model, controller);

    EXPECT_EQ(resets.size(), 0) << "rows move, they are never reset";
    EXPECT_TRUE(failures.failures().isEmpty()) << failures.failures().join("\n").toStdString();
}

TEST_F(TapeBox, SelectionFollowsBothWays) {
    TapeLibraryArrayController controller(library.path());
    TapeBoxView view(&controller);
    view.resize(TapeBoxView::BoxWidth, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_EQ(selectedRow(view), 0) << "the controller starts with the newest tape selected";

    QSignalSpy controllerChanges(&controller, &ArrayController::selectionChanged);
    const QModelIndex third = view.tapeModel()->index(2);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(third).center());
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{2});
    EXPECT_EQ(controllerChanges.size(), 1) << "one click, one selection change";
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{3});

    controller.setSelectionIndexes({1});
    EXPECT_EQ(selectedRow(view), 1);

    // The selected tape moves to the top: both follow it there.
    const auto selected = controller.selectedObjects().front();
    selected->setDate(now.addSecs(60));
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{0});
    EXPECT_EQ(selectedRow(view), 0);
    EXPECT_EQ(view.tapeModel()->tapeAt(view.currentIndex()), selected);

    // A tape appearing in the folder is selected as the first row.
    controller.setSelectionIndexes({3});
    makeTape(dir, "new.m4a", "Brand new", now.addSecs(120), 5, "N");
    controller.checkRecordingDirectory();
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{0});
    EXPECT_EQ(selectedRow(view), 0);
    EXPECT_EQ(view.tapeModel()->tapeAt(0)->title(), "Brand new");

    // The selected tape's file is deleted: nothing stays selected on either side.
    controller.setSelectionIndexes({2});
    const QString doomed = controller.selectedObjects().front()->filename();
    QFile::remove(doomed);
    controller.checkRecordingDirectory();
    EXPECT_TRUE(controller.selectionIndexes().isEmpty());
    EXPECT_EQ(selectedRow(view), -1);
    for (int row = 0; row < view.tapeModel()->rowCount(); ++row) {
        EXPECT_NE(view.tapeModel()->tapeAt(row)->filename(), doomed);
    }

    // A search selects the first tape left and shows it.
    view.search("interview");
    EXPECT_EQ(view.tapeModel()->rowCount(), 1);
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{0});
    EXPECT_EQ(selectedRow(view), 0);
    view.search("");
    view.selectRowAndScrollToVisible(3);
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{3});
    EXPECT_EQ(selectedRow(view), 3);
    view.selectRowAndScrollToVisible(99); // no such row: nothing changes
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{3});
}

TEST_F(TapeBox, RecordingKeepsTheUsersHandsOff) {
    TapeLibraryArrayController controller(library.path());
    QList<QUrl> imported;
    controller.setImporter([&](const QList<QUrl>& urls) { imported << urls; });
    TapeBoxView view(&controller);
    view.resize(TapeBoxView::BoxWidth, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));

    QMimeData audio;
    audio.setUrls({QUrl::fromLocalFile(sourceTape())});
    const auto drop = [&] {
        const QPoint at = view.visualRect(view.tapeModel()->index(1)).center();
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &audio, Qt::LeftButton, {});
        QApplication::sendEvent(view.viewport(), &enter);
        QDropEvent dropped(at, Qt::CopyAction | Qt::MoveAction, &audio, Qt::LeftButton, {});
        QApplication::sendEvent(view.viewport(), &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    };

    view.setRecording(true);
    EXPECT_TRUE(view.isRecording());
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      view.visualRect(view.tapeModel()->index(2)).center());
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{0}) << "clicks and keys change nothing";
    EXPECT_EQ(selectedRow(view), 0);
    view.selectRowAndScrollToVisible(3);
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{0});
    EXPECT_FALSE(drop()) << "no drops while recording";
    EXPECT_TRUE(imported.isEmpty());
    EXPECT_FALSE(view.tapeModel()->canDropMimeData(&audio, Qt::CopyAction, 0, 0, {}));

    // The deck still selects: a new recording appears selected.
    controller.setSelectionIndexes({2});
    EXPECT_EQ(selectedRow(view), 2);

    view.setRecording(false);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      view.visualRect(view.tapeModel()->index(3)).center());
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{3});
    EXPECT_TRUE(drop());
    EXPECT_EQ(imported, QList<QUrl>{QUrl::fromLocalFile(sourceTape())});
}

TEST_F(TapeBox, DragsAreFilesAndOnlyAudioDrops) {
    TapeLibraryArrayController controller(library.path());
    TapeBoxView view(&controller);
    TapeBoxModel& model = *view.tapeModel();
    view.resize(TapeBoxView::BoxWidth, 300);

    std::unique_ptr<QMimeData> dragged(model.mimeData({model.index(1)}));
    ASSERT_TRUE(dragged);
    EXPECT_EQ(dragged->urls(),
              QList<QUrl>{QUrl::fromLocalFile(controller.arrangedObjects()[1]->filename())});
    EXPECT_TRUE(model.flags(model.index(1)) & Qt::ItemIsDragEnabled);

    QMimeData audio;
    audio.setUrls({QUrl::fromLocalFile(sourceTape())});
    EXPECT_FALSE(model.canDropMimeData(&audio, Qt::CopyAction, 0, 0, {}))
        << "with nobody to import them, dropped files are refused rather than lost";

    QList<QUrl> imported;
    controller.setImporter([&](const QList<QUrl>& urls) { imported << urls; });
    const QString text = QDir(elsewhere.path()).filePath("notes.m4a");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("just words, named like a tape\n");
    file.close();
    QMimeData words;
    words.setUrls({QUrl::fromLocalFile(text)});
    const QPoint at = view.visualRect(model.index(0)).center();
    QDragEnterEvent enter(at, Qt::CopyAction, &words, Qt::LeftButton, {});
    QApplication::sendEvent(view.viewport(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    QDropEvent dropped(at, Qt::CopyAction, &words, Qt::LeftButton, {});
    QApplication::sendEvent(view.viewport(), &dropped);
    EXPECT_FALSE(model.dropMimeData(&words, Qt::CopyAction, 0, 0, {}));
    EXPECT_TRUE(imported.isEmpty());

    EXPECT_TRUE(model.dropMimeData(&audio, Qt::CopyAction, 1, 0, {}));
    EXPECT_EQ(imported, QList<QUrl>{QUrl::fromLocalFile(sourceTape())});
    EXPECT_EQ(model.rowCount(), 4) << "the folder watch adds the copy, not the drop";
}

TEST_F(TapeBox, ContextMenuCarriesTheTape) {
    TapeLibraryArrayController controller(library.path());
    TapeBoxView view(&controller);
    view.resize(TapeBoxView::BoxWidth, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QSignalSpy menus(&view, &TapeBoxView::tapeContextMenuRequested);

    const QPoint onThird = view.visualRect(view.tapeModel()->index(2)).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, onThird, QPoint(500, 400));
    QApplication::sendEvent(view.viewport(), &click);
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus.first().at(0).value<std::shared_ptr<Tape>>(), controller.arrangedObjects()[2]);
    EXPECT_EQ(menus.first().at(1).toPoint(), QPoint(500, 400));
    EXPECT_EQ(controller.selectionIndexes(), QList<int>{0}) << "a right click does not select";

    // The menu key: the current tape.
    controller.setSelectionIndexes({1});
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5), QPoint(5, 5));
    QApplication::sendEvent(&view, &key);
    ASSERT_EQ(menus.size(), 2);
    EXPECT_EQ(menus.last().at(0).value<std::shared_ptr<Tape>>(), controller.arrangedObjects()[1]);

    // Below the last spine there is no tape.
    QContextMenuEvent empty(QContextMenuEvent::Mouse, QPoint(20, 290), QPoint(0, 0));
    QApplication::sendEvent(view.viewport(), &empty);
    EXPECT_EQ(menus.size(), 2);
}

TEST_F(TapeBox, DamagedFilesAndUnreadableFoldersAreShownNotLost) {
    // A tape cut off in its header and a file of noise, named as tapes.
    QFile source(sourceTape());
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray whole = source.readAll();
    QFile cut(dir.filePath("cut off.m4a"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(whole.left(40));
    cut.close();
    QFile noise(dir.filePath("noise.m4a"));
    ASSERT_TRUE(noise.open(QIODevice::WriteOnly));
    noise.write(QByteArray(5000, '\x7f'));
    noise.close();
    {
        TapeLibraryArrayController controller(library.path());
        TapeBoxView view(&controller);
        view.resize(TapeBoxView::BoxWidth, 300);
        ASSERT_EQ(view.tapeModel()->rowCount(), 6);
        const QStringList titles = titlesOf(*view.tapeModel());
        EXPECT_TRUE(titles.contains("cut off")) << "shown by its file name";
        EXPECT_TRUE(titles.contains("noise"));
        for (int row = 0; row < view.tapeModel()->rowCount(); ++row) {
            const auto tape = view.tapeModel()->tapeAt(row);
            if (tape->filename().endsWith("noise.m4a")) {
                EXPECT_EQ(view.tapeModel()->index(row).data(TapeBoxModel::DurationTextRole),
                          QString("\u2013"))
                    << "no made-up duration";
            }
        }
        EXPECT_FALSE(view.grab().isNull());
        EXPECT_TRUE(view.placeholderText().isEmpty());
    }
    cut.open(QIODevice::ReadOnly);
    EXPECT_EQ(cut.readAll(), whole.left(40)) << "looking at a damaged file leaves it alone";
    noise.open(QIODevice::ReadOnly);
    EXPECT_EQ(noise.readAll(), QByteArray(5000, '\x7f'));

    TapeLibraryArrayController missing(dir.filePath("gone"));
    TapeBoxView view(&missing);
    EXPECT_TRUE(view.placeholderText().contains("cannot be read"));
    EXPECT_TRUE(view.placeholderText().contains(dir.filePath("gone")));
    TapeLibraryArrayController empty(elsewhere.path());
    TapeBoxView emptyView(&empty);
    EXPECT_TRUE(emptyView.placeholderText().contains("No tapes yet"));
}

TEST_F(TapeBox, SpinesShowTheirColoursAndTheSelectionGlows) {
    for (unsigned color = 4; color < 8; ++color) {
        makeTape(dir, QString("x%1.m4a").arg(color), QString("Tape in colour %1").arg(color),
                 now.addDays(-40 - static_cast<int>(color)), color,
                 QString(QChar('E' + color - 4)));
    }
    TapeLibraryArrayController controller(library.path());
    controller.setSelectionIndexes({1});
    TapeBoxView view(&controller);
    view.resize(TapeBoxView::BoxWidth, TapeBoxView::RowHeight * 8 + 4);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const auto render = [&] {
        QImage image(view.size() * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2.0);
        image.fill(Qt::black);
        view.render(&image);
        return image;
    };
    // CASSORA_SNAPSHOT_DIR keeps the pictures for a look.
    const auto keep = [](const QImage& picture, const QString& name) {
        if (const QByteArray folder = qgetenv("CASSORA_SNAPSHOT_DIR"); !folder.isEmpty()) {
            picture.save(QDir(QString::fromLocal8Bit(folder)).filePath(name));
        }
    };
    const QImage image = render();
    keep(image, "tapebox.png");
    const auto countNear = [](const QImage& picture, const QRect& rect, const QColor& wanted) {
        int count = 0;
        for (int y = rect.top() * 2; y < rect.bottom() * 2; ++y) {
            for (int x = rect.left() * 2; x < rect.right() * 2; ++x) {
                const QColor c = picture.pixelColor(x, y);
                count += std::abs(c.red() - wanted.red()) + std::abs(c.green() - wanted.green()) +
                             std::abs(c.blue() - wanted.blue()) <
                         40;
            }
        }
        return count;
    };
    for (int row = 0; row < 8; ++row) {
        const QRect rect = view.visualRect(view.tapeModel()->index(row));
        const auto tape = view.tapeModel()->tapeAt(row);
        const QColor background = tape->tapeLetter()->colorScheme()->backgroundColor();
        // The letter block: the left tenth of the spine.
        EXPECT_GT(countNear(image, QRect(rect.left() + 8, rect.top() + 6, 20, 18), background), 200)
            << "row " << row << " shows its scheme's colour";
        const int glow = countNear(image, rect, TapeSpineDelegate::GlowColor);
        if (row == 1) {
            EXPECT_GT(glow, 300) << "the selected spine glows";
        } else {
            EXPECT_LT(glow, 20) << "row " << row << " does not";
        }
    }
    view.setRecording(true);
    const QImage greyed = render();
    keep(greyed, "tapebox-recording.png");
    const QRect first = view.visualRect(view.tapeModel()->index(0));
    EXPECT_LT(countNear(greyed, first.adjusted(8, 6, 0, 0), QColor(0xf4, 0xf0, 0xe4)),
              countNear(image, first.adjusted(8, 6, 0, 0), QColor(0xf4, 0xf0, 0xe4)) / 4)
        << "recording greys the spines";
}

TEST(TapeSearchField, TypingSearchesAndEscapeClears) {
    TapeSearchField field;
    EXPECT_EQ(field.placeholderText(), "Search");
    EXPECT_TRUE(field.isClearButtonEnabled());
    QSignalSpy searches(&field, &TapeSearchField::search);
    QTest::keyClicks(&field, "ann");
    ASSERT_EQ(searches.size(), 3);
    EXPECT_EQ(searches.last().at(0).toString(), "ann");
    QTest::keyClick(&field, Qt::Key_Escape);
    EXPECT_TRUE(field.text().isEmpty());
    EXPECT_EQ(searches.last().at(0).toString(), "");

    // The clear button has a name a screen reader can say.
    field.setText("x");
    QStringList names;
    for (QToolButton* button : field.findChildren<QToolButton*>()) {
        names << QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name);
    }
    EXPECT_TRUE(names.contains("Clear search")) << names.join('|').toStdString();
}

} // namespace
