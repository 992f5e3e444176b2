#include "app/deck/TapeView.h"

#include "app/deck/CassettePainter.h"
#include "app/deck/DeckAccessibility.h"
#include "app/deck/DeckClock.h"
#include "app/deck/NotesEditorView.h"
#include "app/deck/SpoolFrames.h"
#include "app/deck/TapeViewBinding.h"
#include "app/library/Tape.h"

#include <QAccessible>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTapeHeight = 204;

// The tape view at its natural size, on a clock the test sets.
class TapeViewTest : public ::testing::Test {
protected:
    TapeView view;
    double now = 500.0;

    void SetUp() override {
        DeckClock::setSource([this] { return now; });
        view.resize(view.sizeHint());
    }
    void TearDown() override { DeckClock::setSource({}); }

    void at(double time) {
        now = time;
        view.advanceAnimations();
    }
    void click(const QRectF& area, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(&view, Qt::LeftButton, modifiers, area.center().toPoint());
    }
};

// A bound tape on a real, freshly made tape file, clean to begin with.
class BoundTapeViewTest : public TapeViewTest {
protected:
    QTemporaryDir folder;
    std::shared_ptr<Tape> tape;
    std::unique_ptr<TapeViewBinding> binding;

    void SetUp() override {
        TapeViewTest::SetUp();
        tape = makeTape(QStringLiteral("first.m4a"), QStringLiteral("First take"));
        binding = std::make_unique<TapeViewBinding>(&view);
        binding->setTape(tape);
    }
    std::shared_ptr<Tape> makeTape(const QString& name, const QString& title) {
        const QString path = folder.filePath(name);
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {"-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=0.2", "-c:a",
                      "aac", "-b:a", "128k", "-metadata", "title=" + title, path});
        EXPECT_TRUE(ffmpeg.waitForFinished(30000));
        EXPECT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
        auto made = std::make_shared<Tape>(path);
        made->setCommitsOnDestruction(false);
        made->commitAttributes(); // stores the new tape's letter
        EXPECT_FALSE(made->dirty());
        EXPECT_EQ(made->title(), title);
        return made;
    }
};

} // namespace

TEST_F(TapeViewTest, SpoolsTurnTwoDegreesATickTimesTheSpeed) {
    EXPECT_DOUBLE_EQ(view.rotationSpeed(), 1.0);
    for (int tick = 0; tick < 30; ++tick) {
        view.rotationTimerFired();
    }
    EXPECT_NEAR(view.spoolAngle(), kPi / 3, 1e-9) << "60 degrees in a second at speed 1";
    EXPECT_NEAR(view.rightSpoolAngle(), kPi / 3 * 31 / 18, 1e-9);

    view.setRotationSpeed(2.0);
    for (int tick = 0; tick < 30; ++tick) {
        view.rotationTimerFired();
    }
    EXPECT_NEAR(view.spoolAngle(), kPi / 3 + 2 * kPi / 3, 1e-9) << "120 more at speed 2";

    view.startRotationAnimation(true);
    EXPECT_TRUE(view.isRotating());
    view.startRotationAnimation(false);
    EXPECT_FALSE(view.isRotating());
}

// Paints of the view, collected from when it is installed.
struct PaintWatcher : QObject {
    QRegion painted;
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
};

TEST_F(TapeViewTest, ASpinTickRepaintsOnlyTheSpools) {
    PaintWatcher watcher;
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QCoreApplication::processEvents();
    view.installEventFilter(&watcher);
    view.rotationTimerFired();
    QTRY_VERIFY(!watcher.painted.isEmpty());
    const QRect allowed = view.spoolsRect().toAlignedRect().adjusted(-2, -2, 2, 2);
    EXPECT_TRUE(allowed.contains(watcher.painted.boundingRect()))
        << "painted " << watcher.painted.boundingRect().width() << "x"
        << watcher.painted.boundingRect().height();
    EXPECT_LT(allowed.width() * allowed.height(), view.width() * view.height() / 3);
}

