#include "app/preferences/PreferencesWindow.h"

#include <QApplication>
#include <QImage>
#include <QMap>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// WCAG's relative luminance and contrast ratio.
double luminance(QRgb pixel) {
    auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(pixel)) + 0.7152 * channel(qGreen(pixel)) +
           0.0722 * channel(qBlue(pixel));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour most of the area has: the background.
QRgb commonest(const QImage& image, const QRect& area) {
    QMap<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            ++counts[image.pixel(x, y) | 0xff000000u];
        }
    }
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    }
    return best;
}

// How many pixels of the area stand out from the background by 3:1 or more.
int pixelsAtThreeToOne(const QImage& image, const QRect& area, QRgb background) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += contrast(image.pixel(x, y) | 0xff000000u, background) >= 3.0 ? 1 : 0;
        }
    }
    return count;
}

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x2d, 0x2d, 0x30), base(0x1e, 0x1e, 0x20), text(0xe8, 0xe8, 0xea);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xe4));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

// Preferences under a dark palette, screenshot: each toolbar icon and its
// label stand out from the toolbar at 3:1 or more, measured on the pixels.
// So does the window under the light palette it started with.
TEST(PreferencesTheme, ToolbarIconsReadOnDarkAndLightPalettes) {
    const QPalette original = QApplication::palette();
    QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    QStyle* previousStyle = QApplication::style();
    const QString previousStyleName = previousStyle ? previousStyle->name() : QString();
    QApplication::setStyle(fusion);
    for (const bool dark : {true, false}) {
        QApplication::setPalette(dark ? darkPalette() : fusion->standardPalette());
        PreferencesWindow window;
        window.show();
        QApplication::processEvents();
        const QImage shot = window.grab().toImage();
        auto* toolbar = window.findChild<QToolBar*>();
        ASSERT_NE(toolbar, nullptr);
        const QList<QToolButton*> buttons = toolbar->findChildren<QToolButton*>();
        int checked = 0;
        for (QToolButton* button : buttons) {
            if (!button->isVisible() || button->defaultAction() == nullptr) {
                continue;
            }
            const QRect area(button->mapTo(&window, QPoint(0, 0)), button->size());
            const QRgb background = commonest(shot, area);
            // The icon sits above the label, centred.
            const QRect icon(area.center().x() - 16, area.top() + 2, 32, 34);
            const QRect label(area.left(), area.top() + 36, area.width(), area.height() - 36);
            EXPECT_GE(pixelsAtThreeToOne(shot, icon, background), 40)
                << (dark ? "dark" : "light") << " palette, icon of "
                << button->text().toStdString();
            EXPECT_GE(pixelsAtThreeToOne(shot, label, background), 15)
                << (dark ? "dark" : "light") << " palette, label of "
                << button->text().toStdString();
            ++checked;
        }
        EXPECT_EQ(checked, 3);
    }
    QApplication::setPalette(original);
    if (!previousStyleName.isEmpty()) {
        QApplication::setStyle(previousStyleName);
    }
}

} // namespace
