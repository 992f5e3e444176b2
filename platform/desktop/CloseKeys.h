#pragma once

class QObject;

// Escape and the desktop's Close key (Ctrl+W) close a secondary window
// (preferences, about, upload), as people expect of such windows. `window`
// is a top-level QWidget or QWindow; the keys work while it is active.
namespace CloseKeys {

void install(QObject* window);

} // namespace CloseKeys
