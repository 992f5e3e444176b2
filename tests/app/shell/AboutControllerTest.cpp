#include "app/shell/AboutController.h"
#include "app/shell/CommandLine.h"

#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

namespace {

// The credits on a clock the test turns.
class About : public ::testing::Test {
protected:
    void SetUp() override {
        about.setClock([this] { return now; });
        about.showWindow();
    }
    void tick(int times = 1) {
        for (int i = 0; i < times; ++i) {
            about.scrollCredits();
        }
    }
    int scrolled() const { return about.creditsTextView()->verticalScrollBar()->value(); }

    double now = 1000.0;
    AboutController about;
};

TEST_F(About, CreditsRestAQuarterSecondThenScrollAPointATickAndStartOverAtTheEnd) {
    EXPECT_EQ(about.versionField()->text(), "version " + CommandLine::version());
    EXPECT_EQ(AboutController::humanReadableVersionString("2.0", "2.0"), "2.0");
    EXPECT_EQ(AboutController::humanReadableVersionString("2.0", "417"), "2.0 (417)");
    ASSERT_GT(about.maxScrollHeight(), 50.0) << "the credits were not laid out";
    tick(3);
    EXPECT_EQ(about.currentPosition(), 0.0) << "moved before the quarter second was over";
    now += 0.25;
    tick(40);
    EXPECT_EQ(about.currentPosition(), 40.0);
    EXPECT_EQ(scrolled(), 39);

    // Reopening a visible window keeps the place.
    about.showWindow();
    EXPECT_EQ(about.currentPosition(), 40.0);

    // At the end: back to the top, one tick's rest there, then on again.
    const int remaining = int(about.maxScrollHeight()) - 40;
    tick(remaining);
    EXPECT_GE(about.currentPosition(), about.maxScrollHeight());
    tick();
    EXPECT_EQ(about.currentPosition(), 0.0);
    tick();
    EXPECT_EQ(scrolled(), 0);
    EXPECT_EQ(about.currentPosition(), 0.0);
    tick();
    EXPECT_EQ(about.currentPosition(), 1.0);

    // Closed and opened again: from the top, after a new quarter second.
    tick(20);
    about.close();
    about.showWindow();
    EXPECT_EQ(about.currentPosition(), 0.0);
    EXPECT_EQ(scrolled(), 0);
    tick();
    EXPECT_EQ(about.currentPosition(), 0.0);
}

TEST_F(About, AClickStopsTheCreditsADoubleClickStartsThemAgain) {
    QWidget* credits = about.creditsTextView()->viewport();
    about.startScrollTimer();
    QTest::mouseClick(credits, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(about.isScrolling());
    QTest::mouseClick(credits, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(about.isScrolling()) << "a single click does not start them";
    QTest::mouseDClick(credits, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(about.isScrolling());
    about.stopScrollTimer();
}

TEST(AboutLinks, TheProductPageSaysWhereTheVisitorCameFrom) {
    EXPECT_TRUE(AboutController::cassoraPageURL().endsWith("/?from=aboutbox"));
    EXPECT_TRUE(AboutController::cassoraPageURL().startsWith("https://"));
}

} // namespace
