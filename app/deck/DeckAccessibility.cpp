#include "app/deck/DeckAccessibility.h"

#include "app/deck/DeckWindow.h"
#include "app/deck/HUDReadoutAccessible.h"
#include "app/deck/HUDView.h"
#include "app/deck/LevelView.h"
#include "app/deck/PositionView.h"
#include "app/deck/QualityView.h"
#include "app/deck/StereoView.h"
#include "app/deck/TapeView.h"
#include "app/deck/TapeViewAccessible.h"
#include "app/deck/TimeView.h"
#include "app/deck/VolumeView.h"
#include "app/deck/WindowController.h"
#include "app/transport/SegmentedTapeButtonAccessible.h"
#include "app/transport/SegmentedTapeButtonView.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>

#include <cmath>
#include <memory>

namespace {

// Tells assistive technology that the view's value changed when `signal` fires.
template <typename View, typename Signal>
void reportValueChanges(View* view, Signal signal, double (*value)(const View*)) {
    QObject::connect(view, signal, view, [view, value] {
        if (QAccessible::isActive()) {
            QAccessibleValueChangeEvent event(view, value(view));
            QAccessible::updateAccessibility(&event);
        }
    });
}

QString decibels(double level) {
    if (!std::isfinite(level) || level <= -100.0) {
        return QCoreApplication::translate("DeckAccessibility", "silent");
    }
    return QCoreApplication::translate("DeckAccessibility", "%1 dB")
        .arg(QLocale().toString(level, 'f', 0));
}

QAccessibleInterface* timeInterface(TimeView* view) {
    return new HUDReadoutAccessible(
        view, QAccessible::StaticText,
        [] { return QCoreApplication::translate("DeckAccessibility", "Time"); },
        [view] {
            const auto* hud = qobject_cast<HUDView*>(view->parentWidget());
            return DeckAccessibility::timeOfLength(view->time(), hud ? hud->maxTime() : 0.0);
        });
}

QAccessibleInterface* levelInterface(LevelView* view) {
    HUDReadoutAccessible::Steps steps{
        [view] {
            return static_cast<double>(std::max(view->leftLitSegments(), view->rightLitSegments()));
        },
        0, [] { return static_cast<double>(LevelView::SegmentCount); }, [] { return 1.0; },
        [](double) {}};
    return new HUDReadoutAccessible(
        view, QAccessible::ProgressBar,
        [] { return QCoreApplication::translate("DeckAccessibility", "Input level"); },
        [view] {
            const auto levels = view->levels();
            if (!view->stereo()) {
                return decibels(levels[0]);
            }
            return QCoreApplication::translate("DeckAccessibility", "left %1, right %2")
                .arg(decibels(levels[0]), decibels(levels[1]));
        },
        steps);
}

QAccessibleInterface* volumeInterface(VolumeView* view) {
    reportValueChanges(
        view, &VolumeView::volumeChanged,
        +[](const VolumeView* v) { return static_cast<double>(v->litBars()); });
    HUDReadoutAccessible::Steps steps{
        [view] { return static_cast<double>(view->litBars()); }, 1,
        [] { return static_cast<double>(VolumeView::BarCount); }, [] { return 1.0; },
        [view](double bars) {
            view->setVolume(VolumeView::volumeForIndex(static_cast<int>(std::lround(bars)) - 1));
        }};
    return new HUDReadoutAccessible(
        view, QAccessible::Slider,
        [] { return QCoreApplication::translate("DeckAccessibility", "Volume"); },
        [view] {
            return QCoreApplication::translate("DeckAccessibility", "%1 of %2")
                .arg(view->litBars())
                .arg(VolumeView::BarCount);
        },
        steps);
}

QAccessibleInterface* positionInterface(PositionView* view) {
    QObject::connect(view, &PositionView::timeChanged, view, [view] {
        // Only a position being moved by the keys is worth saying, not the
        // tape's run.
        if (QAccessible::isActive() && view->hasFocus()) {
            QAccessibleValueChangeEvent event(view, view->time() / 1000.0);
            QAccessible::updateAccessibility(&event);
        }
    });
    HUDReadoutAccessible::Steps steps{
        [view] { return view->time() / 1000.0; }, 0,
        [view] { return std::max(0.0, view->maxTime()) / 1000.0; },
        [view] { return std::max(0.0, view->maxTime()) / 1000.0 / (PositionView::SegmentCount); },
        [view](double seconds) {
            if (!view->recordingMode() && view->maxTime() > 0.0) {
                view->setTime(seconds * 1000.0);
            }
        }};
    return new HUDReadoutAccessible(
        view, QAccessible::Slider,
        [] { return QCoreApplication::translate("DeckAccessibility", "Position"); },
        [view] { return DeckAccessibility::timeOfLength(view->time(), view->maxTime()); }, steps);
}

QAccessibleInterface* qualityInterface(QualityView* view) {
    reportValueChanges(
        view, &QualityView::qualityChanged,
        +[](const QualityView* v) { return static_cast<double>(v->selectedQuality()); });
    HUDReadoutAccessible::Steps steps{
        [view] { return static_cast<double>(view->selectedQuality()); }, 0,
        [] { return static_cast<double>(QualityView::ItemCount - 1); }, [] { return 1.0; },
        [view](double index) {
            view->stepBy(static_cast<int>(std::lround(index)) - view->selectedQuality());
        }};
    return new HUDReadoutAccessible(
        view, QAccessible::SpinBox,
        [] { return QCoreApplication::translate("DeckAccessibility", "Recording quality"); },
        [view] { return view->qualityForItem(view->selectedQuality()); }, steps);
}

QAccessibleInterface* stereoInterface(StereoView* view) {
    reportValueChanges(
        view, &StereoView::stereoChanged,
        +[](const StereoView* v) { return static_cast<double>(v->selectedIndex()); });
    HUDReadoutAccessible::Steps steps{
        [view] { return static_cast<double>(view->selectedIndex()); }, 0,
        [] { return static_cast<double>(StereoView::ItemCount - 1); }, [] { return 1.0; },
        [view](double index) { view->chooseItem(static_cast<int>(std::lround(index))); }};
    return new HUDReadoutAccessible(
        view, QAccessible::SpinBox,
        [] { return QCoreApplication::translate("DeckAccessibility", "Recording channels"); },
        [view] {
            return view->stereo() ? QCoreApplication::translate("DeckAccessibility", "Stereo")
                                  : QCoreApplication::translate("DeckAccessibility", "Mono");
        },
        steps);
}

QAccessibleInterface* deckInterface(const QString& className, QObject* object) {
    if (className == QLatin1String("SegmentedTapeButtonView")) {
        return new SegmentedTapeButtonAccessible(static_cast<SegmentedTapeButtonView*>(object));
    }
    if (className == QLatin1String("TapeView")) {
        return new TapeViewAccessible(static_cast<TapeView*>(object));
    }
    if (className == QLatin1String("HUDView")) {
        return new HUDReadoutAccessible(
            static_cast<QWidget*>(object), QAccessible::Grouping,
            [] { return QCoreApplication::translate("DeckAccessibility", "Display"); }, {});
    }
    if (className == QLatin1String("TimeView")) {
        return timeInterface(static_cast<TimeView*>(object));
    }
    if (className == QLatin1String("LevelView")) {
        return levelInterface(static_cast<LevelView*>(object));
    }
    if (className == QLatin1String("VolumeView")) {
        return volumeInterface(static_cast<VolumeView*>(object));
    }
    if (className == QLatin1String("PositionView")) {
        return positionInterface(static_cast<PositionView*>(object));
    }
    if (className == QLatin1String("QualityView")) {
        return qualityInterface(static_cast<QualityView*>(object));
    }
    if (className == QLatin1String("StereoView")) {
        return stereoInterface(static_cast<StereoView*>(object));
    }
    return nullptr;
}

} // namespace