TEST_F(TapeViewTest, AHubRepaintsOnlyWhenItShowsAnotherStep) {
    PaintWatcher watcher;
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QCoreApplication::processEvents();
    view.installEventFilter(&watcher);

    // Slow cueing: 0.4 degrees a tick leaves both hubs on their step.
    view.setRotationSpeed(0.2);
    view.rotationTimerFired();
    QCoreApplication::processEvents();
    EXPECT_EQ(watcher.paints, 0);

    // The right hub turns 31/18 as fast and reaches its next step first.
    view.rotationTimerFired();
    QTRY_VERIFY(watcher.paints > 0);
    const QRect right =
        view.spoolsRect().toAlignedRect().adjusted(view.spoolsRect().width() / 2, -2, 2, 2);
    EXPECT_TRUE(right.contains(watcher.painted.boundingRect()))
        << "painted from x " << watcher.painted.boundingRect().left();

    // Turning back shows the steps before 0.
    view.setRotationSpeed(-1.0);
    for (int tick = 0; tick < 5; ++tick) {
        view.rotationTimerFired();
    }
    EXPECT_EQ(SpoolFrames::stepForAngle(view.spoolAngle()), SpoolFrames::StepsPerTurn - 5)
        << "0.8 - 10 degrees";
}

// A copied frame must land where the hub drawn in place would be, for any
// placement within a pixel and any pixel ratio.
TEST(SpoolFramesTest, FramesMatchTheHubDrawnInPlace) {
    SpoolFrames frames;
    for (const qreal ratio : {1.0, 1.5, 2.0}) {
        for (const QPointF centre : {QPointF(93, 89), QPointF(230.5, 89.25), QPointF(40.3, 41.7)}) {
            // 67 is 7 a third of a turn on: it shows 7's frame.
            for (const int step : {0, 7, 67, 100, 179}) {
                auto blank = [ratio] {
                    QImage image(QSize(300, 150) * ratio, QImage::Format_ARGB32_Premultiplied);
                    image.setDevicePixelRatio(ratio);
                    image.fill(Qt::transparent);
                    return image;
                };
                QImage inPlace = blank();
                QImage copied = blank();
                {
                    QPainter painter(&inPlace);
                    CassettePainter::paintHub(painter, centre, SpoolFrames::angleForStep(step));
                    QPainter copy(&copied);
                    frames.paint(copy, centre, step, ratio);
                }
                int worst = 0;
                for (int y = 0; y < inPlace.height(); ++y) {
                    for (int x = 0; x < inPlace.width(); ++x) {
                        const QRgb a = inPlace.pixel(x, y);
                        const QRgb b = copied.pixel(x, y);
                        worst = std::max(
                            {worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                             std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
                    }
                }
                EXPECT_LE(worst, 2) << "ratio " << ratio << " centre " << centre.x() << ","
                                    << centre.y() << " step " << step;
            }
        }
    }
    // Each look is drawn once per placement; the two latest placements stay.
    EXPECT_EQ(frames.frameCount(), 2 * 4);
    QImage target(100, 100, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&target);
    frames.paint(painter, QPointF(50, 50), 3, 1.0);
    frames.paint(painter, QPointF(51, 49), 3, 1.0);
    EXPECT_EQ(frames.frameCount(), 1) << "a new ratio drops the old frames; alike centres share";
}

TEST(SpoolFramesTest, StepsWrapBothWaysAndSurviveNonsense) {
    EXPECT_EQ(SpoolFrames::stepForAngle(0), 0);
    EXPECT_EQ(SpoolFrames::stepForAngle(kPi / 90 * 0.49), 0);
    EXPECT_EQ(SpoolFrames::stepForAngle(kPi / 90 * 0.51), 1);
    EXPECT_EQ(SpoolFrames::stepForAngle(2 * kPi), 0);
    EXPECT_EQ(SpoolFrames::stepForAngle(36 * kPi + kPi / 90), 1);
    EXPECT_EQ(SpoolFrames::stepForAngle(-kPi / 90), SpoolFrames::StepsPerTurn - 1);
    EXPECT_EQ(SpoolFrames::stepForAngle(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(SpoolFrames::stepForAngle(std::numeric_limits<double>::infinity()), 0);
    EXPECT_NEAR(SpoolFrames::angleForStep(SpoolFrames::stepForAngle(1.0)), 1.0, kPi / 180);
}

TEST_F(TapeViewTest, EjectDuringInsertTurnsBackFromWhereTheTapeIs) {
    EXPECT_EQ(view.slideState(), TapeView::SlideState::Inserted);
    const double ejectStart = now;
    view.ejectTape();
    at(ejectStart + 0.15);
    EXPECT_EQ(view.slideState(), TapeView::SlideState::Ejecting);
    EXPECT_NEAR(view.tapeOffset(), kTapeHeight / 2, 1e-6) << "half way at half time";
    at(ejectStart + 0.31);
    EXPECT_EQ(view.slideState(), TapeView::SlideState::Ejected);
    EXPECT_DOUBLE_EQ(view.tapeOffset(), kTapeHeight);

    const double insertStart = now + 1.0;
    at(insertStart);
    view.insertTape();
    at(insertStart + 0.1);
    const double turnedAt = view.tapeOffset();
    EXPECT_GT(turnedAt, 0);
    EXPECT_LT(turnedAt, kTapeHeight);
    view.ejectTape();
    EXPECT_NEAR(view.tapeOffset(), turnedAt, 1e-9) << "the eject starts where the tape is";
    at(insertStart + 0.25);
    EXPECT_NEAR(view.tapeOffset(), turnedAt + (kTapeHeight - turnedAt) / 2, 1e-6);
    at(insertStart + 0.41);
    EXPECT_EQ(view.slideState(), TapeView::SlideState::Ejected);
}

TEST_F(TapeViewTest, InsertDuringEjectWaitsAndTakesTheValuesOfThatMoment) {
    view.setTitle(QStringLiteral("Outgoing"));
    const double start = now;
    view.ejectTape();
    at(start + 0.1);
    view.setTitle(QStringLiteral("Incoming"));
    view.insertTape();
    EXPECT_EQ(view.slideState(), TapeView::SlideState::Ejecting) << "the eject runs on";
    EXPECT_TRUE(view.isInsertPending());
    EXPECT_EQ(view.tapeLabelView().title(), QStringLiteral("Outgoing"));

    at(start + 0.2);
    view.setTitle(QStringLiteral("Incoming, renamed"));
    view.setTapeLetter(std::make_shared<TapeLetter>(QStringLiteral("B"),
                                                    TapeColorScheme::colorSchemeWithIndex(3)));
    EXPECT_EQ(view.tapeLabelView().title(), QStringLiteral("Outgoing"));

    // The eject ended at 0.3; the insert started then, with the values then.
    at(start + 0.45);
    EXPECT_EQ(view.slideState(), TapeView::SlideState::Inserting);
    EXPECT_NEAR(view.tapeOffset(), kTapeHeight / 2, 1e-6);
    EXPECT_EQ(view.tapeLabelView().title(), QStringLiteral("Incoming, renamed"));
    EXPECT_EQ(view.tapeLabelView().tapeLetter()->letter(), QStringLiteral("B"));
    at(start + 0.6);
    EXPECT_EQ(view.slideState(), TapeView::SlideState::Inserted);
    EXPECT_DOUBLE_EQ(view.tapeOffset(), 0);

    // An eject asked for after an insert that waits wins.
    view.ejectTape();
    at(now + 0.1);
    view.insertTape();
    view.ejectTape();
    at(now + 1.0);
    EXPECT_EQ(view.slideState(), TapeView::SlideState::Ejected);
}

TEST_F(BoundTapeViewTest, ClickingTheLetterTagWritesTheNextSchemeIntoTheTape) {
    EXPECT_FALSE(tape->dirty());
    QSignalSpy edited(&view, &TapeView::tapeLetterEdited);
    click(view.letterTagRect());
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(tape->tapeLetter()->colorScheme()->colorName(), QStringLiteral("blue"));
    EXPECT_EQ(tape->tapeLetter()->letter(), QStringLiteral("A"));
    EXPECT_TRUE(tape->tapeLetterDirty());
    EXPECT_EQ(view.tapeLabelView().tapeLetter()->colorScheme()->index(), 1u);
    for (int i = 0; i < 7; ++i) {
        click(view.letterTagRect());
    }
    EXPECT_EQ(tape->tapeLetter()->colorScheme()->colorName(), QStringLiteral("red"));

    // The double-click event of a double click is not another click.
    QTest::mouseDClick(&view, Qt::LeftButton, {}, view.letterTagRect().center().toPoint());
    EXPECT_EQ(tape->tapeLetter()->colorScheme()->colorName(), QStringLiteral("red"));
}

TEST_F(BoundTapeViewTest, TitleEditsInPlaceGoIntoTheTape) {
    click(view.titleRect());
    ASSERT_TRUE(view.isEditingTitle());
    QLineEdit* editor = view.titleEditor();
    EXPECT_EQ(editor->text(), QStringLiteral("First take"));
    EXPECT_TRUE(view.titleRect().toAlignedRect().intersects(editor->geometry()));

    // Escape leaves everything as it was.
    editor->setText(QStringLiteral("Throwaway"));
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(view.isEditingTitle());
    EXPECT_FALSE(tape->dirty());

    // An edit that changes nothing marks nothing, and does not put back a
    // title that changed elsewhere meanwhile.
    click(view.titleRect());
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_FALSE(tape->dirty());
    click(view.titleRect());
    tape->setTitle(QStringLiteral("Renamed from the tape box"));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(tape->title(), QStringLiteral("Renamed from the tape box"));
    EXPECT_EQ(view.tapeLabelView().title(), QStringLiteral("Renamed from the tape box"));
    tape->commitAttributes();
    ASSERT_FALSE(tape->dirty());

    click(view.titleRect());
    editor->setText(QStringLiteral("Interview"));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_FALSE(view.isEditingTitle());
    EXPECT_EQ(tape->title(), QStringLiteral("Interview"));
    EXPECT_TRUE(tape->titleDirty());
    EXPECT_TRUE(tape->dirty());
    EXPECT_EQ(view.tapeLabelView().title(), QStringLiteral("Interview"));
}

TEST_F(BoundTapeViewTest, NotesEditorShowsNotesOnOneLineOrThePlaceholder) {
    EXPECT_TRUE(view.notesLabelView().showsPlaceholder());
    EXPECT_EQ(view.notesLabelView().displayText(), QStringLiteral("Click to edit"));

    click(view.notesRect());
    ASSERT_TRUE(view.isEditingNotes());
    view.notesEditor()->textEdit()->setPlainText(QStringLiteral("Take two.\nMic close\nLoud"));
    QTest::mouseClick(view.notesEditor()->doneButton(), Qt::LeftButton);
    EXPECT_FALSE(view.isEditingNotes());
    EXPECT_EQ(tape->notes(), QStringLiteral("Take two.\nMic close\nLoud")) << "kept as written";
    EXPECT_TRUE(tape->notesDirty());
    EXPECT_EQ(view.notesLabelView().displayText(), QStringLiteral("Take two. Mic close Loud"));
    tape->setNotes(QStringLiteral("Written\r\nelsewhere\r"));
    EXPECT_EQ(view.notesLabelView().displayText(), QStringLiteral("Written elsewhere "));

    // Line breaks alone collapse to spaces, which are notes, not nothing.
    tape->setNotes(QStringLiteral("\n"));
    EXPECT_EQ(view.notesLabelView().displayText(), QStringLiteral(" "));
    tape->setNotes(QString());
    EXPECT_EQ(view.notesLabelView().displayText(), QStringLiteral("Click to edit"));
}

TEST_F(BoundTapeViewTest, EjectingClosesBothEditorsAndKeepsWhatWasTyped) {
    click(view.notesRect());
    view.notesEditor()->textEdit()->setPlainText(QStringLiteral("half written"));
    click(view.titleRect());
    view.titleEditor()->setText(QStringLiteral("New name"));
    ASSERT_TRUE(view.isEditingNotes());
    ASSERT_TRUE(view.isEditingTitle());

    view.ejectTape();
    EXPECT_FALSE(view.isEditingTitle());
    EXPECT_FALSE(view.isEditingNotes());
    EXPECT_FALSE(view.titleEditor()->isVisible());
    EXPECT_FALSE(view.notesEditor()->isVisible());
    EXPECT_EQ(tape->title(), QStringLiteral("New name"));
    EXPECT_EQ(tape->notes(), QStringLiteral("half written"));

    // No clicks reach a tape that is not in the deck.
    at(now + 1);
    click(view.titleRect().translated(0, kTapeHeight));
    EXPECT_FALSE(view.isEditingTitle());
}

TEST_F(BoundTapeViewTest, AnEditOpenWhenTheTapeChangesStaysWithItsTape) {
    click(view.titleRect());
    view.titleEditor()->setText(QStringLiteral("Meant for the first"));
    auto second = makeTape(QStringLiteral("second.m4a"), QStringLiteral("Second take"));
    binding->setTape(second);

    EXPECT_FALSE(view.isEditingTitle());
    EXPECT_EQ(tape->title(), QStringLiteral("Meant for the first"));
    EXPECT_EQ(second->title(), QStringLiteral("Second take"));
    EXPECT_FALSE(second->dirty());
    EXPECT_EQ(view.title(), QStringLiteral("Second take"));

    // The view follows the bound tape, and only that one.
    second->setTitle(QStringLiteral("Renamed elsewhere"));
    tape->setTitle(QStringLiteral("Not shown"));
    EXPECT_EQ(view.tapeLabelView().title(), QStringLiteral("Renamed elsewhere"));

    binding->setTape(nullptr);
    EXPECT_TRUE(view.title().isEmpty());
    EXPECT_TRUE(view.filename().isEmpty());
    EXPECT_EQ(view.tapeLabelView().tapeLetter()->letter(), QStringLiteral("A"));
    click(view.letterTagRect()); // nothing bound: nothing to write, nothing breaks
    EXPECT_EQ(second->tapeLetter()->colorScheme()->index(), 0u);
}

TEST_F(TapeViewTest, ShareButtonCursorsAndTimeLine) {
    QSignalSpy shared(&view, &TapeView::shareButtonPressed);
    click(view.shareButtonRect());
    QTRY_COMPARE(shared.count(), 1);
    EXPECT_FALSE(view.tapeLabelView().isShareButtonOn()) << "off again once released";

    // Held as long as a person holds a click, the share menu opens and takes
    // the mouse before the release: the button comes up with the menu.
    QMenu menu;
    menu.addAction(QStringLiteral("Email"));
    QObject::connect(&view, &TapeView::shareButtonPressed, &menu, [&] {
        menu.popup(view.mapToGlobal(view.shareButtonRect().bottomLeft().toPoint()));
    });
    const QPoint button = view.shareButtonRect().center().toPoint();
    QMouseEvent press(QEvent::MouseButtonPress, button, view.mapToGlobal(button), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &press);
    QTRY_VERIFY(menu.isVisible());
    EXPECT_TRUE(view.tapeLabelView().isShareButtonOn()) << "pressed while its menu is open";
    menu.hide();
    EXPECT_FALSE(view.tapeLabelView().isShareButtonOn()) << "up again with the menu";

    for (const QRectF& area :
         {view.titleRect(), view.letterTagRect(), view.notesRect(), view.shareButtonRect()}) {
        EXPECT_EQ(view.cursorShapeAt(area.center()), Qt::PointingHandCursor);
    }
    EXPECT_EQ(view.cursorShapeAt(view.spoolsRect().center()), Qt::ArrowCursor);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QTest::mouseMove(&view, view.titleRect().center().toPoint());
    EXPECT_EQ(view.cursor().shape(), Qt::PointingHandCursor);

    view.setDate(QDateTime(QDate(2012, 3, 4), QTime(10, 20)));
    view.setDuration(65.9);
    EXPECT_TRUE(view.tapeLabelView().timeLine().startsWith(QStringLiteral("Recorded ")));
    EXPECT_TRUE(view.tapeLabelView().timeLine().endsWith(QStringLiteral(" | 1m5s")));
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), -3.0,
                       std::numeric_limits<double>::infinity()}) {
        view.setDuration(bad);
        EXPECT_EQ(view.duration(), 0);
        EXPECT_TRUE(view.tapeLabelView().timeLine().endsWith(QStringLiteral(" | 0s")));
    }
}

TEST_F(TapeViewTest, SizesSlogansAndThumbnail) {
    EXPECT_EQ(view.sizeHint(), QSize(343, 224));
    EXPECT_EQ(TapeView::slogans().size(), 16);
    EXPECT_TRUE(TapeView::slogans().contains(TapeView::slogan()));
    EXPECT_EQ(TapeView::slogan(), TapeView::slogan());
    for (const QString& slogan : TapeView::slogans()) {
        EXPECT_EQ(slogan, slogan.toUpper());
    }

    view.setTitle(QStringLiteral("Thumbnail"));
    const QImage image = view.thumbnail(2.0);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(646, 408));
    EXPECT_DOUBLE_EQ(image.devicePixelRatio(), 2.0);
    for (const QPoint corner : {QPoint(0, 0), QPoint(645, 0), QPoint(0, 407), QPoint(645, 407)}) {
        EXPECT_EQ(qAlpha(image.pixel(corner)), 0) << corner.x() << "," << corner.y();
    }
    EXPECT_EQ(qAlpha(image.pixel(323, 204)), 255);
    EXPECT_EQ(view.thumbnail(1.0).size(), QSize(323, 204));

    // For looking at: CASSORA_SNAPSHOTS=folder writes the view and its thumbnail.
    const QString snapshots = qEnvironmentVariable("CASSORA_SNAPSHOTS");
    if (!snapshots.isEmpty()) {
        view.setDate(QDateTime::currentDateTime());
        view.setDuration(3725);
        view.setQuality(QStringLiteral("HQ"));
        view.setNotes(QStringLiteral("Kitchen table, two mics.\nSecond verse is the keeper."));
        view.thumbnail(2.0).save(snapshots + QStringLiteral("/thumbnail.png"));
        view.grab().save(snapshots + QStringLiteral("/view.png"));
        click(view.notesRect());
        click(view.titleRect());
        view.grab().save(snapshots + QStringLiteral("/editing.png"));
        view.ejectTape();
        at(now + 1);
        view.grab().save(snapshots + QStringLiteral("/ejected.png"));
    }
}

