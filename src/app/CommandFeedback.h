#pragma once
// What a command of the main window shows while and after it runs: the
// loading overlay, warning boxes and status-bar messages. Commands take it
// as functions so they can run in tests without the window's boxes.

#include <QString>

#include <functional>

class MainWindow;

struct CommandFeedback {
    std::function<void(const QString& text)> showLoading;
    std::function<void()> hideLoading;
    std::function<void(const QString& title, const QString& text)> warn;
    std::function<void(const QString& text, int timeoutMs)> showStatus;

    // The window's overlay, warning boxes through its prompts and its status bar.
    static CommandFeedback of(MainWindow* window);
};
