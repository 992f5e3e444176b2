#include "platform/desktop/CloseKeys.h"

#include <QKeySequence>
#include <QShortcut>

namespace CloseKeys {

void install(QObject* window) {
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close)}) {
        auto* shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window,
                         [window] { QMetaObject::invokeMethod(window, "close"); });
    }
}

} // namespace CloseKeys
