#include "app/sharing/YouTubeWindowController.h"

#include "app/library/Tape.h"
#include "app/sharing/Reachability.h"
#include "app/sharing/TapeMovie.h"
#include "platform/desktop/CloseKeys.h"
#include "platform/desktop/UserDefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <qt6keychain/keychain.h>

#include <cstdio>

namespace {

const QString kProductWebSite = QStringLiteral("https://cassora.org");
const QString kKeychainKey = QStringLiteral("authorization");

void logLine(const QString& message) {
    std::fprintf(stderr, "(ERROR) YouTubeWindowController : %s\n", message.toLocal8Bit().constData());
}

} // namespace

const QString YouTubeWindowController::KeychainItemName = QStringLiteral("Cassora: YouTube");
const QString YouTubeWindowController::SkipUploadDefault = QStringLiteral("VELKCassoraSkipVideoUpload");

YouTubeWindowController* YouTubeWindowController::sharedInstance() {
    // Created once, on first use, and kept for the process's life.
    static YouTubeWindowController* instance = [] {
        auto* controller = new YouTubeWindowController(YouTubeEndpoints::fromDefaults());
        // Nothing of a movie or an upload outlives the application.
        if (QCoreApplication::instance()) {
            connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, controller,
                    &YouTubeWindowController::shutDown);
        }
        return controller;
    }();
    return instance;
}

YouTubeWindowController::YouTubeWindowController(const YouTubeEndpoints& endpoints, QObject* parent)
    : QObject(parent) {
    UserDefaults::standard().registerDefaults({{SkipUploadDefault, false}});
    mService = new YouTubeService(endpoints, this);
    buildWindow();
    connect(mService, &YouTubeService::authorizationChanged, this, [this] {
        storeAuthorization();
        refreshControls();
    });
    mReachability = Reachability::reachabilityWithHostName(endpoints.api.host(),
                                                           endpoints.api.port(443), this);
    if (mReachability) {
        connect(mReachability, &Reachability::reachabilityChanged, this,
                [this](Reachability* reachability) {
                    if (reachability->currentReachabilityStatus() != Reachability::NotReachable) {
                        fetchStandardCategories();
                    }
                });
    }
}

YouTubeWindowController::~YouTubeWindowController() {
    shutDown();
    delete mWindow;
}

// --- The window ---------------------------------------------------------------

