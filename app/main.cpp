#include "main_window.h"

#include <orvisk_identity.h>

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
    setOrviskIdentity();

    MainWindow window;
    window.show();
    return app.exec();
}
