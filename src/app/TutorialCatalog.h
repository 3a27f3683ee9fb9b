#pragma once
// The tutorials offered on the welcome page: one card each, whose dialog lists
// the numbered steps. Texts are untranslated source strings of WelcomePage.

#include <QList>
#include <vector>

struct TutorialEntry {
    const char* title;
    const char* description;
    std::vector<const char*> steps;
};

// The seven tutorials in the order of their cards.
QList<TutorialEntry> tutorialEntries();