void YouTubeWindowController::buildWindow() {
    mWindow = new QDialog;
    mWindow->setWindowTitle(tr("Send to YouTube"));
    CloseKeys::install(mWindow);
    mWindow->setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(mWindow);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    mUploadSettingsView = new QWidget;
    auto* form = new QFormLayout(mUploadSettingsView);
    auto* account = new QHBoxLayout;
    mAccountLabel = new QLabel;
    mLoginButton = new QPushButton;
    account->addWidget(mAccountLabel, 1);
    account->addWidget(mLoginButton);
    auto* signUp = new QPushButton(tr("Need an Account?"));
    signUp->setFlat(true);
    account->addWidget(signUp);
    form->addRow(account);
    mTitleField = new QLineEdit;
    form->addRow(tr("Title:"), mTitleField);
    mDescriptionTextView = new QPlainTextEdit;
    mDescriptionTextView->setFixedHeight(90);
    QFont small = mDescriptionTextView->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    mDescriptionTextView->setFont(small);
    form->addRow(tr("Description:"), mDescriptionTextView);
    mKeywordsTokenField = new QLineEdit;
    mKeywordsTokenField->setPlaceholderText(tr("Separated by commas or spaces"));
    form->addRow(tr("Keywords:"), mKeywordsTokenField);
    mCategoryPopUp = new QComboBox;
    form->addRow(tr("Category:"), mCategoryPopUp);
    mPrivateCheckbox = new QCheckBox(tr("Make this video private"));
    form->addRow(QString(), mPrivateCheckbox);
    auto* buttons = new QHBoxLayout;
    auto* close = new QPushButton(tr("Cancel"));
    mUploadButton = new QPushButton(tr("Upload"));
    mUploadButton->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(close);
    buttons->addWidget(mUploadButton);
    form->addRow(buttons);
    mUploadSettingsView->setFixedWidth(460);

    mUploadProgressView = new QWidget;
    auto* progress = new QVBoxLayout(mUploadProgressView);
    mUploadProgressTextField = new QLabel;
    mUploadProgressIndicator = new QProgressBar;
    mUploadProgressIndicator->setTextVisible(false);
    auto* cancel = new QPushButton(tr("Cancel"));
    mRetryButton = new QPushButton(tr("Retry"));
    mRetryButton->hide();
    progress->addWidget(mUploadProgressTextField);
    progress->addWidget(mUploadProgressIndicator);
    auto* progressButtons = new QHBoxLayout;
    progressButtons->addStretch();
    progressButtons->addWidget(cancel);
    progressButtons->addWidget(mRetryButton);
    progress->addLayout(progressButtons);
    mUploadProgressTextField->setWordWrap(true);
    mUploadProgressView->setFixedWidth(400);

    mUploadCompleteView = new QWidget;
    auto* complete = new QVBoxLayout(mUploadCompleteView);
    complete->addWidget(new QLabel(tr("Your tape is on YouTube. It may take a few minutes before "
                                      "the video can be watched.")));
    auto* completeButtons = new QHBoxLayout;
    auto* visit = new QPushButton(tr("View My Videos"));
    auto* done = new QPushButton(tr("Done"));
    completeButtons->addStretch();
    completeButtons->addWidget(visit);
    completeButtons->addWidget(done);
    complete->addLayout(completeButtons);
    mUploadCompleteView->setFixedWidth(400);

    for (QWidget* page : {mUploadSettingsView, mUploadProgressView, mUploadCompleteView}) {
        layout->addWidget(page);
        page->hide();
    }
    connect(mLoginButton, &QPushButton::clicked, this, &YouTubeWindowController::signInOrOut);
    connect(signUp, &QPushButton::clicked, this, &YouTubeWindowController::needAnAccount);
    connect(mUploadButton, &QPushButton::clicked, this, &YouTubeWindowController::performUpload);
    connect(close, &QPushButton::clicked, this, &YouTubeWindowController::dismissPanel);
    connect(cancel, &QPushButton::clicked, this, &YouTubeWindowController::cancelUpload);
    connect(mRetryButton, &QPushButton::clicked, this, &YouTubeWindowController::retryUpload);
    connect(visit, &QPushButton::clicked, this, &YouTubeWindowController::visitMyVideos);
    connect(done, &QPushButton::clicked, this, &YouTubeWindowController::dismissPanel);
    connect(mWindow, &QDialog::rejected, this, &YouTubeWindowController::cancelUpload);
}

QRect YouTubeWindowController::frameForContent(const QRect& frame, const QSize& oldContent,
                                               const QSize& content) {
    const int growWidth = content.width() - oldContent.width();
    const int growHeight = content.height() - oldContent.height();
    // Screen y grows downwards: keeping the top edge moves the bottom down.
    return QRect(frame.x() - growWidth / 2, frame.y(), frame.width() + growWidth,
                 frame.height() + growHeight);
}

void YouTubeWindowController::switchToView(Page page) {
    mPage = page;
    QWidget* shown = page == Page::Settings   ? mUploadSettingsView
                     : page == Page::Progress ? mUploadProgressView
                                              : mUploadCompleteView;
    const QRect before = mWindow->geometry();
    const QSize oldContent = mWindow->size();
    for (QWidget* view : {mUploadSettingsView, mUploadProgressView, mUploadCompleteView}) {
        view->setVisible(view == shown);
    }
    mWindow->adjustSize();
    if (mWindow->isVisible()) {
        mWindow->setGeometry(frameForContent(before, oldContent, mWindow->size()));
    }
}

