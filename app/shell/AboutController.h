#pragma once

#include <QIcon>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QTextBrowser;

// A strip over the edge of the credits that fades them out: solid in the
// window's colour at one edge, clear at the other.
class GradientFadeView : public QWidget {
    Q_OBJECT

public:
    GradientFadeView(bool solidAtTop, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool mSolidAtTop;
};

// The about window: the version, credits that scroll by themselves like a
// film's (20 points a second, after a quarter-second rest at the top), and
// links to the product's web site and the feedback mail. A click on the
// credits stops them, a double click starts them again; they stand still
// while the window is not active.
class AboutController : public QWidget {
    Q_OBJECT

public:
    explicit AboutController(QWidget* parent = nullptr);

    // The application's icon, our cassette.
    static QIcon applicationIcon();
    // "1.2 (345)": the version and, when it has one of its own, the build.
    static QString humanReadableVersionString();
    static QString humanReadableVersionString(const QString& version, const QString& build);
    // The product's web page with "?from=aboutbox" (a setting, "ProductPageURL").
    static QString cassoraPageURL();

    // Shows the window; when it was not visible, the credits start again at
    // the top after a quarter of a second.
    void showWindow();

    // One tick of the credits' timer (every 0.05 s while it runs).
    void scrollCredits();
    void startScrollTimer();
    void stopScrollTimer();
    bool isScrolling() const { return mScrollTimer.isActive(); }

    double currentPosition() const { return mCurrentPosition; }
    double maxScrollHeight() const { return mMaxScrollHeight; }
    QLabel* versionField() const { return mVersionField; }
    QTextBrowser* creditsTextView() const { return mCreditsTextView; }
    // Seconds on the clock the credits follow; tests set their own.
    void setClock(std::function<double()> clock) { mClock = std::move(clock); }

public slots:
    void visitCassoraPage();
    void sendFeedback();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOutCredits();
    void scrollTo(double position);

    QLabel* mVersionField = nullptr;
    QTextBrowser* mCreditsTextView = nullptr;
    GradientFadeView* mTopGradientView = nullptr;
    GradientFadeView* mBottomGradientView = nullptr;
    QTimer mScrollTimer;
    double mCurrentPosition = 0;
    double mMaxScrollHeight = 0;
    double mStartTime = 0;
    bool mRestartAtTop = false;
    std::function<double()> mClock;
};
