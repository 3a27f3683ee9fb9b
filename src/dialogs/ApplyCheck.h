#pragma once
// What a modeless effect dialog asks its owner before "应用" hands the
// result over and closes: the owner may refuse (the audio the dialog was
// opened on is no longer there). A refused dialog stays open with every
// setting, and a warning box over it says why.

#include <QString>

#include <functional>

class QWidget;

// The refusal's text, or an empty string when the result may be applied now.
using ApplyCheck = std::function<QString()>;

// True when `check` is unset or allows; otherwise false after opening the
// refusal in a warning box over `dialog`.
bool applyAllowed(QWidget* dialog, const ApplyCheck& check);
