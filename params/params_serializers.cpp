#include "params_serializers.h"

#include "whole_file.h"

#include <QFile>
#include <QLocale>
#include <QSet>
#include <QTextStream>

#include <functional>

namespace {

// Held as a hundredth of the file's number.
const QSet<QString>& cs137Keys()
{
    static const QSet<QString> keys{
        QStringLiteral("SlaveParams.defaults.ppCs137"),
        QStringLiteral("SlaveParams.defaults.fwhmCs137"),
        QStringLiteral("SlaveParams.actual.ppCs137"),
        QStringLiteral("SlaveParams.actual.fwhmCs137"),
    };
    return keys;
}

// Written in hexadecimal, held as decimal text.
const QSet<QString>& hexKeys()
{
    static const QSet<QString> keys{
        QStringLiteral("SlaveParams.defaults.Oscillator"),
        QStringLiteral("SlaveParams.actual.Oscillator"),
        QStringLiteral("SlaveParams.defaults.Flags"),
        QStringLiteral("SlaveParams.actual.Flags"),
        QStringLiteral("SlaveParams.defaults.chsumLUT"),
        QStringLiteral("SlaveParams.actual.chsumLUT"),
        QStringLiteral("Params.dpdata0"),
        QStringLiteral("Params.dpdata1"),
        QStringLiteral("Params.supress_stab"),
        QStringLiteral("Params.setup_iwrap"),
        QStringLiteral("Params.bt_hf_uuid"),
        QStringLiteral("Params.bt_hf_type"),
        QStringLiteral("Params.bt_gps_uuid"),
        QStringLiteral("Params.show_dose"),
        QStringLiteral("Params.dose_filter_len"),
        QStringLiteral("Params.error_mask"),
    };
    return keys;
}

// Identity and factory keys, the empty key, and the instrument-model keys.
const QSet<QString>& neverWrittenKeys()
{
    static const QSet<QString> keys = [] {
        QSet<QString> set{
            QStringLiteral("Params.serial_no"),
            QStringLiteral("Params.set_current_time"),
            QStringLiteral("Params.pws_revision"),
            QStringLiteral("Params.cpu_revision"),
            QStringLiteral("Korvenix serial number"),
            QStringLiteral("Params."),
            QStringLiteral("Params"),
            QStringLiteral("Params.Serial number"),
            QStringLiteral("Params.disable_bluetooth"),
            QStringLiteral("Params.korvenix_logo"),
            QStringLiteral("Params.Korvenix logo"),
            QStringLiteral("Params.model"),
            QString(""),
        };
        for (const char* key : instrumentModelKeys)
            set.insert(QString::fromLatin1(key));
        return set;
    }();
    return keys;
}

const QString passphraseKey = QStringLiteral("Params.manual_mode_passphrase");

// A number as the file writes it, with either decimal mark.
float toFloat(const QString& text)
{
    bool ok = false;
    float number = text.toFloat(&ok);
    if (!ok)
        number = QLocale::system().toFloat(text, &ok);
    return ok ? number : 0.0f;
}

QString withLocaleDecimalMark(QString text)
{
    const QChar mark = QLocale::system().decimalPoint();
    return text.replace(QLatin1Char(','), mark).replace(QLatin1Char('.'), mark);
}

// Keys of a parameter file belong under "Params" unless they name their own.
QString keyAsRead(const QString& key)
{
    if (key.contains(QLatin1String("params"), Qt::CaseInsensitive))
        return key;
    return QLatin1String("Params.") + key;
}

QString convertRead(const QString& key, const QString& rawValue)
{
    if (key == passphraseKey)
        return rawValue.startsWith(QLatin1Char(' ')) ? rawValue.mid(1) : rawValue;
    const QString value = rawValue.simplified();
    if (cs137Keys().contains(key)) {
        bool ok = false;
        float number = QLocale::system().toFloat(withLocaleDecimalMark(value), &ok);
        return QString::number(ok ? number / 100 : 0.0f, 'g', 6);
    }
    if (hexKeys().contains(key)) {
        if (!value.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            return value;
        bool ok = false;
        qulonglong number = value.mid(2).toULongLong(&ok, 16);
        return QString::number(ok ? number : 0);
    }
    return withLocaleDecimalMark(value);
}

QString convertWritten(const QString& key, const QString& value)
{
    if (cs137Keys().contains(key))
        return QString::number(toFloat(value) * 100, 'g', 6);
    if (hexKeys().contains(key)) {
        // The mask too: it is held as decimal text like its siblings, so
        // writing the text as it stands would change its value.
        bool ok = false;
        qulonglong number = value.toULongLong(&ok);
        return QLatin1String("0x") + QString::number(ok ? number : 0, 16);
    }
    return value;
}

// Why a key and its value as held cannot be: sections deeper than a tree
// may nest, or a value longer than an editor holds whole. Empty when they can.
QString limitProblem(const QString& key, const QString& value)
{
    if (key.count(QLatin1Char('.')) > ParamsTree::maxDepth)
        return QStringLiteral("the key is nested deeper than %1 sections")
            .arg(ParamsTree::maxDepth);
    if (value.size() > ParamsTree::maxValueLength)
        return QStringLiteral("the value is longer than %1 characters")
            .arg(ParamsTree::maxValueLength);
    return {};
}

// Each "key = value" line of the file, key and value as they stand. `take`
// returns why it refuses a line, or an empty text. The result is the first
// problem, with the file and the line it is on; empty when there is none.
QString readLines(const QString& fileName,
                  const std::function<QString(const QString& key, const QString& value)>& take)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("%1: %2").arg(fileName, file.errorString());
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QString line;
    for (int number = 1; in.readLineInto(&line); ++number) {
        if (!line.contains(QLatin1Char('=')))
            continue;
        const QStringList parts = line.split(QLatin1Char('='));
        if (parts.size() != 2)
            continue;
        if (const QString problem = take(parts[0], parts[1]); !problem.isEmpty())
            return QStringLiteral("%1:%2: %3").arg(fileName).arg(number).arg(problem);
    }
    if (in.status() != QTextStream::Ok || file.error() != QFileDevice::NoError)
        return QStringLiteral("%1: %2").arg(fileName, file.errorString());
    return {};
}

struct Label
{
    const char* label;
    const char* key;
};

// The detector's values in the report, each label padded to 19 characters.
constexpr Label reportLabels[] = {
    {"Flags:             ", "SlaveParams.defaults.Flags"},
    {"Oscillator:        ", "SlaveParams.defaults.Oscillator"},
    {"LL Discriminator:  ", "SlaveParams.defaults.LLDiscr"},
    {"HV potentiometer:  ", "SlaveParams.defaults.PotHV"},
    {"OffsetADC0:        ", "SlaveParams.defaults.OffsetADC0"},
    {"GainADC0:          ", "SlaveParams.defaults.GainADC0"},
    {"Number of channels:", "SlaveParams.defaults.nch"},
    {"Peak Pos. 662 keV: ", "SlaveParams.defaults.ppCs137"},
    {"FWHM:              ", "SlaveParams.defaults.fwhmCs137"},
    {"Calib.OffsetADC0:  ", "SlaveParams.defaults.calOffsetADC0"},
    {"Calib. GainADC0:   ", "SlaveParams.defaults.calGainADC0"},
};

// The file is rendered whole, then written whole or not at all: a full disk
// leaves the earlier file as it was.
bool writeSorted(
    const QString& fileName, const QHash<QString, QString>& table,
    const std::function<void(QString& out, const QString& key, const QString& value)>& write,
    QString* problem)
{
    QStringList keys = table.keys();
    keys.sort(Qt::CaseSensitive);
    QString text;
    for (const QString& key : keys)
        write(text, key, table.value(key));
    problem->clear();
    return writeFileWhole(fileName, text.toUtf8(), problem);
}

} // namespace

