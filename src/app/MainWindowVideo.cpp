// SoundFont loading.

#include "app/MainWindow.h"

#include <QDebug>

void MainWindow::loadSoundFont()
{
    // The "加载音色库" entry stays hidden until the command is wired here.
    qWarning() << "MainWindow: SoundFont loading is not available";
}
