// Parameter files through both serializers' readers, and the simple format's
// round trip: once a file has been read and written, reading and writing it
// again changes nothing.
#include <params_serializers.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

namespace {

struct Files
{
    int argc = 1;
    char name[18] = "fuzz_params_files";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    // Saves are flushed to disk: in memory that costs nothing per input.
    QTemporaryDir dir{QDir(QStringLiteral("/dev/shm")).exists()
                          ? QStringLiteral("/dev/shm/fuzz_params_files-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/fuzz_params_files-XXXXXX")};
    QString in = dir.filePath(QStringLiteral("in.txt"));
    QString out = dir.filePath(QStringLiteral("out.txt"));
    QString again = dir.filePath(QStringLiteral("again.txt"));
};

Files& files()
{
    static Files f;
    return f;
}

void write(const QString& path, const uint8_t* data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QHash<QString, QString>& table(const std::shared_ptr<ParamsSerializer>& s)
{
    return static_cast<const ParamsTable&>(*s).values();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Files& f = files();
    write(f.in, data, size);

    auto slave = SlaveParamsSerializer::createSerializer(f.in);
    slave->saveAll(f.out);
    for (auto it = table(slave).cbegin(); it != table(slave).cend(); ++it)
        if (it.key().contains(QLatin1Char('=')) || it.value().contains(QLatin1Char('=')))
            std::abort();

    auto simple = SimpleParamsSerializer::createSerializer(f.in);
    if (!simple->saveAll(f.out))
        std::abort();
    auto read = SimpleParamsSerializer::createSerializer(f.out);
    if (!read->saveAll(f.again))
        std::abort();
    auto reread = SimpleParamsSerializer::createSerializer(f.again);
    if (table(read) != table(reread) || contents(f.out) != contents(f.again))
        std::abort();
    return 0;
}
