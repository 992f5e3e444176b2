#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The desktop's workspace, mail and music library, as the tape operations
// use them. Each reports failure by its result and never throws.
namespace DesktopServices {

// Moves a file to the freedesktop trash.
bool moveToTrash(const QString& path);
// Shows the file selected in the file manager (over D-Bus), else opens its folder.
bool revealInFileManager(const QString& path);

// The mail command for a message with one attachment: program and arguments.
QStringList mailCommand(const QString& subject, const QString& body, const QString& attachment);
// Runs the mail command and tells `finished` (on this thread, later) whether
// a message could be opened: an empty text when it could, else why not (no
// mail program, none set up). A mail program that is still open after a few
// seconds has shown its message.
void composeMail(const QString& subject, const QString& body, const QString& attachment,
                 std::function<void(const QString& failure)> finished);

// The music library: the user's music folder, with the playlist "<name>.m3u".
QString musicFolder();
// Copies the file into the music folder (unless it is there) and lists it in
// the playlist (made on first use) unless the playlist has it already.
// Returns the track's path in the library, or an empty string on failure.
QString addToMusicLibrary(const QString& path, const QString& playlistName,
                          const QString& folder = musicFolder());

} // namespace DesktopServices
