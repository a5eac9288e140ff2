#pragma once

#include <QKeyEvent>

namespace orvo::ui {

/// The program's dialogs close only through their frame's close button: Escape, Return and
/// keypad Enter, which a QDialog would take as reject or accept, are swallowed.
inline bool isSwallowedDialogKey(const QKeyEvent *event)
{
    const int key = event->key();
    return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace orvo::ui