TEST_F(TapeViewTest, ADraggedFileGoesToTheTrashOnlyWhenAMoveLeftItBehind) {
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("data")));
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", folder.filePath(QStringLiteral("data")).toLocal8Bit());
    const QString path = folder.filePath(QStringLiteral("dragged.m4a"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("audio");
    file.close();

    view.finishFileDrag(Qt::CopyAction, path);
    view.finishFileDrag(Qt::IgnoreAction, path);
    EXPECT_TRUE(QFile::exists(path)) << "copies and cancelled drags keep the file";

    view.finishFileDrag(Qt::MoveAction, path);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("data/Trash/files/dragged.m4a"))));

    // A target that moved the file itself: nothing more to do.
    view.finishFileDrag(Qt::MoveAction, path);
    EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("data/Trash/files/dragged.m4a"))));
    if (dataHome.isNull()) {
        qunsetenv("XDG_DATA_HOME");
    } else {
        qputenv("XDG_DATA_HOME", dataHome);
    }
}

// What a screen reader finds on the cassette: the title and the notes as
// text that a press opens for editing, and the letter tag as a button that
// says its colour and gives the next one.
TEST_F(BoundTapeViewTest, ScreenReadersReadAndEditTheLabel) {
    DeckAccessibility::install();
    view.setNotes(QStringLiteral("Recorded in the kitchen"));
    QAccessibleInterface* cassette = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(cassette, nullptr);
    EXPECT_EQ(cassette->text(QAccessible::Name), QStringLiteral("Cassette"));
    ASSERT_EQ(cassette->childCount(), 3);
    QAccessibleInterface* title = cassette->child(0);
    QAccessibleInterface* notes = cassette->child(1);
    QAccessibleInterface* tag = cassette->child(2);
    EXPECT_EQ(title->role(), QAccessible::EditableText);
    EXPECT_TRUE(title->state().editable);
    EXPECT_EQ(title->text(QAccessible::Name), QStringLiteral("Title"));
    EXPECT_EQ(title->textInterface()->text(0, -1), QStringLiteral("First take"));
    EXPECT_EQ(notes->text(QAccessible::Value), QStringLiteral("Recorded in the kitchen"));
    EXPECT_EQ(tag->role(), QAccessible::PushButton);
    EXPECT_EQ(tag->text(QAccessible::Name), QStringLiteral("Letter A, red"));

    // The tag's press gives the next colour, written into the tape.
    tag->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCoreApplication::processEvents();
    EXPECT_EQ(tape->tapeLetter()->colorScheme()->colorName(), QStringLiteral("blue"));
    EXPECT_EQ(tag->text(QAccessible::Name), QStringLiteral("Letter A, blue"));

    // The title's press opens the title editor, which appears as a named
    // child while it is open; what is typed goes into the tape.
    title->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCoreApplication::processEvents();
    ASSERT_TRUE(view.isEditingTitle());
    ASSERT_EQ(cassette->childCount(), 4);
    QAccessibleInterface* editor = cassette->child(3);
    EXPECT_EQ(editor->object(), view.titleEditor());
    EXPECT_EQ(editor->text(QAccessible::Name), QStringLiteral("Title"));
    view.titleEditor()->setText(QStringLiteral("Second take"));
    view.endEditing();
    EXPECT_EQ(tape->title(), QStringLiteral("Second take"));
    EXPECT_EQ(cassette->childCount(), 3);
    EXPECT_EQ(title->textInterface()->text(0, -1), QStringLiteral("Second take"));
}
