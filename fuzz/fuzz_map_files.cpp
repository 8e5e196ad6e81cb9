// The files of a map folder: the image (any format the toolkit reads, decided
// by content, with its size limit), the world file and the projection line.
// Whatever the bytes, the readers give a usable value or nothing.
#include <map_files.h>
#include <proj_adapter.h>

#include <QBuffer>
#include <QCoreApplication>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>

namespace {

// Images decode without a display; the application only finds the format plugins.
QCoreApplication& app()
{
    static int argc = 1;
    static char name[] = "fuzz_map_files";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    app();
    FuzzedDataProvider in(data, size);
    const QByteArray world = QByteArray::fromStdString(in.ConsumeRandomLengthString(512));
    const QByteArray projection = QByteArray::fromStdString(in.ConsumeRandomLengthString(300));
    const std::vector<uint8_t> rest = in.ConsumeRemainingBytes<uint8_t>();
    QByteArray image(reinterpret_cast<const char*>(rest.data()), static_cast<int>(rest.size()));

    QBuffer worldFile(const_cast<QByteArray*>(&world));
    worldFile.open(QIODevice::ReadOnly);
    if (auto w = map_files::readWorldFile(worldFile)) {
        if (!std::isfinite(w->pixelSize.x()) || !std::isfinite(w->pixelSize.y()) ||
            w->pixelSize.x() == 0 || w->pixelSize.y() == 0 || !std::isfinite(w->origin.x()) ||
            !std::isfinite(w->origin.y()))
            std::abort();
    }

    QBuffer projectionFile(const_cast<QByteArray*>(&projection));
    projectionFile.open(QIODevice::ReadOnly);
    const QByteArray line = map_files::readProjectionLine(projectionFile);
    if (line.startsWith("+proj=")) // PROJ's own parser is not ours; only its plain definitions
        proj::initPlus(line.constData());

    QBuffer imageFile(&image);
    imageFile.open(QIODevice::ReadOnly);
    if (auto decoded = map_files::readImage(&imageFile)) {
        if (decoded->isNull() || static_cast<qint64>(decoded->width()) * decoded->height() * 4 >
                                     map_files::kImageByteLimit)
            std::abort();
    }
    return 0;
}
