#include "app/deck/HUDView.h"

#include "app/deck/DeckAccessibility.h"
#include "app/deck/DeckClock.h"
#include "app/deck/HUDHighlightView.h"
#include "app/deck/LevelView.h"
#include "app/deck/PositionView.h"
#include "app/deck/QualityView.h"
#include "app/deck/StereoView.h"
#include "app/deck/TimeView.h"
#include "app/deck/VolumeView.h"
#include "audio/format/InternalInconsistencyException.h"
#include "platform/desktop/UserDefaults.h"

#include <QAccessible>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString kRecordingQuality = QStringLiteral("RecordingQuality");
const QString kRecordingIsStereo = QStringLiteral("RecordingIsStereo");

QPoint centreOf(const QRectF& rect) {
    return rect.center().toPoint();
}

// Each test starts from defaults that hold neither key and a HUD built on
// them, with the deck clock under the test's control.
class HUD : public ::testing::Test {
protected:
    double now = 500.0;

    void SetUp() override {
        UserDefaults::standard().removeValue(kRecordingQuality);
        UserDefaults::standard().removeValue(kRecordingIsStereo);
        DeckClock::setSource([this] { return now; });
        hud = std::make_unique<HUDView>();
    }

    void TearDown() override {
        hud.reset();
        DeckClock::setSource({});
        UserDefaults::standard().removeValue(kRecordingQuality);
        UserDefaults::standard().removeValue(kRecordingIsStereo);
    }

    void clickQuality(int index) {
        QualityView* view = hud->qualityView();
        QTest::mouseClick(view, Qt::LeftButton, {}, centreOf(view->itemRect(index)));
    }

    void clickStereo(int index) {
        StereoView* view = hud->stereoView();
        QTest::mouseClick(view, Qt::LeftButton, {}, centreOf(view->itemRect(index)));
    }

    // The first segment of the position bar at full brightness.
    int brightestSegment() const {
        for (int j = 0; j < PositionView::SegmentCount; ++j) {
            if (hud->positionView()->segmentColor(j).alphaF() == 1.0f) {
                return j;
            }
        }
        return -1;
    }

    std::unique_ptr<HUDView> hud;
};

