#pragma once

#include <QColor>
#include <QRectF>
#include <QSize>
#include <QWidget>

#include <array>

// The input level meters: six segments either side of the "L" and "R"
// labels, lit outwards from the centre. A mono recording shows the left
// level on both meters.
class LevelView : public QWidget {
    Q_OBJECT

public:
    static constexpr int SegmentCount = 6;
    enum Side { Left = 0, Right = 1 };

    explicit LevelView(QWidget* parent = nullptr);

    static QSize frameSize() { return {98, 16}; }

    // Left then right, in dB; -inf and -100 are silence.
    std::array<double, 2> levels() const { return mLevels; }
    void setLevels(double left, double right);
    bool stereo() const { return mStereo; }
    void setStereo(bool stereo);

    // Segments lit for a level in dB: six steps of 10 dB from -60 to 0, the
    // nearest step (ties to even), none at -60 and below, all at 0 and above.
    static int litSegmentsForLevel(double level);
    // Segments lit on each meter as shown now.
    int litSegments(Side side) const { return mLit[side]; }
    int leftLitSegments() const { return mLit[Left]; }
    int rightLitSegments() const { return mLit[Right]; }
    // The colour of segment `index` (0 next to the labels) of a meter.
    QColor segmentColor(Side side, int index) const;
    // "L" and "R" are lit in stereo and dark in mono.
    QColor labelColor() const;

    // Where segment `index` of a meter lies, counted from the centre out.
    static QRectF segmentRect(Side side, int index);

    // Recomputes both meters from the levels and the stereo switch.
    void refreshLevels();

    QSize sizeHint() const override { return frameSize(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<double, 2> mLevels{-100.0, -100.0};
    std::array<int, 2> mLit{0, 0};
    bool mPaintedStereo = true;
    bool mStereo = true;
};
