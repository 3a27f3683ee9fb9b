#include "app/SplashScreen.h"

#include <QCoreApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QSplashScreen>

namespace SplashScreen {

namespace {

const QString FontFamily = QStringLiteral("Microsoft YaHei");

} // namespace

QPixmap paintPixmap(const QString& version)
{
    QPixmap pixmap(Width, Height);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);

    painter.fillRect(0, 0, Width, Height, QColor(0x14, 0x14, 0x14));

    QLinearGradient accent(0, 330, Width, 330);
    accent.setColorAt(0.0, QColor(0x2a, 0x82, 0xda));
    accent.setColorAt(0.5, QColor(0x00, 0xf2, 0xff));
    accent.setColorAt(1.0, QColor(0x2a, 0x82, 0xda));
    painter.fillRect(0, 334, Width, 6, accent);

    painter.setPen(Qt::white);
    painter.setFont(QFont(FontFamily, 36, QFont::Bold));
    painter.drawText(QRect(0, 80, Width, 80), Qt::AlignCenter, QStringLiteral("卡德文Studio"));

    const QFont small(FontFamily, 13, QFont::Normal);
    painter.setFont(small);
    painter.setPen(QColor(0x88, 0x88, 0xaa));
    painter.drawText(QRect(0, 160, Width, 30), Qt::AlignCenter, QStringLiteral("v%1").arg(version));

    painter.setPen(QColor(0x66, 0x66, 0x88));
    painter.drawText(QRect(0, 260, Width, 30), Qt::AlignCenter, QStringLiteral("正在加载..."));
    painter.end();
    return pixmap;
}

void showMessage(QSplashScreen& splash, const QString& message)
{
    splash.showMessage(message, Qt::AlignBottom | Qt::AlignHCenter, QColor(0x88, 0x88, 0xaa));
    QCoreApplication::processEvents();
}

} // namespace SplashScreen