TEST_F(HUD, LevelMetersRoundToTheEvenSegmentAndClamp) {
    EXPECT_EQ(LevelView::litSegmentsForLevel(-35.0), 2) << "2.5 goes to the even neighbour";
    EXPECT_EQ(LevelView::litSegmentsForLevel(-25.0), 4) << "3.5 goes to the even neighbour";
    EXPECT_EQ(LevelView::litSegmentsForLevel(-5.0), 6);
    EXPECT_EQ(LevelView::litSegmentsForLevel(3.0), 6);
    EXPECT_EQ(LevelView::litSegmentsForLevel(0.0), 6);
    EXPECT_EQ(LevelView::litSegmentsForLevel(-60.0), 0);
    EXPECT_EQ(LevelView::litSegmentsForLevel(-100.0), 0);
    EXPECT_EQ(LevelView::litSegmentsForLevel(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(LevelView::litSegmentsForLevel(std::numeric_limits<double>::quiet_NaN()), 0);

    hud->setLevels(-35.0, -25.0);
    EXPECT_EQ(hud->levelView()->leftLitSegments(), 2);
    EXPECT_EQ(hud->levelView()->rightLitSegments(), 4);
    EXPECT_EQ(hud->levels()[1], -25.0);
    EXPECT_EQ(hud->levelView()->segmentColor(LevelView::Left, 1), HUDView::activeRecordColor());
    EXPECT_EQ(hud->levelView()->segmentColor(LevelView::Left, 2), HUDView::inactiveRecordColor());
}

TEST_F(HUD, MonoRecordingMirrorsTheLeftLevel) {
    hud->setLevels(-35.0, -10.0);
    EXPECT_EQ(hud->levelView()->rightLitSegments(), 5);
    EXPECT_EQ(hud->levelView()->labelColor(), HUDView::activeRecordColor());

    hud->setStereo(false);
    EXPECT_FALSE(hud->levelView()->stereo()) << "the meters follow the stereo switch";
    EXPECT_EQ(hud->levelView()->rightLitSegments(), 2) << "the right level is ignored";
    EXPECT_EQ(hud->levelView()->labelColor(), HUDView::inactiveRecordColor());

    hud->setLevels(-5.0, -60.0);
    EXPECT_EQ(hud->levelView()->rightLitSegments(), 6);
}

TEST_F(HUD, VolumeBarsAndClicks) {
    QSignalSpy changes(hud.get(), &HUDView::volumeChanged);
    hud->setVolume(-12.0);
    EXPECT_EQ(hud->volumeView()->litBars(), 4) << "3.6 becomes 4";
    EXPECT_EQ(changes.count(), 1) << "a setter announces the change too";

    VolumeView* view = hud->volumeView();
    QTest::mouseClick(view, Qt::LeftButton, {}, centreOf(VolumeView::barRect(2)));
    EXPECT_EQ(hud->volume(), -15.0);
    EXPECT_EQ(view->litBars(), 3);
    EXPECT_EQ(changes.count(), 2);

    // The label and the space above and below are in no bar.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(10, 8));
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(28, 8));
    EXPECT_FALSE(view->setVolumeForPoint(QPointF(40.0, 16.0)));
    EXPECT_FALSE(view->setVolumeForPoint(QPointF(65.0, 8.0)));
    EXPECT_EQ(hud->volume(), -15.0);
    EXPECT_EQ(changes.count(), 2);

    // Dragging across the bars follows the pointer; off the bars it stays.
    QTest::mousePress(view, Qt::LeftButton, {}, centreOf(VolumeView::barRect(0)));
    EXPECT_EQ(hud->volume(), -25.0);
    QTest::mouseMove(view, centreOf(VolumeView::barRect(5)));
    EXPECT_EQ(hud->volume(), 0.0);
    QTest::mouseMove(view, QPoint(5, 8));
    EXPECT_EQ(hud->volume(), 0.0);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(5, 8));

    EXPECT_THROW(VolumeView::volumeForIndex(6), InternalInconsistencyException);
}

TEST_F(HUD, TimeStrings) {
    EXPECT_EQ(TimeView::timeStringForTime(83456.7), "1:23.45");
    EXPECT_EQ(TimeView::timeStringForTime(59999.0), "0:59.99");
    EXPECT_EQ(TimeView::timeStringForTime(3600000.0), "60:00.00");
    EXPECT_EQ(TimeView::timeStringForTime(0.0), "0:00.00");
    EXPECT_EQ(TimeView::timeStringForTime(-40.0), "0:00.00");
    EXPECT_EQ(TimeView::timeStringForTime(std::numeric_limits<double>::quiet_NaN()), "0:00.00");
    EXPECT_EQ(TimeView::timeStringForTime(std::numeric_limits<double>::infinity()).left(5), "1666:")
        << "an absurd time stays a readable number";

    hud->setTime(83456.7);
    EXPECT_EQ(hud->time(), 83456.7);
    EXPECT_EQ(hud->timeView()->timeString(), "1:23.45");
}

TEST_F(HUD, PositionClicksUseThirtyFourSteps) {
    PositionView* view = hud->positionView();
    hud->setMaxTime(340000.0);
    hud->setPosition(170000.0);
    QSignalSpy changes(hud.get(), &HUDView::positionChanged);

    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(2, 5));
    EXPECT_EQ(hud->position(), 0.0);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(138, 5));
    EXPECT_EQ(hud->position(), 340000.0);
    EXPECT_EQ(view->currentPosition(), 33) << "the display's scale ends at 33";
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(6, 5));
    EXPECT_DOUBLE_EQ(hud->position(), 10000.0) << "one step of 34 per 4 pixels";
    EXPECT_EQ(changes.count(), 3);
    hud->setPosition(1.0);
    EXPECT_EQ(changes.count(), 4) << "the controller's own moves are announced as well";

    // Dragging past either end keeps the time within the tape.
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(70, 5));
    QTest::mouseMove(view, QPoint(-60, 5));
    EXPECT_EQ(hud->position(), 0.0);
    QTest::mouseMove(view, QPoint(500, 5));
    EXPECT_EQ(hud->position(), 340000.0);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(500, 5));

    // Without a tape length a click goes to 0.
    hud->setMaxTime(0.0);
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(100, 5));
    EXPECT_EQ(hud->position(), 0.0);
    EXPECT_EQ(view->currentPosition(), 0);
}