// ---------------------------------------------------------------- ParamsTable

QString ParamsTable::compositeKey(const QStringList& path, const QString& key)
{
    QString composite;
    for (const QString& element : path)
        if (!element.isEmpty())
            composite += element + QLatin1Char('.');
    return composite + key;
}

void ParamsTable::store(const QString& key, const QString& value)
{
    table.insert(key, value);
}

void ParamsTable::store(const QStringList& path, const QString& key, const QString& value)
{
    table.insert(compositeKey(path, key), value);
}

QString ParamsTable::load(const QString& key, const QString& defaultValue)
{
    return table.value(key, defaultValue);
}

QString ParamsTable::load(const QStringList& path, const QString& key, const QString& defaultValue)
{
    return table.value(compositeKey(path, key), defaultValue);
}

// ----------------------------------------------------- SimpleParamsSerializer

std::shared_ptr<ParamsSerializer> SimpleParamsSerializer::createSerializer(const QString& fileName)
{
    auto serializer = std::make_shared<SimpleParamsSerializer>();
    if (fileName.isEmpty())
        return serializer;
    serializer->problem = readLines(fileName, [&](const QString& rawKey, const QString& rawValue) {
        const QString key = keyAsRead(rawKey.simplified());
        // The passphrase is a secret: it is kept, never printed.
        const QString value = convertRead(key, rawValue);
        if (QString problem = limitProblem(key, value); !problem.isEmpty())
            return problem;
        serializer->table.insert(key, value);
        return QString();
    });
    if (!serializer->problem.isEmpty())
        serializer->table.clear();
    return serializer;
}

