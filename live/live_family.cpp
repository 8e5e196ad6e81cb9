#include "live_family.h"

#include <mxx_family_id.h>

#include <iterator>

namespace {

using Mode = SpectrumAccumulator::Mode;

// M30 and the families built on its command set send six spectrum kinds in
// turn, numbered by one counter; the first kind is the fresh spectrum.
constexpr int kSurveyKinds = 6;

const LiveFamily kFamilies[] = {
    {MXX_TYPE_M15, false, DoseSource::None, false, {"Spectrum"}, Mode::Latest, 1},
    // Spectra and Geiger totals take turns on one counter.
    {MXX_TYPE_M16, false, DoseSource::None, false, {"Spectrum"}, Mode::Latest, 2},
    {MXX_TYPE_M17, false, DoseSource::None, false, {}, Mode::Accumulate, 1},
    {MXX_TYPE_M18, false, DoseSource::None, false, {}, Mode::Accumulate, 1},
    {MXX_TYPE_M20, false, DoseSource::Events, false, {}, Mode::Accumulate, 1},
    {MXX_TYPE_M21, false, DoseSource::Events, false, {}, Mode::Accumulate, 1},
    {MXX_TYPE_M22, false, DoseSource::None, false, {"Spectrum"}, Mode::Latest, 1},
    {MXX_TYPE_M24, false, DoseSource::Polled, false, {"Spectrum"}, Mode::Latest, 1},
    {MXX_TYPE_M26,
     false,
     DoseSource::Polled,
     false,
     {"1024 channels", "512 channels", "Stabilisation"},
     Mode::Accumulate,
     1},
    {MXX_TYPE_M28, true, DoseSource::Events, true, {"Spectrum"}, Mode::Accumulate, kSurveyKinds},
    {MXX_TYPE_M30, true, DoseSource::Events, true, {"Spectrum"}, Mode::Accumulate, kSurveyKinds},
    {MXX_TYPE_M32, false, DoseSource::None, false, {}, Mode::Accumulate, 1},
    {MXX_TYPE_M34, true, DoseSource::Events, true, {"Spectrum"}, Mode::Accumulate, kSurveyKinds},
    {MXX_TYPE_M36, true, DoseSource::Events, false, {"Spectrum"}, Mode::Accumulate, kSurveyKinds},
    {MXX_TYPE_M38,
     false,
     DoseSource::None,
     false,
     {"1024 channels", "256 channels"},
     Mode::Latest,
     1},
    {MXX_TYPE_M48, false, DoseSource::None, false, {}, Mode::Accumulate, 1},
    {MXX_TYPE_MVD, false, DoseSource::None, false, {}, Mode::Accumulate, 1},
};

QString familyName(int type)
{
    const char* name = MXX_family_name(type);
    return name ? QString::fromLatin1(name) : QStringLiteral("unknown instrument");
}

} // namespace

const LiveFamily& liveFamily(int type)
{
    for (const LiveFamily& family : kFamilies)
        if (family.type == type)
            return family;
    static const LiveFamily none;
    return none;
}

QString surveyFamilies()
{
    QStringList keepers;
    for (const LiveFamily& family : kFamilies)
        if (family.surveyStore)
            keepers << familyName(family.type);
    const QString last = keepers.takeLast();
    return QStringLiteral("an %1 or %2").arg(keepers.join(QStringLiteral(", ")), last);
}

QString downloadRefusal(int type)
{
    if (liveFamily(type).surveyStore)
        return QString();
    return QStringLiteral("The %1 keeps no surveys: Download reads those of %2.")
        .arg(familyName(type), surveyFamilies());
}

QString instrumentName(int type, const QString& serial)
{
    return serial.isEmpty() ? familyName(type) : familyName(type) + QLatin1Char(' ') + serial;
}