TEST_F(HUD, PositionDisplayRoundsToEvenAndFades) {
    PositionView* view = hud->positionView();
    hud->setMaxTime(3300.0);
    hud->setPosition(250.0);
    EXPECT_EQ(view->currentPosition(), 2) << "2.5 goes to the even neighbour";
    hud->setPosition(99999.0);
    EXPECT_EQ(view->currentPosition(), 33);

    now += 1.0;
    hud->setPosition(1000.0);
    EXPECT_EQ(view->segmentColor(10), HUDView::activeColor());
    EXPECT_TRUE(view->isAnimating());
    EXPECT_NEAR(view->displayedSegmentColor(10).alphaF(), HUDView::inactiveColor().alphaF(), 1e-3);
    now += 0.06;
    EXPECT_NEAR(view->displayedSegmentColor(10).alphaF(), 0.65, 0.01) << "half way";
    EXPECT_NEAR(view->displayedSegmentColor(33).alphaF(), 0.65, 0.01) << "fading out";
    now += 0.06;
    EXPECT_FALSE(view->isAnimating());
    EXPECT_EQ(view->displayedSegmentColor(10), HUDView::activeColor());
    EXPECT_EQ(view->displayedSegmentColor(33), HUDView::inactiveColor());
}

TEST_F(HUD, RecordingPatternAdvancesOneSegmentPer200ms) {
    PositionView* view = hud->positionView();
    hud->setMaxTime(100000.0);
    hud->setPosition(50000.0);
    hud->setRecordingMode(true);
    EXPECT_EQ(view->currentPosition(), 0);

    hud->setPosition(0.0);
    EXPECT_EQ(brightestSegment(), 0);
    const float expected[] = {1.0f, 0.36f, 0.52f, 0.68f, 0.84f, 1.0f};
    for (int j = 0; j < 6; ++j) {
        EXPECT_NEAR(view->segmentColor(j).alphaF(), expected[j], 0.005) << "segment " << j;
    }
    hud->setPosition(200.0);
    EXPECT_EQ(brightestSegment(), 1);
    hud->setPosition(100.0);
    EXPECT_EQ(brightestSegment(), 0) << "0.5 step goes to the even neighbour";
    hud->setPosition(300.0);
    EXPECT_EQ(brightestSegment(), 2) << "1.5 steps go to the even neighbour";
    hud->setPosition(1200.0);
    EXPECT_EQ(brightestSegment(), 1) << "the pattern repeats every five segments";

    // The bar cannot be clicked while recording.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(100, 5));
    EXPECT_EQ(hud->position(), 1200.0);

    hud->setRecordingMode(false);
    hud->setPosition(50000.0);
    EXPECT_EQ(view->currentPosition(), 16) << "16.5 goes to the even neighbour";
    EXPECT_EQ(view->segmentColor(0), HUDView::inactiveColor());
}

