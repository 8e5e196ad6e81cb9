#include "main_window.h"

#include <QApplication>
#include <QResource>
#include <QStyleFactory>

int main(int argc, char* argv[])
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    // Without the file the buttons show their texts only.
    QResource::registerResource(QStringLiteral("data/res.dat"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setOrganizationName(QStringLiteral("Korvenix"));
    QApplication::setOrganizationDomain(QStringLiteral("korvenix.example"));
    QApplication::setApplicationName(QStringLiteral("Orvisk"));
    QApplication::setApplicationVersion(QStringLiteral("0.1.0"));

    MainWindow window;
    window.show();
    return app.exec();
}
