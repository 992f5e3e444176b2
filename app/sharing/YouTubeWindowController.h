#pragma once

#include "app/sharing/YouTubeService.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <memory>

class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;
class Reachability;
class Tape;
class TapeMovie;

// The upload window: sign in or out, the video's title, description,
// keywords, category and privacy, then the tape's movie is made and
// uploaded with progress, and the end is reported. Three pages: settings,
// progress, complete.
//
// The authorization lives only in the Secret Service, under
// "Cassora: YouTube". Without an OAuth client of the user's own (the
// "YouTubeClientID" and "YouTubeClientSecret" settings) the window says so.
//
// Nothing here blocks: the movie renders on its own thread and the network
// answers through the event loop.
class YouTubeWindowController : public QObject {
    Q_OBJECT

public:
    static YouTubeWindowController* sharedInstance();
    explicit YouTubeWindowController(const YouTubeEndpoints& endpoints, QObject* parent = nullptr);
    ~YouTubeWindowController() override;

    static const QString KeychainItemName;
    static const QString SkipUploadDefault; // "VELKCassoraSkipVideoUpload"

    std::shared_ptr<Tape> tape() const { return mTape; }
    void setTape(const std::shared_ptr<Tape>& tape);

    QDialog* window() const { return mWindow; }
    YouTubeService* youTubeService() const { return mService; }
    QString signedInUserName() const;
    bool isSignedIn() const { return mService->isSignedIn(); }
    bool canUpload() const;

    // The settings page, in an application-modal window that does not block.
    void showWindow();
    void closeWindow();

    void signInOrOut();
    void performUpload();
    // Goes on with an upload that stopped, where the service has it.
    void retryUpload();
    void cancelUpload();
    // Stops a movie being made and an upload (the application is quitting):
    // the movie's thread ends and its temporary file is removed.
    void shutDown();
    void dismissPanel();
    void visitMyVideos();
    void needAnAccount();
    void fetchStandardCategories();
    void uploadVideoAtURL(const QString& path);
    void refreshControls();

    enum class Page { Settings, Progress, Complete };
    Page currentPage() const { return mPage; }
    void switchToView(Page page);
    // The window's new frame for a page of `content` size: the top edge and
    // the horizontal centre stay.
    static QRect frameForContent(const QRect& frame, const QSize& oldContent, const QSize& content);

    // The window's parts, for tests.
    QLineEdit* titleField() const { return mTitleField; }
    QPlainTextEdit* descriptionTextView() const { return mDescriptionTextView; }
    QLineEdit* keywordsTokenField() const { return mKeywordsTokenField; }
    QComboBox* categoryPopUp() const { return mCategoryPopUp; }
    QCheckBox* privateCheckbox() const { return mPrivateCheckbox; }
    QPushButton* uploadButton() const { return mUploadButton; }
    QPushButton* loginButton() const { return mLoginButton; }
    QLabel* uploadProgressTextField() const { return mUploadProgressTextField; }
    QProgressBar* uploadProgressIndicator() const { return mUploadProgressIndicator; }
    QPushButton* retryButton() const { return mRetryButton; }
    // The movie being made, if any (for tests).
    TapeMovie* movie() const { return mMovie.get(); }
    QLabel* accountLabel() const { return mAccountLabel; }
    // Where alerts go (tests answer them at once).
    void setAlertPresenter(std::function<void(const QString&, const QString&)> presenter) {
        mAlertPresenter = std::move(presenter);
    }

    // The description for a tape's notes: the notes, a blank line and the credit line.
    static QString descriptionForNotes(const QString& notes);
    static QStringList keywordsFromText(const QString& text);

private:
    void buildWindow();
    void loadStoredAuthorization();
    void storeAuthorization();
    void stopMovie();
    void uploadStopped(const QString& error, bool resumable);
    void showAlert(const QString& message, const QString& informative,
                   std::function<void()> dismissed = {});

    YouTubeService* mService = nullptr;
    Reachability* mReachability = nullptr;
    std::shared_ptr<Tape> mTape;
    std::unique_ptr<TapeMovie> mMovie;
    QPointer<YouTubeUploadTicket> mVideoUploadTicket;
    std::function<void(const QString&, const QString&)> mAlertPresenter;
    Page mPage = Page::Settings;
    bool mLoadedAuthorization = false;

    QDialog* mWindow = nullptr;
    QWidget* mUploadSettingsView = nullptr;
    QWidget* mUploadProgressView = nullptr;
    QWidget* mUploadCompleteView = nullptr;
    QLineEdit* mTitleField = nullptr;
    QPlainTextEdit* mDescriptionTextView = nullptr;
    QLineEdit* mKeywordsTokenField = nullptr;
    QComboBox* mCategoryPopUp = nullptr;
    QCheckBox* mPrivateCheckbox = nullptr;
    QPushButton* mUploadButton = nullptr;
    QPushButton* mLoginButton = nullptr;
    QLabel* mAccountLabel = nullptr;
    QLabel* mUploadProgressTextField = nullptr;
    QProgressBar* mUploadProgressIndicator = nullptr;
    QPushButton* mRetryButton = nullptr;
};