TEST_F(HUD, QualityClicksStoreTheDefaultAndTheDisplayFollowsIt) {
    EXPECT_EQ(hud->quality(), "HQ") << "the first item until told otherwise";
    EXPECT_EQ(hud->qualityView()->qualityLayers(), QStringList({"HQ", "MQ", "LQ"}));
    QSignalSpy changes(hud.get(), &HUDView::qualityChanged);

    clickQuality(1);
    EXPECT_EQ(UserDefaults::standard().stringForKey(kRecordingQuality), "MQ");
    EXPECT_EQ(hud->quality(), "MQ");
    EXPECT_EQ(changes.count(), 1);

    UserDefaults::standard().setValue(kRecordingQuality, QStringLiteral("LQ"));
    EXPECT_EQ(hud->quality(), "LQ") << "a change made elsewhere shows";
    hud->setQuality(QStringLiteral("XQ"));
    EXPECT_EQ(hud->quality(), "LQ") << "a level no item carries changes nothing";

    // The display set apart from the default still follows a click on the
    // default's own level.
    hud->setQuality(QStringLiteral("HQ"));
    clickQuality(2);
    EXPECT_EQ(hud->quality(), "LQ");

    hud->setRecordingMode(true);
    clickQuality(0);
    EXPECT_EQ(UserDefaults::standard().stringForKey(kRecordingQuality), "LQ");
    EXPECT_EQ(hud->quality(), "LQ");

    // A new view shows the stored default at once.
    HUDView other;
    EXPECT_EQ(other.quality(), "LQ");

    hud->qualityView()->setSelectedQuality(3);
    try {
        hud->quality();
        ADD_FAILURE() << "reading a selection beyond the items must throw";
    } catch (const InternalInconsistencyException& error) {
        EXPECT_STREQ(error.what(), "selected quality beyond # of layers");
    }
}

TEST_F(HUD, StereoClicksStoreTheDefault) {
    EXPECT_TRUE(hud->stereo());
    QSignalSpy changes(hud.get(), &HUDView::stereoChanged);

    clickStereo(1);
    EXPECT_EQ(UserDefaults::standard().value(kRecordingIsStereo), QVariant(false));
    EXPECT_FALSE(hud->stereo());
    EXPECT_FALSE(hud->levelView()->stereo());
    clickStereo(0);
    EXPECT_EQ(UserDefaults::standard().value(kRecordingIsStereo), QVariant(true));
    EXPECT_TRUE(hud->stereo());
    EXPECT_EQ(changes.count(), 2);

    UserDefaults::standard().setValue(kRecordingIsStereo, false);
    EXPECT_FALSE(hud->stereo()) << "a change made elsewhere shows";

    hud->setRecordingMode(true);
    clickStereo(0);
    EXPECT_EQ(UserDefaults::standard().value(kRecordingIsStereo), QVariant(false));
    EXPECT_FALSE(hud->stereo());
}

TEST_F(HUD, StereoOnAMonoOnlyDeviceAlertsAndChoosesMono) {
    UserDefaults::standard().setValue(kRecordingIsStereo, true);
    QStringList alerts;
    hud->setStereoCapabilityQuery([] { return false; });
    hud->setAlertPresenter([&alerts](const QString& message, const QString& informative) {
        alerts << message << informative;
    });

    clickStereo(0);
    EXPECT_EQ(alerts, QStringList({"Mono Recording Only",
                                   "Your currently chosen input device only records in mono. "
                                   "Choose another device in the preferences if you require "
                                   "stereo recording."}));
    EXPECT_EQ(UserDefaults::standard().value(kRecordingIsStereo), QVariant(false));
    EXPECT_FALSE(hud->stereo());

    alerts.clear();
    clickStereo(1);
    EXPECT_TRUE(alerts.isEmpty()) << "choosing mono needs no alert";
}

TEST_F(HUD, RendersAtTwiceTheScale) {
    EXPECT_EQ(hud->sizeHint().width(), 343);
    EXPECT_LE(hud->sizeHint().height(), 64);
    EXPECT_EQ(hud->qualityView()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(hud->positionView()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_NE(hud->timeView()->cursor().shape(), Qt::PointingHandCursor);
    // Every display lies inside the panel.
    for (QWidget* view :
         std::initializer_list<QWidget*>{hud->qualityView(), hud->stereoView(), hud->levelView(),
                                         hud->volumeView(), hud->timeView(), hud->positionView()}) {
        EXPECT_TRUE(hud->rect().contains(view->geometry())) << view->metaObject()->className();
    }

    hud->setLevels(-12.0, -30.0);
    hud->setMaxTime(60000.0);
    hud->setPosition(20000.0);
    hud->setTime(83456.7);
    hud->setVolume(-10.0);
    now += 1.0; // past the position bar's fade
    hud->resize(hud->sizeHint());
    QImage image(hud->sizeHint() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::transparent);
    hud->render(&image);
    EXPECT_EQ(image.size(), hud->sizeHint() * 2);

    int cyan = 0, red = 0, black = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            cyan += pixel.blue() > 200 && pixel.green() > 120 && pixel.red() < 80;
            red += pixel.red() > 200 && pixel.green() < 60 && pixel.blue() < 60;
            black += pixel.alpha() == 255 && pixel.lightness() < 20;
        }
    }
    EXPECT_GT(cyan, 200) << "the time, volume and position are lit";
    EXPECT_GT(red, 100) << "the quality, stereo and levels are lit";
    EXPECT_GT(black, image.width() * image.height() / 2) << "on black glass";
    if (const char* path = std::getenv("CASSORA_HUD_SNAPSHOT")) {
        image.save(QString::fromLocal8Bit(path));
        hud->setRecordingMode(true);
        hud->setStereo(false);
        now += 1.0;
        image.fill(Qt::transparent);
        hud->render(&image);
        image.save(QString::fromLocal8Bit(path) + ".rec.png");
    }
}

} // namespace

