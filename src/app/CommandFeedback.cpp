#include "app/CommandFeedback.h"

#include "app/MainWindow.h"
#include "app/ShellPrompts.h"

#include <QStatusBar>

CommandFeedback CommandFeedback::of(MainWindow* window)
{
    CommandFeedback feedback;
    feedback.showLoading = [window](const QString& text) { window->showLoading(text); };
    feedback.hideLoading = [window] { window->hideLoading(); };
    feedback.warn = [window](const QString& title, const QString& text) {
        window->prompts().warning(window, title, text);
    };
    feedback.showStatus = [window](const QString& text, int timeoutMs) {
        window->statusBar()->showMessage(text, timeoutMs);
    };
    return feedback;
}
