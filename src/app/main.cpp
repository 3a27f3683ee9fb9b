#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLabel placeholder(QStringLiteral("卡德文Studio"));
    placeholder.show();
    return app.exec();
}