void YouTubeWindowController::showWindow() {
    if (!mLoadedAuthorization) {
        mLoadedAuthorization = true;
        loadStoredAuthorization();
        if (mReachability) {
            mReachability->startNotifier();
        }
    }
    switchToView(Page::Settings);
    refreshControls();
    mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
}

void YouTubeWindowController::closeWindow() {
    mWindow->hide();
}

void YouTubeWindowController::setTape(const std::shared_ptr<Tape>& tape) {
    mTape = tape;
    refreshControls();
}

QString YouTubeWindowController::signedInUserName() const {
    return isSignedIn() ? mService->authorization().userName : QString();
}

QString YouTubeWindowController::descriptionForNotes(const QString& notes) {
    QString description;
    if (!notes.isEmpty()) {
        description = notes + QStringLiteral("\n\n");
    }
    return description + tr("Created with Cassora") + QStringLiteral(" (%1)").arg(kProductWebSite);
}

QStringList YouTubeWindowController::keywordsFromText(const QString& text) {
    return text.split(QRegularExpression(QStringLiteral("[, ]+")), Qt::SkipEmptyParts);
}

void YouTubeWindowController::refreshControls() {
    const bool signedIn = isSignedIn();
    mLoginButton->setText(signedIn ? tr("Sign Out") : tr("Sign In"));
    mUploadButton->setEnabled(signedIn);
    if (!mService->endpoints().hasClient()) {
        mAccountLabel->setText(tr("To upload, add your own OAuth client ID and secret to the "
                                  "settings (see the README). Save Movie… in the share menu "
                                  "makes the movie without an account."));
        mAccountLabel->setWordWrap(true);
        mLoginButton->setEnabled(false);
    } else {
        mAccountLabel->setText(signedIn ? tr("Signed in as %1").arg(signedInUserName())
                                        : tr("Not signed in"));
        mLoginButton->setEnabled(true);
    }
    mTitleField->setText(mTape ? mTape->title() : QString());
    mKeywordsTokenField->setText(QStringLiteral("cassora"));
    mDescriptionTextView->setPlainText(descriptionForNotes(mTape ? mTape->notes() : QString()));
}

bool YouTubeWindowController::canUpload() const {
    return !mTitleField->text().trimmed().isEmpty() &&
           !mDescriptionTextView->toPlainText().trimmed().isEmpty() &&
           !keywordsFromText(mKeywordsTokenField->text()).isEmpty();
}

void YouTubeWindowController::showAlert(const QString& message, const QString& informative,
                                        std::function<void()> dismissed) {
    if (mAlertPresenter) {
        mAlertPresenter(message, informative);
        if (dismissed) {
            dismissed();
        }
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, message, message, QMessageBox::Ok, mWindow);
    box->setInformativeText(informative);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    if (dismissed) {
        connect(box, &QMessageBox::finished, this, [dismissed](int) { dismissed(); });
    }
    box->open();
}

// --- Signing in ----------------------------------------------------------------------

void YouTubeWindowController::loadStoredAuthorization() {
    auto* job = new QKeychain::ReadPasswordJob(KeychainItemName, this);
    job->setKey(kKeychainKey);
    connect(job, &QKeychain::Job::finished, this, [this, job] {
        if (job->error() == QKeychain::NoError) {
            const YouTubeAuthorization stored =
                YouTubeAuthorization::deserialized(job->binaryData());
            if (stored.canAuthorize()) {
                // Kept as it is: no write back of what was just read.
                QSignalBlocker blocker(mService);
                mService->setAuthorization(stored);
            }
        } else if (job->error() != QKeychain::EntryNotFound) {
            logLine(QStringLiteral("The stored sign-in could not be read: %1").arg(job->errorString()));
        }
        refreshControls();
        fetchStandardCategories();
    });
    job->start();
}

