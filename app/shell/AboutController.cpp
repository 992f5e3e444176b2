#include "app/shell/AboutController.h"

#include "app/deck/AppController.h"
#include "app/shell/CommandLine.h"
#include "platform/desktop/CloseKeys.h"
#include "platform/desktop/UserDefaults.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextFrame>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>

static void initAboutResources() {
    Q_INIT_RESOURCE(shell);
}

namespace {

const QString kProductPage = QStringLiteral("ProductPageURL");
constexpr int kScrollIntervalMs = 50;
constexpr double kStartDelaySeconds = 0.25;
constexpr int kFadeHeight = 20;

void registerDefaults() {
    UserDefaults::standard().registerDefaults(
        {{kProductPage, QStringLiteral("https://cassora.org")}});
}

void logError(const char* message) {
    std::fprintf(stderr, "(ERROR) AboutController : %s\n", message);
}

} // namespace

GradientFadeView::GradientFadeView(bool solidAtTop, QWidget* parent)
    : QWidget(parent), mSolidAtTop(solidAtTop) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GradientFadeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor solid = palette().color(QPalette::Base);
    QColor clear = solid;
    clear.setAlpha(0);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, mSolidAtTop ? solid : clear);
    gradient.setColorAt(1, mSolidAtTop ? clear : solid);
    painter.fillRect(rect(), gradient);
}

AboutController::AboutController(QWidget* parent) : QWidget(parent, Qt::Window) {
    initAboutResources();
    mClock = [] { return QDateTime::currentMSecsSinceEpoch() / 1000.0; };
    setWindowTitle(tr("About Cassora"));
    CloseKeys::install(this);
    setFixedSize(400, 470);

    auto* layout = new QVBoxLayout(this);
    auto* icon = new QLabel;
    icon->setPixmap(QIcon(QStringLiteral(":/cassora/cassora.svg")).pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);
    auto* name = new QLabel(QStringLiteral("Cassora"));
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.8);
    nameFont.setBold(true);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);
    mVersionField = new QLabel(tr("version") + QLatin1Char(' ') + humanReadableVersionString());
    mVersionField->setAlignment(Qt::AlignCenter);
    mVersionField->setTextInteractionFlags(Qt::TextSelectableByMouse);

    mCreditsTextView = new QTextBrowser;
    mCreditsTextView->setAccessibleName(tr("Credits"));
    mCreditsTextView->setOpenExternalLinks(true);
    mCreditsTextView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mCreditsTextView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mCreditsTextView->setFrameShape(QFrame::NoFrame);
    QFile credits(QStringLiteral(":/cassora/Thanks.html"));
    if (credits.open(QIODevice::ReadOnly)) {
        mCreditsTextView->setHtml(QString::fromUtf8(credits.readAll()));
    }
    // Clicks and the wheel reach the controller first.
    mCreditsTextView->viewport()->installEventFilter(this);
    mTopGradientView = new GradientFadeView(true, mCreditsTextView);
    mBottomGradientView = new GradientFadeView(false, mCreditsTextView);

    auto* links = new QHBoxLayout;
    auto* site = new QPushButton(tr("Cassora Website"));
    auto* feedback = new QPushButton(tr("Send Feedback…"));
    connect(site, &QPushButton::clicked, this, &AboutController::visitCassoraPage);
    connect(feedback, &QPushButton::clicked, this, &AboutController::sendFeedback);
    links->addStretch();
    links->addWidget(site);
    links->addWidget(feedback);
    links->addStretch();

    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addWidget(mVersionField);
    layout->addWidget(mCreditsTextView, 1);
    layout->addLayout(links);

    mScrollTimer.setInterval(kScrollIntervalMs);
    connect(&mScrollTimer, &QTimer::timeout, this, &AboutController::scrollCredits);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

QIcon AboutController::applicationIcon() {
    initAboutResources();
    return QIcon(QStringLiteral(":/cassora/cassora.svg"));
}

QString AboutController::humanReadableVersionString() {
    // Our builds carry no number of their own: the version says it all.
    return humanReadableVersionString(CommandLine::version(), CommandLine::version());
}

QString AboutController::humanReadableVersionString(const QString& version, const QString& build) {
    if (build.isEmpty() || build == version) {
        return version; // "0.1.0", not "0.1.0 (0.1.0)"
    }
    return QStringLiteral("%1 (%2)").arg(version, build);
}

QString AboutController::cassoraPageURL() {
    registerDefaults();
    QString base = UserDefaults::standard().stringForKey(kProductPage);
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return base + QStringLiteral("/?from=%1").arg(QStringLiteral("aboutbox"));
}

void AboutController::layOutCredits() {
    mCreditsTextView->document()->setTextWidth(mCreditsTextView->viewport()->width());
    // The text's own height; a blank viewport's worth after it lets the last
    // line scroll out at the top.
    QTextFrameFormat format = mCreditsTextView->document()->rootFrame()->frameFormat();
    format.setBottomMargin(0);
    mCreditsTextView->document()->rootFrame()->setFrameFormat(format);
    mMaxScrollHeight = mCreditsTextView->document()->size().height();
    format.setBottomMargin(mCreditsTextView->viewport()->height());
    mCreditsTextView->document()->rootFrame()->setFrameFormat(format);
    const int width = mCreditsTextView->width();
    mTopGradientView->setGeometry(0, 0, width, kFadeHeight);
    mBottomGradientView->setGeometry(0, mCreditsTextView->height() - kFadeHeight, width,
                                     kFadeHeight);
}

void AboutController::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOutCredits();
}

void AboutController::showWindow() {
    if (!isVisible()) {
        mCurrentPosition = 0;
        mRestartAtTop = false;
        mStartTime = mClock() + kStartDelaySeconds;
        layOutCredits();
        scrollTo(0);
    }
    show();
    raise();
    activateWindow();
}

void AboutController::scrollTo(double position) {
    mCreditsTextView->verticalScrollBar()->setValue(static_cast<int>(position));
}

void AboutController::scrollCredits() {
    if (mClock() < mStartTime) {
        return;
    }
    if (mRestartAtTop) {
        // The credits rest at the top for one tick.
        mRestartAtTop = false;
        scrollTo(0);
        return;
    }
    if (mCurrentPosition >= mMaxScrollHeight) {
        mCurrentPosition = 0;
        mRestartAtTop = true;
        return;
    }
    scrollTo(mCurrentPosition);
    mCurrentPosition += 1;
}

void AboutController::startScrollTimer() {
    mScrollTimer.start();
}

void AboutController::stopScrollTimer() {
    mScrollTimer.stop();
}

void AboutController::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow()) {
            startScrollTimer();
        } else {
            stopScrollTimer();
        }
    }
}

bool AboutController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mCreditsTextView->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            stopScrollTimer();
            break;
        case QEvent::MouseButtonDblClick:
            if (isScrolling()) {
                stopScrollTimer();
            } else {
                startScrollTimer();
            }
            break;
        case QEvent::Wheel:
            stopScrollTimer();
            break;
        default:
            break;
        }
    }
    // The text view still gets the event, so text can be selected and scrolled.
    return false;
}

void AboutController::visitCassoraPage() {
    if (!QDesktopServices::openUrl(QUrl(cassoraPageURL()))) {
        logError("Couldn't open Cassora URL.");
    }
}

void AboutController::sendFeedback() {
    QDesktopServices::openUrl(QUrl(AppController::feedbackURL(), QUrl::StrictMode));
}
