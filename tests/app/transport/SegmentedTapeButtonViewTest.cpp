#include "app/transport/SegmentedTapeButtonView.h"

#include "app/deck/DeckAccessibility.h"

#include "platform/desktop/UserDefaults.h"

#include <QAccessible>
#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <functional>

// Receives the strip's actions and writes them down. A hook lets a test act
// like the deck controller from inside an action.
class ActionTarget : public QObject {
    Q_OBJECT

public:
    QStringList actions;
    std::function<void(const QString&)> onAction;

public slots:
    void recordTape(QObject* sender) { note("recordTape", sender); }
    void playTape(QObject* sender) { note("playTape", sender); }
    void rewindTape(QObject* sender) { note("rewindTape", sender); }
    void fastForwardTape(QObject* sender) { note("fastForwardTape", sender); }
    void stopTape(QObject* sender) { note("stopTape", sender); }
    void pauseTape(QObject* sender) { note("pauseTape", sender); }

private:
    void note(const QString& action, QObject* sender) {
        EXPECT_NE(sender, nullptr);
        actions << action;
        if (onAction) {
            onAction(action);
        }
    }
};

namespace {

// X11 key codes of the bottom letter row and the space bar.
constexpr quint32 kX11Z = 52, kX11X = 53, kX11C = 54, kX11V = 55, kX11N = 57, kX11Space = 65;
constexpr quint32 kX11Q = 24;

class ButtonStrip : public ::testing::Test {
protected:
    SegmentedTapeButtonView view;
    ActionTarget target;
    double now = 1000.0;

    void SetUp() override {
        view.resize(600, 80);
        view.setSegments(6);
        view.setTarget(&target);
        const char* actions[] = {"recordTape:",      "playTape:", "rewindTape:",
                                 "fastForwardTape:", "stopTape:", "pauseTape:"};
        for (int segment = 0; segment < 6; ++segment) {
            view.setSelector(actions[segment], segment);
        }
        view.setClock([this] { return now; });
    }

    QPointF centerOf(int segment) const { return QPointF(segment * 100 + 50, 40); }