QString SimpleParamsSerializer::load(const QString& key, const QString& defaultValue)
{
    auto found = table.constFind(key);
    if (found == table.cend())
        found = table.constFind(keyAsRead(key));
    return found != table.cend() ? *found : defaultValue;
}

QString SimpleParamsSerializer::load(const QStringList& path, const QString& key,
                                     const QString& defaultValue)
{
    return load(compositeKey(path, key), defaultValue);
}

bool SimpleParamsSerializer::isWritten(const QString& key)
{
    return !neverWrittenKeys().contains(key);
}

bool SimpleParamsSerializer::saveAll(const QString& fileName)
{
    return writeSorted(
        fileName, table,
        [](QString& out, const QString& key, const QString& value) {
            if (isWritten(key))
                out += key + QLatin1String(" = ") + convertWritten(key, value) + QLatin1Char('\n');
        },
        &problem);
}

// ------------------------------------------------------ SlaveParamsSerializer

std::shared_ptr<ParamsSerializer> SlaveParamsSerializer::createSerializer(const QString& fileName)
{
    auto serializer = std::make_shared<SlaveParamsSerializer>();
    if (fileName.isEmpty())
        return serializer;
    serializer->problem = readLines(fileName, [&](const QString& rawKey, const QString& rawValue) {
        const QString key = rawKey.simplified(), value = rawValue.simplified();
        if (QString problem = limitProblem(key, value); !problem.isEmpty())
            return problem;
        serializer->table.insert(key, value);
        return QString();
    });
    if (!serializer->problem.isEmpty())
        serializer->table.clear();
    return serializer;
}

bool SlaveParamsSerializer::saveAll(const QString& fileName)
{
    return writeSorted(
        fileName, table,
        [](QString& out, const QString& key, const QString& value) {
            for (const Label& label : reportLabels)
                if (key == QLatin1String(label.key))
                    out +=
                        QLatin1String(label.label) + QLatin1Char(' ') + value + QLatin1Char('\n');
        },
        &problem);
}

// --------------------------------------------------- SettingsParamsSerializer

SettingsParamsSerializer::SettingsParamsSerializer(const QString& group)
{
    settings.beginGroup(group);
}

SettingsParamsSerializer::~SettingsParamsSerializer()
{
    settings.endGroup();
}

void SettingsParamsSerializer::store(const QString& key, const QString& value)
{
    settings.setValue(key, value);
}

void SettingsParamsSerializer::store(const QStringList& path, const QString& key,
                                     const QString& value)
{
    for (const QString& element : path)
        settings.beginGroup(element);
    settings.setValue(key, value);
    for (int i = 0; i < path.size(); ++i)
        settings.endGroup();
}

QString SettingsParamsSerializer::load(const QString& key, const QString& defaultValue)
{
    return settings.value(key, defaultValue).toString();
}

QString SettingsParamsSerializer::load(const QStringList& path, const QString& key,
                                       const QString& defaultValue)
{
    for (const QString& element : path)
        settings.beginGroup(element);
    QString value = settings.value(key, defaultValue).toString();
    for (int i = 0; i < path.size(); ++i)
        settings.endGroup();
    return value;
}

bool SettingsParamsSerializer::saveAll(const QString&)
{
    return true;
}