void DeckAccessibility::install() {
    static const bool installed = [] {
        QAccessible::installFactory(deckInterface);
        return true;
    }();
    (void)installed;
}

void DeckAccessibility::announce(QWidget* source, const QString& message) {
    if (!source || message.isEmpty()) {
        return;
    }
    // The description keeps the message for a screen reader that asks later;
    // setting it tells assistive technology of the change.
    source->setAccessibleDescription(message);
    if (QAccessible::isActive()) {
        QAccessibleEvent alert(source, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void DeckAccessibility::announceRecordingStates(WindowController* deck) {
    enum class Take { None, Recording, Paused };
    auto last = std::make_shared<Take>(Take::None);
    QObject::connect(deck, &WindowController::recordingStateChanged, deck, [deck, last] {
        const Take now = deck->isRecordingPaused() ? Take::Paused
                         : deck->isRecording()     ? Take::Recording
                                                   : Take::None;
        if (now == *last || !deck->window()) {
            return;
        }
        QString message;
        if (now == Take::Recording) {
            message = *last == Take::Paused
                          ? QCoreApplication::translate("DeckAccessibility", "Recording resumed")
                          : QCoreApplication::translate("DeckAccessibility", "Recording started");
        } else {
            message = now == Take::Paused
                          ? QCoreApplication::translate("DeckAccessibility", "Recording paused")
                          : QCoreApplication::translate("DeckAccessibility", "Recording stopped");
        }
        *last = now;
        announce(deck->window()->buttonView(), message);
    });
}

QString DeckAccessibility::timeOfLength(double time, double length) {
    const QString now = TimeView::timeStringForTime(time);
    if (!(length > 0.0)) {
        return now;
    }
    const auto seconds = static_cast<long long>(std::llround(length / 1000.0));
    const QString total =
        QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QCoreApplication::translate("DeckAccessibility", "%1 of %2").arg(now, total);
}