// What a screen reader finds on the HUD: named readouts with their values as
// text, and volume and position as sliders it can set.
TEST_F(HUD, ScreenReadersReadAndSetTheReadouts) {
    DeckAccessibility::install();
    hud->setMaxTime(130000.0);
    hud->setTime(3460.0);
    hud->setPosition(3460.0);
    hud->setVolume(-10.0);
    hud->setLevels(-12.0, -100.0);
    auto readout = [](QWidget* view) { return QAccessible::queryAccessibleInterface(view); };

    QAccessibleInterface* time = readout(hud->timeView());
    EXPECT_EQ(time->text(QAccessible::Name), QStringLiteral("Time"));
    EXPECT_EQ(time->text(QAccessible::Value), QStringLiteral("0:03.46 of 2:10"));
    ASSERT_NE(time->textInterface(), nullptr);
    EXPECT_EQ(time->textInterface()->text(0, -1), QStringLiteral("0:03.46 of 2:10"));
    EXPECT_EQ(time->textInterface()->text(2, 4), QStringLiteral("03"));

    QAccessibleInterface* level = readout(hud->levelView());
    EXPECT_EQ(level->text(QAccessible::Name), QStringLiteral("Input level"));
    EXPECT_EQ(level->text(QAccessible::Value), QStringLiteral("left -12 dB, right silent"));

    QAccessibleInterface* volume = readout(hud->volumeView());
    EXPECT_EQ(volume->role(), QAccessible::Slider);
    EXPECT_EQ(volume->text(QAccessible::Value), QStringLiteral("4 of 6"));
    ASSERT_NE(volume->valueInterface(), nullptr);
    volume->valueInterface()->setCurrentValue(6);
    EXPECT_DOUBLE_EQ(hud->volume(), 0.0);
    volume->valueInterface()->setCurrentValue(-3); // below the quietest bar
    EXPECT_DOUBLE_EQ(hud->volume(), -25.0);

    QAccessibleInterface* position = readout(hud->positionView());
    EXPECT_EQ(position->role(), QAccessible::Slider);
    position->valueInterface()->setCurrentValue(65.0);
    EXPECT_DOUBLE_EQ(hud->position(), 65000.0);
    EXPECT_DOUBLE_EQ(position->valueInterface()->maximumValue().toDouble(), 130.0);
    hud->setRecordingMode(true);
    position->valueInterface()->setCurrentValue(10.0);
    EXPECT_DOUBLE_EQ(hud->position(), 65000.0) << "the position stays while recording";
    hud->setRecordingMode(false);

    QAccessibleInterface* quality = readout(hud->qualityView());
    EXPECT_EQ(quality->text(QAccessible::Name), QStringLiteral("Recording quality"));
    quality->valueInterface()->setCurrentValue(0);
    EXPECT_EQ(quality->text(QAccessible::Value), hud->qualityView()->qualityForItem(0));
    EXPECT_EQ(hud->quality(), hud->qualityView()->qualityForItem(0));

    QAccessibleInterface* channels = readout(hud->stereoView());
    hud->setStereo(true);
    EXPECT_EQ(channels->text(QAccessible::Value), QStringLiteral("Stereo"));
    channels->valueInterface()->setCurrentValue(1);
    EXPECT_FALSE(hud->stereo());
    EXPECT_EQ(channels->text(QAccessible::Value), QStringLiteral("Mono"));
}

