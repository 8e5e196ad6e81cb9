#include "main_window.h"

#include <orvisk_identity.h>
#include <resource_folder.h>

#include <QApplication>
#include <QIcon>
#include <QResource>
#include <QStyleFactory>

int main(int argc, char* argv[])
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    // Without the file the buttons show their texts only.
    QResource::registerResource(orviskResourceFolder() + QStringLiteral("data/res.dat"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    setOrviskIdentity();
    // The desktop entry's name, so that a desktop groups the window under it
    // and shows the installed icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.korvenix.Orvisk"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("example.korvenix.Orvisk")));

    MainWindow window;
    window.show();
    return app.exec();
}
