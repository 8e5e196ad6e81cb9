// The serializers that keep parameter values in parameter files, in reports
// and in the settings store, and the keys a parameter file never carries.
#pragma once

#include "params_tree.h"

#include <QHash>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

// A table of value texts under composite keys: the section names of the path,
// each followed by ".", then the key ("SlaveParams.defaults.Flags").
class ParamsTable : public ParamsSerializer
{
public:
    void store(const QString& key, const QString& value) override;
    void store(const QStringList& path, const QString& key, const QString& value) override;
    QString load(const QString& key, const QString& defaultValue) override;
    QString load(const QStringList& path, const QString& key, const QString& defaultValue) override;

    // After reading, why the file was refused or could not be read
    // ("kit.txt:12: the key is nested deeper than 64 sections"); after
    // saveAll, why the file could not be written ("kit.txt: No space left on
    // device"). Empty when nothing failed.
    QString error() const override { return problem; }

    static QString compositeKey(const QStringList& path, const QString& key);
    // What is held, by composite key.
    const QHash<QString, QString>& values() const { return table; }

protected:
    QHash<QString, QString> table;
    QString problem;
};

/* Parameter file: text, one entry per line, "key = value", keys sorted.
 *
 * Reading: a line without "=" or with more than one "=" is ignored. A key
 * under more than ParamsTree::maxDepth sections (dots), or a value longer than
 * ParamsTree::maxValueLength characters as held, refuses the whole file:
 * nothing of it is held, and error() names the line. Key and
 * value lose surrounding white space and repeated inner white space. A key
 * without "params" in it (in any case) is taken as "Params.<key>". Then:
 *   - the Cs137 peak position and FWHM keys hold a hundredth of the file's
 *     number ("662" is held as "6.62");
 *   - the hexadecimal keys ("0x1a" in the file) are held as decimal text ("26"),
 *     "Params.error_mask" too; a value without "0x" is held as it stands;
 *   - "Params.manual_mode_passphrase" is held as written, less one leading space;
 *   - any other value has "," and "." turned into the system's decimal mark.
 * A number that does not convert is held as 0.
 *
 * Writing reverses the conversions ("6.62" is written as 662, "26" as 0x1a)
 * and leaves out the keys that the file must never carry back to an
 * instrument: the identity and factory keys, and the instrument-model keys
 * below. A file read and written again keeps every value it may carry.
 */
class SimpleParamsSerializer : public ParamsTable
{
public:
    bool saveAll(const QString& fileName) override;
    // A key not found as it stands is looked up as reading names it, so a
    // file saved from any tree loads back into it.
    QString load(const QString& key, const QString& defaultValue) override;
    QString load(const QStringList& path, const QString& key, const QString& defaultValue) override;

    // Empty for an empty name; otherwise filled from that file (empty, with
    // error() telling why, if it cannot be read or is refused).
    static std::shared_ptr<ParamsSerializer> createSerializer(const QString& fileName);

    // Whether saveAll writes `key`.
    static bool isWritten(const QString& key);
};

/* The instrument-model keys: what an instrument reports about its model, its
 * features and its variant. They describe the instrument that wrote the file,
 * so a parameter file never carries them to another instrument. */
inline constexpr const char* instrumentModelKeys[] = {
    // Model of each instrument family
    "Params.model.M15", "Params.model.M16", "Params.model.M17", "Params.model.M18",
    "Params.model.M20", "Params.model.M21", "Params.model.M22", "Params.model.M24",
    "Params.model.M26", "Params.model.M28", "Params.model.M30", "Params.model.M32",
    "Params.model.M34", "Params.model.M36", "Params.model.M38", "Params.model.M48",
    "Params.model.MCH",
    // Features fitted at the factory
    "Params.model.gps", "Params.model.bluetooth", "Params.model.wifi", "Params.model.usb",
    "Params.model.spectrometer", "Params.model.neutron", "Params.model.geiger",
    "Params.model.detector", "Params.model.display", "Params.model.battery",
    // Model variant
    "Params.model_variant", "Params.variant", "Params.model.variant", "Params.model.revision",
    "Params.hardware_variant"};

// A table read from a file of "key = value" lines without conversions (and
// refused as a parameter file is), and written as a report of the detector's
// values, one labelled line each.
class SlaveParamsSerializer : public ParamsTable
{
public:
    bool saveAll(const QString& fileName) override;
    static std::shared_ptr<ParamsSerializer> createSerializer(const QString& fileName);
};

// The settings store under a group; each path element is a further group.
class SettingsParamsSerializer : public ParamsSerializer
{
public:
    explicit SettingsParamsSerializer(const QString& group);
    ~SettingsParamsSerializer() override;

    void store(const QString& key, const QString& value) override;
    void store(const QStringList& path, const QString& key, const QString& value) override;
    QString load(const QString& key, const QString& defaultValue) override;
    QString load(const QStringList& path, const QString& key, const QString& defaultValue) override;
    bool saveAll(const QString& fileName) override;

private:
    QSettings settings;
};
