#include "app/deck/HUDView.h"

#include "app/deck/HUDHighlightView.h"
#include "app/deck/LevelView.h"
#include "app/deck/PositionView.h"
#include "app/deck/QualityView.h"
#include "app/deck/StereoView.h"
#include "app/deck/TimeView.h"
#include "app/deck/VolumeView.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

namespace {

// The panel's own size; the displays sit in two rows inside it.
constexpr int kPanelWidth = 343;
constexpr int kPanelHeight = 62;
constexpr int kMargin = 10;
constexpr int kUpperRowTop = 10;
constexpr int kLowerRowTop = 34;
constexpr int kLowerRowHeight = 20;
constexpr double kCornerRadius = 7.0;

} // namespace

HUDView::HUDView(QWidget* parent)
    : QWidget(parent), mQualityView(new QualityView(this)), mStereoView(new StereoView(this)),
      mLevelView(new LevelView(this)), mVolumeView(new VolumeView(this)),
      mTimeView(new TimeView(this)), mPositionView(new PositionView(this)),
      mUpperHighlight(new HUDHighlightView(HUDHighlightView::Placement::Upper, this)),
      mLowerHighlight(new HUDHighlightView(HUDHighlightView::Placement::Lower, this)) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    mTimeView->setAttribute(Qt::WA_OpaquePaintEvent);
    mPositionView->setAttribute(Qt::WA_OpaquePaintEvent);
    mUpperHighlight->setCornerRadius(kCornerRadius);
    mLowerHighlight->setCornerRadius(kCornerRadius);
    // The gloss lies over the displays.
    mLowerHighlight->raise();
    mUpperHighlight->raise();

    connect(mQualityView, &QualityView::qualityChanged, this, &HUDView::qualityChanged);
    connect(mVolumeView, &VolumeView::volumeChanged, this, &HUDView::volumeChanged);
    connect(mPositionView, &PositionView::timeChanged, this, &HUDView::positionChanged);
    connect(mStereoView, &StereoView::stereoChanged, this, [this] {
        mLevelView->setStereo(mStereoView->stereo());
        emit stereoChanged();
    });
    mLevelView->setStereo(mStereoView->stereo());

    resize(sizeHint());
    layoutSubviews();
}

double HUDView::time() const {
    return mTimeView->time();
}

void HUDView::setTime(double time) {
    mTimeView->setTime(time);
}

double HUDView::position() const {
    return mPositionView->time();
}

void HUDView::setPosition(double position) {
    mPositionView->setTime(position);
}

double HUDView::maxTime() const {
    return mPositionView->maxTime();
}

void HUDView::setMaxTime(double maxTime) {
    mPositionView->setMaxTime(maxTime);
}

bool HUDView::stereo() const {
    return mStereoView->stereo();
}

void HUDView::setStereo(bool stereo) {
    mStereoView->setStereo(stereo);
}

QString HUDView::quality() const {
    return mQualityView->quality();
}

void HUDView::setQuality(const QString& quality) {
    mQualityView->setQuality(quality);
}

double HUDView::volume() const {
    return mVolumeView->volume();
}

void HUDView::setVolume(double volume) {
    mVolumeView->setVolume(volume);
}

std::array<double, 2> HUDView::levels() const {
    return mLevelView->levels();
}

void HUDView::setLevels(double left, double right) {
    mLevelView->setLevels(left, right);
}

void HUDView::setRecordingMode(bool recording) {
    mRecordingMode = recording;
    mQualityView->setRecordingMode(recording);
    mStereoView->setRecordingMode(recording);
    mPositionView->setRecordingMode(recording);
}

void HUDView::setStereoCapabilityQuery(std::function<bool()> query) {
    mStereoView->setStereoCapabilityQuery(std::move(query));
}

void HUDView::setAlertPresenter(
    std::function<void(const QString& message, const QString& informativeText)> presenter) {
    mStereoView->setAlertPresenter(std::move(presenter));
}

QSize HUDView::sizeHint() const {
    return {kPanelWidth, kPanelHeight};
}

QColor HUDView::backgroundColor() {
    return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 1.0f);
}

QColor HUDView::inactiveColor() {
    return QColor::fromRgbF(0.0f, 180.0f / 255.0f, 1.0f, 0.3f);
}

QColor HUDView::activeColor() {
    return QColor::fromRgbF(0.0f, 180.0f / 255.0f, 1.0f, 1.0f);
}

QColor HUDView::inactiveRecordColor() {
    return QColor::fromRgbF(0.251f, 0.0f, 0.0f, 1.0f);
}

QColor HUDView::activeRecordColor() {
    return QColor::fromRgbF(1.0f, 0.0f, 0.0f, 1.0f);
}

void HUDView::mousePressEvent(QMouseEvent* event) {
    // The panel is part of the deck's face: a press on it never starts a
    // window move.
    event->accept();
}

void HUDView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void HUDView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void HUDView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutSubviews();
}

QRectF HUDView::panelRect() const {
    const double left = std::max(0, (width() - kPanelWidth) / 2);
    const double top = std::max(0, (height() - kPanelHeight) / 2);
    return QRectF(left, top, kPanelWidth, kPanelHeight);
}

