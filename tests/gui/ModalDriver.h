#pragma once

// Drives modal dialogs from inside their own event loops: a test arranges what
// to do with the next modal of a type, then runs the code that opens it.

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <functional>

inline constexpr int kModalPollMilliseconds = 10;
inline constexpr int kModalPollAttempts = 300;

// Runs `action` on the first modal of type T to become active. If none comes,
// the modal that is open instead is rejected so the test fails rather than hangs.
template <class T>
void whenModal(std::function<void(T*)> action, int attemptsLeft = kModalPollAttempts)
{
    QTimer::singleShot(kModalPollMilliseconds, [action, attemptsLeft] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* wanted = qobject_cast<T*>(modal)) {
            action(wanted);
        } else if (attemptsLeft > 0) {
            whenModal<T>(action, attemptsLeft - 1);
        } else if (auto* other = qobject_cast<QDialog*>(modal)) {
            other->reject();
        }
    });
}
