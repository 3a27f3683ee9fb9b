// VST3 plug-in import.

#include "app/MainWindow.h"

#include <QDebug>

void MainWindow::importVst3Plugin()
{
    // The "导入VST3插件" entry stays hidden until plug-ins can be loaded.
    qWarning() << "MainWindow: VST3 import is not available";
}
