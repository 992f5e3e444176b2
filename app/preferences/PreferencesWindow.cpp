#include "app/preferences/PreferencesWindow.h"

#include "platform/desktop/CloseKeys.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

// Every page has this width, so only the window's height changes between tabs.
constexpr int kPageWidth = 520;

enum class Glyph { General, HotKeys, Audio };

// Our own toolbar pictures, for desktops whose icon theme lacks the names,
// drawn in the toolbar's text colour so they read on light and dark palettes.
QIcon drawnIcon(Glyph glyph, const QColor& ink) {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ink, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (glyph) {
    case Glyph::General: { // a toggle switch above a slider
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(8, 10, 48, 20), 10, 10);
        painter.setBrush(ink);
        painter.drawEllipse(QPointF(46, 20), 6, 6);
        painter.drawLine(QPointF(8, 46), QPointF(56, 46));
        painter.drawEllipse(QPointF(24, 46), 6, 6);
        break;
    }
    case Glyph::HotKeys: { // a keyboard
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(4, 16, 56, 34), 5, 5);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        for (int row = 0; row < 2; ++row) {
            for (int column = 0; column < 6; ++column) {
                painter.drawRect(QRectF(10 + column * 8, 22 + row * 8, 5, 5));
            }
        }
        painter.drawRect(QRectF(18, 39, 28, 5));
        break;
    }
    case Glyph::Audio: { // a speaker with sound waves
        QPainterPath speaker;
        speaker.moveTo(8, 24);
        speaker.lineTo(18, 24);
        speaker.lineTo(32, 12);
        speaker.lineTo(32, 52);
        speaker.lineTo(18, 40);
        speaker.lineTo(8, 40);
        speaker.closeSubpath();
        painter.setBrush(ink);
        painter.drawPath(speaker);
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(30, 20, 16, 24), -50 * 16, 100 * 16);
        painter.drawArc(QRectF(30, 10, 28, 44), -50 * 16, 100 * 16);
        break;
    }
    }
    return QIcon(pixmap);
}

QIcon toolbarIcon(const char* themeName, Glyph glyph, const QColor& ink) {
    return QIcon::fromTheme(QLatin1String(themeName), drawnIcon(glyph, ink));
}

QWidget* page() {
    auto* view = new QWidget;
    view->setFixedWidth(kPageWidth);
    return view;
}

} // namespace

PreferencesWindow::PreferencesWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(tr("Preferences"));
    CloseKeys::install(this);
    mToolbar = addToolBar(tr("Preferences"));
    mToolbar->setMovable(false);
    mToolbar->setFloatable(false);
    mToolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    mToolbar->setIconSize(QSize(32, 32));
    setContextMenuPolicy(Qt::NoContextMenu); // no toolbar-hiding menu

    auto* group = new QActionGroup(this);
    group->setExclusive(true);
    mPreferencesToolbarItem = mToolbar->addAction(tr("General"));
    mHotkeysToolbarItem = mToolbar->addAction(tr("Hot Keys"));
    mAudioToolbarItem = mToolbar->addAction(tr("Audio"));
    updateToolbarIcons();
    for (QAction* item : {mPreferencesToolbarItem, mHotkeysToolbarItem, mAudioToolbarItem}) {
        item->setCheckable(true);
        group->addAction(item);
    }

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setCentralWidget(content);

    mGeneralSettingsView = buildGeneralView();
    mHotkeySettingsView = buildHotkeyView();
    mAudioSettingsView = buildAudioView();
    for (QWidget* view : {mGeneralSettingsView, mHotkeySettingsView, mAudioSettingsView}) {
        view->setParent(content);
        view->hide();
    }
}

void PreferencesWindow::updateToolbarIcons() {
    const QColor ink = mToolbar->palette().color(QPalette::ButtonText);
    mPreferencesToolbarItem->setIcon(toolbarIcon("preferences-system", Glyph::General, ink));
    mHotkeysToolbarItem->setIcon(toolbarIcon("input-keyboard", Glyph::HotKeys, ink));
    mAudioToolbarItem->setIcon(toolbarIcon("audio-card", Glyph::Audio, ink));
}

void PreferencesWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A new palette (the desktop's light or dark theme) redraws the icons.
    if (event->type() == QEvent::PaletteChange && mAudioToolbarItem) {
        updateToolbarIcons();
    }
}