namespace {

QImage blankImage(QSize size, qreal ratio, const QColor& fill) {
    QImage image((QSizeF(size) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(fill);
    return image;
}

// The view alone, without a window's background.
QImage rendering(QWidget& view, qreal ratio) {
    QImage image = blankImage(view.size(), ratio, Qt::transparent);
    view.render(&image, {}, {}, QWidget::DrawChildren);
    return image;
}

// The largest difference of any channel between the two images inside `area`
// (in the HUD's pixels).
int largestDifference(const QImage& a, const QImage& b, const QRect& area) {
    const qreal ratio = a.devicePixelRatio();
    const QRect pixels(area.topLeft() * ratio, area.size() * ratio);
    int largest = 0;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest =
                std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    }
    return largest;
}

} // namespace

// The time and the position paint the glass behind them and the gloss over
// them themselves: what they show must be what the panel's layers (glass,
// readout, lower and upper gloss, each painted by its own view) show.
TEST_F(HUD, TimeAndPositionLookAsOnTheLayeredPanel) {
    hud->setMaxTime(60000.0);
    hud->setPosition(21000.0);
    hud->setTime(83456.7);
    hud->resize(hud->sizeHint());
    const QColor face(40, 42, 46);

    TimeView time;
    time.setTime(hud->time());
    PositionView position;
    position.setMaxTime(hud->maxTime());
    position.setTime(hud->position());
    HUDHighlightView lower(HUDHighlightView::Placement::Lower);
    HUDHighlightView upper(HUDHighlightView::Placement::Upper);
    for (HUDHighlightView* gloss : {&lower, &upper}) {
        const HUDHighlightView* original =
            gloss == &lower ? hud->lowerHighlightView() : hud->upperHighlightView();
        gloss->resize(original->size());
        gloss->setCornerRadius(original->cornerRadius());
    }
    now += 1.0; // past the position bars' fades

    for (const qreal ratio : {1.0, 2.0}) {
        QImage shown = blankImage(hud->size(), ratio, face);
        hud->render(&shown);

        QImage layered = blankImage(hud->size(), ratio, face);
        hud->render(&layered, {}, {}, QWidget::DrawWindowBackground); // the glass alone
        QPainter painter(&layered);
        painter.drawImage(hud->timeView()->pos(), rendering(time, ratio));
        painter.drawImage(hud->positionView()->pos(), rendering(position, ratio));
        painter.drawImage(hud->lowerHighlightView()->pos(), rendering(lower, ratio));
        painter.drawImage(hud->upperHighlightView()->pos(), rendering(upper, ratio));
        painter.end();

        for (const QWidget* view :
             {static_cast<QWidget*>(hud->timeView()), static_cast<QWidget*>(hud->positionView())}) {
            EXPECT_LE(largestDifference(shown, layered, view->geometry()), 2)
                << view->metaObject()->className() << " at a ratio of " << ratio;
        }
    }
}

// The counter and the bar repaint only what changes (the bar only its fading
// segments): what the window shows after a run must be what a fresh
// rendering of the whole panel shows.
TEST_F(HUD, TheWindowKeepsNoStalePixelsAsTheTapeRuns) {
    hud->setMaxTime(3300.0);
    hud->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(hud.get()));
    hud->positionView()->setFocus();
    for (double position = 0.0; position <= 1000.0; position += 100.0) {
        hud->setPosition(position); // one segment on each time
        hud->setTime(position * 7.3);
        now += 0.05; // part-way through the fade
        QTest::qWait(40);
    }
    now += 1.0;
    QTest::qWait(100); // the last beats paint the fades' ends
    const QImage onScreen = hud->screen()
                                ->grabWindow(hud->winId())
                                .toImage()
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage fresh = hud->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(onScreen.size(), fresh.size());
    EXPECT_EQ(largestDifference(onScreen, fresh, hud->rect()), 0);
}