void HUDView::layoutSubviews() {
    const QPoint origin = panelRect().topLeft().toPoint();
    auto place = [&origin](QWidget* view, int x, int y, QSize size) {
        view->setGeometry(QRect(origin + QPoint(x, y), size));
    };
    // Upper row: quality at the left, levels at the right, stereo between.
    const int levelX = kPanelWidth - kMargin - LevelView::frameSize().width();
    const int qualityEnd = kMargin + QualityView::frameSize().width();
    const int stereoX = qualityEnd + (levelX - qualityEnd - StereoView::frameSize().width()) / 2;
    place(mQualityView, kMargin, kUpperRowTop, QualityView::frameSize());
    place(mStereoView, stereoX, kUpperRowTop, StereoView::frameSize());
    place(mLevelView, levelX, kUpperRowTop, LevelView::frameSize());
    // Lower row: time, position bar, volume; all centred on the row's middle.
    auto centred = [](QSize size) { return kLowerRowTop + (kLowerRowHeight - size.height()) / 2; };
    const int timeX = kMargin - 4;
    const int volumeX = kPanelWidth - kMargin - VolumeView::frameSize().width();
    const int timeEnd = timeX + TimeView::frameSize().width();
    const int positionX = timeEnd + (volumeX - timeEnd - PositionView::frameSize().width()) / 2;
    place(mTimeView, timeX, centred(TimeView::frameSize()), TimeView::frameSize());
    place(mPositionView, positionX, centred(PositionView::frameSize()), PositionView::frameSize());
    place(mVolumeView, volumeX, centred(VolumeView::frameSize()), VolumeView::frameSize());

    const QRect panel = panelRect().toRect();
    mUpperHighlight->setGeometry(panel);
    mLowerHighlight->setGeometry(panel);
    // The time and the position paint their own gloss.
    QRegion glossed(QRect(QPoint(0, 0), panel.size()));
    glossed -= mTimeView->geometry().translated(-panel.topLeft());
    glossed -= mPositionView->geometry().translated(-panel.topLeft());
    mUpperHighlight->setMask(glossed);
    mLowerHighlight->setMask(glossed);
}

HUDView* HUDView::panelPaintedBy(const QWidget& display) {
    auto* hud = qobject_cast<HUDView*>(display.parentWidget());
    const bool own = hud && (&display == hud->mTimeView || &display == hud->mPositionView);
    return own ? hud : nullptr;
}

void HUDView::paintGlassBehind(const QWidget& display, QPainter& painter) {
    if (HUDView* hud = panelPaintedBy(display)) {
        // Placed as the panel places it, so each pixel is the panel's own.
        painter.drawPixmap(QPointF(-display.pos()), hud->glass());
    }
}

void HUDView::paintGlossOver(const QWidget& display, QPainter& painter) {
    if (HUDView* hud = panelPaintedBy(display)) {
        for (HUDHighlightView* highlight : {hud->mLowerHighlight, hud->mUpperHighlight}) {
            painter.drawPixmap(QPointF(highlight->pos() - display.pos()), highlight->gloss());
        }
    }
}

// The displays repaint many times a second over the glass: the glass is
// drawn once and then only copied.
const QPixmap& HUDView::glass() {
    const qreal ratio = devicePixelRatioF();
    if (mGlassCache.isNull() || mGlassCache.size() != size() * ratio ||
        mGlassCache.devicePixelRatio() != ratio) {
        mGlassCache = QPixmap(size() * ratio);
        mGlassCache.setDevicePixelRatio(ratio);
        mGlassCache.fill(Qt::transparent);
        QPainter cachePainter(&mGlassCache);
        paintGlass(cachePainter);
    }
    return mGlassCache;
}

void HUDView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawPixmap(QPointF(0, 0), glass());
}

void HUDView::paintGlass(QPainter& painter) const {
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF panel = panelRect();

    // The bezel: a thin dark rim with a light lower lip, as if the glass
    // were set into the deck's face.
    QPainterPath outer;
    outer.addRoundedRect(panel.adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius, kCornerRadius);
    QLinearGradient rim(0, panel.top(), 0, panel.bottom());
    rim.setColorAt(0.0, QColor(10, 10, 12));
    rim.setColorAt(1.0, QColor(90, 92, 98));
    painter.fillPath(outer, rim);

    // The glass.
    QPainterPath glass;
    const QRectF glassRect = panel.adjusted(1.0, 1.0, -1.0, -1.5);
    glass.addRoundedRect(glassRect, kCornerRadius - 1.0, kCornerRadius - 1.0);
    painter.fillPath(glass, backgroundColor());
    // A little depth: the glass a touch bluer at the bottom, and shaded
    // under its upper rim.
    QLinearGradient depth(0, glassRect.top(), 0, glassRect.bottom());
    depth.setColorAt(0.0, QColor(0, 0, 0, 0));
    depth.setColorAt(1.0, QColor(0, 24, 40, 60));
    painter.fillPath(glass, depth);
    QLinearGradient shade(0, glassRect.top(), 0, glassRect.top() + 6.0);
    shade.setColorAt(0.0, QColor(0, 0, 0, 200));
    shade.setColorAt(1.0, QColor(0, 0, 0, 0));
    painter.fillPath(glass, shade);
}