void YouTubeWindowController::storeAuthorization() {
    if (!mService->isSignedIn()) {
        auto* job = new QKeychain::DeletePasswordJob(KeychainItemName, this);
        job->setKey(kKeychainKey);
        job->start();
        return;
    }
    auto* job = new QKeychain::WritePasswordJob(KeychainItemName, this);
    job->setKey(kKeychainKey);
    job->setBinaryData(mService->authorization().serialized());
    connect(job, &QKeychain::Job::finished, this, [job] {
        if (job->error() != QKeychain::NoError) {
            logLine(QStringLiteral("The sign-in could not be kept: %1").arg(job->errorString()));
        }
    });
    job->start();
}

void YouTubeWindowController::signInOrOut() {
    if (isSignedIn()) {
        mService->signOut(); // removes the stored one too
        refreshControls();
        return;
    }
    mLoginButton->setEnabled(false);
    mService->signIn([this](const QString& error) {
        // A failed sign-in leaves the user signed out.
        if (!error.isEmpty()) {
            logLine(QStringLiteral("Sign-in failed: %1").arg(error));
        }
        refreshControls();
        fetchStandardCategories();
    });
}

void YouTubeWindowController::fetchStandardCategories() {
    if (!isSignedIn()) {
        return;
    }
    QPointer<YouTubeWindowController> self = this;
    mService->fetchCategories(QLocale().territoryToCode(QLocale().territory()),
                              [self](const QList<YouTubeCategory>& categories, const QString& error) {
                                  if (!self) {
                                      return;
                                  }
                                  if (!error.isEmpty()) {
                                      logLine(QStringLiteral("Fetch failed with error %1").arg(error));
                                      return;
                                  }
                                  if (categories.isEmpty()) {
                                      logLine(QStringLiteral("category fetch could not find nodes"));
                                      return;
                                  }
                                  // A fetch again (the network came back) keeps the choice.
                                  QComboBox* popUp = self->mCategoryPopUp;
                                  const QVariant chosen = popUp->currentData();
                                  popUp->clear();
                                  for (const YouTubeCategory& category : categories) {
                                      popUp->addItem(category.label, category.term);
                                  }
                                  popUp->setCurrentIndex(std::max(0, popUp->findData(chosen)));
                              });
}

// --- Uploading ----------------------------------------------------------------------

void YouTubeWindowController::performUpload() {
    if (!canUpload()) {
        showAlert(tr("Fields Missing"), tr("All fields must be filled out to upload your video."));
        return;
    }
    if (!mTape) {
        return;
    }
    stopMovie();
    if (mVideoUploadTicket) {
        mVideoUploadTicket->cancelTicket();
        mVideoUploadTicket = nullptr;
    }
    mRetryButton->hide();
    mMovie = std::make_unique<TapeMovie>(mTape);
    QPointer<YouTubeWindowController> self = this;
    TapeMovie* movie = mMovie.get();
    movie->setProgressUpdateBlock([self](double progress) {
        QMetaObject::invokeMethod(self, [self, progress] {
            if (self && self->mPage == Page::Progress && !self->mVideoUploadTicket) {
                self->mUploadProgressIndicator->setValue(static_cast<int>(progress * 1000));
            }
        });
        return true;
    });
    mUploadProgressTextField->setText(tr("Creating video from tape…"));
    switchToView(Page::Progress);
    mUploadProgressIndicator->setRange(0, 1000);
    mUploadProgressIndicator->setValue(0);
    movie->performMovieExport([self, movie](const std::optional<TapeMovieError>& error) {
        QMetaObject::invokeMethod(self, [self, movie, error] {
            if (!self || self->mMovie.get() != movie) {
                return;
            }
            if (error) {
                logLine(QStringLiteral("Movie export completed with Error: %1").arg(error->description));
                if (!error->isCancellation()) {
                    // Said on the page too, not only in the log.
                    self->mUploadProgressTextField->setText(
                        tr("The video could not be made: %1").arg(error->description));
                }
                self->mMovie.reset();
                return;
            }
            if (!UserDefaults::standard().value(SkipUploadDefault).toBool()) {
                self->uploadVideoAtURL(movie->filename());
                movie->disposeMovieFile();
            } else {
                QDesktopServices::openUrl(QUrl::fromLocalFile(movie->filename()));
            }
            self->mMovie.reset();
        });
    });
}