QWidget* PreferencesWindow::buildGeneralView() {
    QWidget* view = page();
    auto* form = new QFormLayout(view);
    form->setContentsMargins(20, 20, 20, 20);

    auto* location = new QHBoxLayout;
    mTapeLibraryLocationPathControl = new QLineEdit;
    mTapeLibraryLocationPathControl->setReadOnly(true);
    mTapeLibraryLocationPathControl->setPlaceholderText(tr("No library folder"));
    mTapeLibraryLocationPathControl->setAccessibleName(tr("Tape library"));
    mChooseTapeLibraryLocationButton = new QPushButton(tr("Choose…"));
    location->addWidget(mTapeLibraryLocationPathControl, 1);
    location->addWidget(mChooseTapeLibraryLocationButton);
    form->addRow(tr("Tape library:"), location);

    mPlaySoundEffectsCheckbox = new QCheckBox(tr("Play sound effects"));
    mShowNSStatusItemCheckbox = new QCheckBox(tr("Show status item"));
    mAutomaticallyCheckForUpdatesCheckbox = new QCheckBox(tr("Automatically check for updates"));
    form->addRow(QString(), mPlaySoundEffectsCheckbox);
    form->addRow(QString(), mShowNSStatusItemCheckbox);
    form->addRow(QString(), mAutomaticallyCheckForUpdatesCheckbox);
    return view;
}

QWidget* PreferencesWindow::buildHotkeyView() {
    QWidget* view = page();
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(20, 20, 20, 20);
    mEnableHotKeysCheckbox = new QCheckBox(tr("Enable global hot keys"));
    layout->addWidget(mEnableHotKeysCheckbox);

    auto* grid = new QGridLayout;
    auto addRow = [&](int row, const QString& title, QLineEdit*& field, QPushButton*& button) {
        field = new QLineEdit;
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
        button = new QPushButton(tr("Change…"));
        grid->addWidget(new QLabel(title), row, 0, Qt::AlignRight);
        grid->addWidget(field, row, 1);
        grid->addWidget(button, row, 2);
    };
    addRow(0, tr("Record:"), mRecordHotKeyTextField, mRecordHotKeyChangeButton);
    addRow(1, tr("Pause:"), mPauseHotKeyTextField, mPauseHotKeyChangeButton);
    addRow(2, tr("Stop:"), mStopHotKeyTextField, mStopHotKeyChangeButton);
    layout->addLayout(grid);
    // Shown when this session cannot have global hot keys, saying why.
    mHotKeysUnavailableLabel = new QLabel;
    mHotKeysUnavailableLabel->setWordWrap(true);
    mHotKeysUnavailableLabel->hide();
    layout->addWidget(mHotKeysUnavailableLabel);
    return view;
}

QWidget* PreferencesWindow::buildAudioView() {
    QWidget* view = page();
    auto* form = new QFormLayout(view);
    form->setContentsMargins(20, 20, 20, 20);
    mRecordDevicePopUp = new QComboBox;
    mRecordDeviceChannelsLabel = new QLabel(tr("On Channels:"));
    mRecordDeviceChannelsPopUp = new QComboBox;
    mPlaybackDevicePopUp = new QComboBox;
    mMonitorRecordDeviceCheckbox = new QCheckBox(tr("Monitor the recording input"));
    for (QComboBox* popUp : {mRecordDevicePopUp, mPlaybackDevicePopUp}) {
        popUp->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        popUp->setMinimumContentsLength(24);
    }
    form->addRow(tr("Record from:"), mRecordDevicePopUp);
    form->addRow(mRecordDeviceChannelsLabel, mRecordDeviceChannelsPopUp);
    form->addRow(tr("Play to:"), mPlaybackDevicePopUp);
    form->addRow(QString(), mMonitorRecordDeviceCheckbox);
    return view;
}

void PreferencesWindow::selectAndResizeToView(QWidget* view) {
    auto* layout = static_cast<QVBoxLayout*>(centralWidget()->layout());
    if (mCurrentlyVisibleView && mCurrentlyVisibleView != view) {
        layout->removeWidget(mCurrentlyVisibleView);
        mCurrentlyVisibleView->hide();
    }
    if (mCurrentlyVisibleView != view) {
        layout->addWidget(view);
        view->show();
        mCurrentlyVisibleView = view;
    }
    layout->activate();
    // Qt keeps a window's top-left corner when it is resized, so the top
    // edge stays put and the window grows or shrinks downwards.
    const QPoint topLeft = pos();
    const QSize size(view->sizeHint().width(),
                     mToolbar->sizeHint().height() + view->sizeHint().height());
    setFixedSize(size.expandedTo(QSize(kPageWidth, 0)));
    move(topLeft);
}
