#pragma once
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

// Answers the next modal dialog of type D from inside its own event loop:
// `act` is called on it once it shows (polled, so a slow machine only makes
// it later). A dialog that never shows fails the test after half a minute.
template <class D>
void WhenModal(std::function<void(D*)> act)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act, poll, deadline] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget())) {
            act(d);
            *poll = nullptr;  // breaks the cycle
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the dialog never showed";
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(10, [poll] {
            if (*poll)
                (*poll)();
        });
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}