    void mouse(QEvent::Type type, QPointF point) {
        QMouseEvent event(type, point, view.mapToGlobal(point), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
    }

    void key(QEvent::Type type, quint32 x11Code, bool autoRepeat = false) {
        QKeyEvent event(type, 0, Qt::NoModifier, x11Code, 0, 0, QString(), autoRepeat);
        QCoreApplication::sendEvent(&view, &event);
    }

    QSet<int> shown() const {
        QSet<int> segments;
        for (int s = 0; s < 6; ++s) {
            if (view.isDepressedSegment(s)) {
                segments.insert(s);
            }
        }
        return segments;
    }
};

TEST_F(ButtonStrip, ClickPerformsTheSegmentsActionOnce) {
    mouse(QEvent::MouseButtonPress, centerOf(4));
    EXPECT_EQ(shown(), QSet<int>({4}));
    mouse(QEvent::MouseButtonRelease, centerOf(4));
    EXPECT_EQ(target.actions, QStringList({"stopTape"}));
    EXPECT_TRUE(shown().isEmpty());
}

TEST_F(ButtonStrip, HoldingAHoldableKeyActsAgainOnRelease) {
    mouse(QEvent::MouseButtonPress, centerOf(3));
    now += 0.5;
    mouse(QEvent::MouseButtonRelease, centerOf(3));
    EXPECT_EQ(target.actions, QStringList({"fastForwardTape", "fastForwardTape"}));

    target.actions.clear();
    mouse(QEvent::MouseButtonPress, centerOf(2));
    now += 0.3;
    mouse(QEvent::MouseButtonRelease, centerOf(2));
    EXPECT_EQ(target.actions, QStringList({"rewindTape"})) << "a quick tap acts once";

    target.actions.clear();
    mouse(QEvent::MouseButtonPress, centerOf(4));
    now += 2.0;
    mouse(QEvent::MouseButtonRelease, centerOf(4));
    EXPECT_EQ(target.actions, QStringList({"stopTape"})) << "STOP is not holdable";
}

TEST_F(ButtonStrip, LateReleaseOverAnotherHoldableKeyActsForThatKey) {
    mouse(QEvent::MouseButtonPress, centerOf(2));
    now += 1.0;
    mouse(QEvent::MouseButtonRelease, centerOf(3));
    EXPECT_EQ(target.actions, QStringList({"rewindTape", "fastForwardTape"}));
}

TEST_F(ButtonStrip, RecordPressesPlayWithIt) {
    mouse(QEvent::MouseButtonPress, centerOf(0));
    EXPECT_EQ(shown(), QSet<int>({0, 1}));
    mouse(QEvent::MouseButtonRelease, centerOf(0));
    EXPECT_TRUE(shown().isEmpty()) << "nothing latched them";
}

TEST_F(ButtonStrip, WindingKeysShowNothingWhileRecordIsLatched) {
    view.setSelectedSegment(0);
    view.setSelectedSegment(1);
    mouse(QEvent::MouseButtonPress, centerOf(3));
    EXPECT_EQ(shown(), QSet<int>({0, 1}));
    mouse(QEvent::MouseButtonRelease, centerOf(3));
    EXPECT_EQ(target.actions, QStringList({"fastForwardTape"})) << "the action still runs";
    EXPECT_EQ(shown(), QSet<int>({0, 1}));
}

TEST_F(ButtonStrip, LatchedSetDuringAPress) {
    view.setSelectedSegment(5);
    target.onAction = [this](const QString& action) {
        if (action == "rewindTape") {
            EXPECT_FALSE(view.isSelectedSegment(2)) << "pressed, not yet latched";
            EXPECT_TRUE(view.isDepressedSegment(2));
            view.clearSelectedSegments();
            EXPECT_FALSE(view.isSelectedSegment(5));
            EXPECT_TRUE(view.isDepressedSegment(2)) << "the key being pressed stays shown";
            view.setSelectedSegment(2);
        }
    };
    mouse(QEvent::MouseButtonPress, centerOf(2));
    EXPECT_TRUE(view.isSelectedSegment(2));
    EXPECT_FALSE(view.isDepressedSegment(5));
    mouse(QEvent::MouseButtonRelease, centerOf(2));
    EXPECT_EQ(shown(), QSet<int>({2})) << "the action's latch survives the release";
}

TEST_F(ButtonStrip, KeysFollowTheKeyboardMap) {
    const std::pair<quint32, QString> keys[] = {
        {kX11Z, "recordTape"},      {kX11X, "playTape"},  {kX11C, "rewindTape"},
        {kX11V, "fastForwardTape"}, {kX11N, "pauseTape"}, {56 /* B */, "stopTape"},
    };
    for (const auto& [code, action] : keys) {
        target.actions.clear();
        key(QEvent::KeyPress, code);
        key(QEvent::KeyRelease, code);
        EXPECT_EQ(target.actions, QStringList({action})) << code;
    }
}

TEST_F(ButtonStrip, AutoRepeatedKeysAreIgnored) {
    key(QEvent::KeyPress, kX11C);
    for (int i = 0; i < 5; ++i) {
        key(QEvent::KeyRelease, kX11C, true);
        key(QEvent::KeyPress, kX11C, true);
    }
    now += 1.0;
    key(QEvent::KeyRelease, kX11C);
    EXPECT_EQ(target.actions, QStringList({"rewindTape", "rewindTape"}));
}

// The window around the strip hears every key-up the strip does not take,
// repeated or not.
class KeyUpWitness : public QWidget {
public:
    QList<bool> keyUps; // auto-repeat flag of each key-up heard
protected:
    void keyReleaseEvent(QKeyEvent* event) override { keyUps << event->isAutoRepeat(); }
};

TEST_F(ButtonStrip, KeyUpsReachTheEnclosingWindowRepeatsIncluded) {
    KeyUpWitness window;
    view.setParent(&window);
    key(QEvent::KeyPress, kX11C);
    key(QEvent::KeyRelease, kX11C, true);
    key(QEvent::KeyPress, kX11C, true);
    EXPECT_EQ(shown(), QSet<int>({2})) << "a repeat changes nothing on the strip";
    key(QEvent::KeyRelease, kX11C);
    key(QEvent::KeyRelease, kX11Q, true);
    EXPECT_EQ(window.keyUps, QList<bool>({true, false, true}));
    EXPECT_EQ(target.actions, QStringList({"rewindTape"}));
    EXPECT_TRUE(shown().isEmpty());
    view.setParent(nullptr);
}

TEST_F(ButtonStrip, PlayKeyStopsWhatPlayStarted) {
    EXPECT_EQ(view.segmentForKeyCode(7), 1);
    EXPECT_EQ(view.segmentForKeyCode(49), 1) << "space acts like play";
    view.setSelectedSegment(1);
    EXPECT_EQ(view.segmentForKeyCode(7), 4);
    EXPECT_EQ(view.segmentForKeyCode(49), 4);

    // Held long on the keyboard, PLAY's release maps to STOP, which is not
    // holdable: the keyboard never stops playback on release.
    view.clearSelectedSegments();
    key(QEvent::KeyPress, kX11Space);
    now += 1.0;
    key(QEvent::KeyRelease, kX11Space);
    EXPECT_EQ(target.actions, QStringList({"playTape"}));
}

TEST_F(ButtonStrip, UnmappedKeysLeaveTheButtonsAlone) {
    view.setSelectedSegment(3);
    key(QEvent::KeyPress, kX11Q);
    key(QEvent::KeyRelease, kX11Q);
    EXPECT_TRUE(target.actions.isEmpty());
    EXPECT_EQ(shown(), QSet<int>({3}));
    EXPECT_EQ(view.segmentForKeyCode(0x0C), SegmentedTapeButtonView::NotFound);
}

TEST_F(ButtonStrip, GeometryAndDefaults) {
    view.setSegments(0);
    EXPECT_EQ(view.segments(), 1u);
    view.setSegments(6);
    EXPECT_EQ(view.segmentForPoint(QPointF(-1, 10)), SegmentedTapeButtonView::NotFound);
    EXPECT_EQ(view.segmentForPoint(QPointF(10, 200)), SegmentedTapeButtonView::NotFound);
    EXPECT_EQ(view.segmentForPoint(QPointF(599, 10)), 5);
    EXPECT_EQ(view.segmentForPoint(QPointF(100, 10)), 1);
    EXPECT_TRUE(view.isHoldableSegment(1));
    EXPECT_TRUE(view.isHoldableSegment(2));
    EXPECT_TRUE(view.isHoldableSegment(3));
    EXPECT_FALSE(view.isHoldableSegment(0));
    EXPECT_FALSE(view.isHoldableSegment(9));
    EXPECT_EQ(view.selectorForSegment(0), "recordTape");
}

TEST_F(ButtonStrip, ChangedKeyboardMapTakesEffect) {
    QVariantMap map = UserDefaults::standard().dictionaryForKey("KeyboardTransportMap");
    EXPECT_EQ(map.value("record").toInt(), 6);
    EXPECT_EQ(map.value("pause").toInt(), 45);
    map["record"] = 0x0C; // Q
    UserDefaults::standard().setValue("KeyboardTransportMap", map);
    key(QEvent::KeyPress, kX11Q);
    key(QEvent::KeyRelease, kX11Q);
    EXPECT_EQ(target.actions, QStringList({"recordTape"}));
}

} // namespace

#include "SegmentedTapeButtonViewTest.moc"

// What a screen reader finds: six named push buttons whose press action acts
// like a click, and whose pressed state follows the latched keys.
TEST_F(ButtonStrip, ScreenReadersSeeSixNamedButtonsThatPress) {
    const char* labels[] = {"REC", "PLAY", "REW", "FFWD", "STOP", "PAUSE"};
    for (int segment = 0; segment < 6; ++segment) {
        view.setLabel(QString::fromLatin1(labels[segment]), segment);
    }
    view.setKeyNamer([](int code) { return code == 7 ? QStringLiteral("X") : QStringLiteral("?"); });
    DeckAccessibility::install();
    QAccessibleInterface* strip = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->text(QAccessible::Name), QStringLiteral("Transport"));
    ASSERT_EQ(strip->childCount(), 6);
    for (int segment = 0; segment < 6; ++segment) {
        QAccessibleInterface* button = strip->child(segment);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(QAccessible::Name), QString::fromLatin1(labels[segment]));
        EXPECT_EQ(button->role(), QAccessible::PushButton);
        EXPECT_EQ(button->parent(), strip);
        EXPECT_EQ(strip->indexOfChild(button), segment);
        ASSERT_NE(button->actionInterface(), nullptr);
    }
    QAccessibleInterface* play = strip->child(1);
    EXPECT_EQ(play->text(QAccessible::Accelerator), QStringLiteral("X"));
    EXPECT_EQ(play->actionInterface()->keyBindingsForAction(QAccessibleActionInterface::pressAction()),
              QStringList{QStringLiteral("X")});
    EXPECT_EQ(strip->child(1), play) << "the same interface every time";

    // A press acts once, like a click, and leaves nothing pressed in.
    play->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(target.actions.isEmpty()) << "the action waits for the event loop";
    QCoreApplication::processEvents();
    EXPECT_EQ(target.actions, QStringList{QStringLiteral("playTape")});
    EXPECT_FALSE(play->state().pressed);

    // A latched key reads as pressed in.
    view.setSelectedSegment(1);
    EXPECT_TRUE(play->state().pressed);
    view.clearSelectedSegments();
    EXPECT_FALSE(play->state().pressed);
}
