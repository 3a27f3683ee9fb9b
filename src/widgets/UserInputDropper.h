#pragma once
// While one of these lives, the application drops the user's input (keys,
// shortcuts, clicks, wheel, touch, drops) instead of delivering it: input
// made while long work runs under the loading overlay would otherwise act
// afterwards on material the user no longer sees. Releases still pass, so no
// widget is left holding a key or a button pressed before. A modal dialog
// opened meanwhile takes its input as usual, as nothing else could close it.
//
// Scopes nest; the filter is installed once, for the outermost. GUI thread only.

class QEvent;

class UserInputDropper {
public:
    UserInputDropper();
    ~UserInputDropper();
    UserInputDropper(const UserInputDropper&) = delete;
    UserInputDropper& operator=(const UserInputDropper&) = delete;

    // Input made while this thread was busy reaches the application only
    // when its event loop runs again: at the start of that next turn,
    // before anything else, the events waiting then are let run with the
    // input among them dropped.
    static void dropInputWaitingNow();

    // Whether `event` is input of the kind that is dropped.
    static bool isDroppedInput(const QEvent* event);

    // Whether one lives now: long work is under way, or an overlay shows.
    static bool active();
};