void YouTubeWindowController::uploadVideoAtURL(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showAlert(tr("The video could not be read"), file.errorString(),
                  [this] { switchToView(Page::Settings); });
        return;
    }
    const QByteArray data = file.readAll();
    YouTubeVideo video;
    video.title = mTitleField->text();
    video.description = mDescriptionTextView->toPlainText();
    video.keywords = keywordsFromText(mKeywordsTokenField->text());
    video.category = mCategoryPopUp->currentData().toString();
    video.isPrivate = mPrivateCheckbox->isChecked();
    QString mime = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
    if (mime.isEmpty() || mime == QLatin1String("application/octet-stream")) {
        mime = QStringLiteral("video/mp4");
    }
    YouTubeUploadTicket* ticket = mService->uploadVideo(video, data, mime);
    mVideoUploadTicket = ticket;
    connect(ticket, &YouTubeUploadTicket::progress, this, [this, ticket](qint64 sent, qint64 total) {
        if (ticket != mVideoUploadTicket) {
            return;
        }
        mUploadProgressTextField->setText(tr("Uploading to YouTube…"));
        // The bar counts kilobytes, so that films over 2 GB still fit.
        mUploadProgressIndicator->setRange(0, static_cast<int>(std::max<qint64>(1, total / 1024)));
        mUploadProgressIndicator->setValue(static_cast<int>(sent / 1024));
    });
    connect(ticket, &YouTubeUploadTicket::finished, this,
            [this, ticket](const QString& error, const QString&) {
                if (ticket != mVideoUploadTicket) {
                    return; // cancelled or replaced
                }
                if (!error.isEmpty()) {
                    uploadStopped(error, ticket->canResume());
                    return;
                }
                mVideoUploadTicket = nullptr;
                mUploadProgressIndicator->setValue(0);
                switchToView(Page::Complete);
            });
}

void YouTubeWindowController::uploadStopped(const QString& error, bool resumable) {
    if (!resumable) {
        mVideoUploadTicket = nullptr;
        showAlert(tr("The video could not be uploaded"), error,
                  [this] { switchToView(Page::Settings); });
        return;
    }
    // The service keeps what it has: Retry goes on from there.
    showAlert(tr("The upload stopped"), error, [this, error] {
        mUploadProgressTextField->setText(tr("The upload stopped: %1").arg(error));
        mRetryButton->show();
    });
}

void YouTubeWindowController::retryUpload() {
    if (!mVideoUploadTicket || !mService->resumeUpload(mVideoUploadTicket)) {
        mRetryButton->hide();
        return;
    }
    mRetryButton->hide();
    mUploadProgressTextField->setText(tr("Uploading to YouTube…"));
}

void YouTubeWindowController::stopMovie() {
    if (!mMovie) {
        return;
    }
    mMovie->cancel();
    mMovie->waitUntilFinished();
    // A movie that was finished but not yet uploaded is not wanted either.
    mMovie->disposeMovieFile();
    mMovie.reset();
}

void YouTubeWindowController::shutDown() {
    if (mVideoUploadTicket) {
        mVideoUploadTicket->cancelTicket();
        mVideoUploadTicket = nullptr;
    }
    stopMovie();
}

void YouTubeWindowController::cancelUpload() {
    shutDown();
    mRetryButton->hide();
    closeWindow();
}

void YouTubeWindowController::dismissPanel() {
    closeWindow();
}

void YouTubeWindowController::visitMyVideos() {
    QUrl url = mService->endpoints().web;
    url.setPath(QStringLiteral("/my_videos"));
    QDesktopServices::openUrl(url);
    closeWindow();
}

void YouTubeWindowController::needAnAccount() {
    QUrl url = mService->endpoints().web;
    url.setPath(QStringLiteral("/signup"));
    QDesktopServices::openUrl(url);
}
