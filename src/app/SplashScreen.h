#pragma once
// The painted start-up picture and its message line.

#include <QPixmap>
#include <QString>

class QSplashScreen;

namespace SplashScreen {

inline constexpr int Width = 600;
inline constexpr int Height = 340;

// The 600 × 340 picture: dark fill, accent bar, title, "v<version>" and the
// loading line.
QPixmap paintPixmap(const QString& version);

// Shows the message at the bottom of the splash, centred, and lets it paint.
void showMessage(QSplashScreen& splash, const QString& message);

} // namespace SplashScreen
