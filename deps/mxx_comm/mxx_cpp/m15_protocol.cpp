#include "m15_protocol.h"

#include "family_support.h"

using namespace mxx_events;
using namespace mxx_family;

namespace {

constexpr int kM15 = 1;

namespace detail {

int M15SpectrumEvent(int, char*, MXX_frame* frame, void* user)
{
    if (auto spectrum = probeSpectrum(frame))
        post(user, kM15, spectrum);
    return 0;
}

// Totals and button presses are taken off the line; nothing here shows them.
int M15TotalEvent(int, char*, MXX_frame*, void*)
{
    return 0;
}
int M15ButtonEvent(int, char*, MXX_frame*, void*)
{
    return 0;
}

} // namespace detail

const Hook kHooks[] = {
    {2020, detail::M15SpectrumEvent},
    {2030, detail::M15TotalEvent},
    {2105, detail::M15ButtonEvent},
};

} // namespace

M15Protocol::M15Protocol()
{
    qRegisterMetaType<std::shared_ptr<Spectrum>>("std::shared_ptr<Spectrum>");
}

void M15Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    hookAll(connection, kHooks);
}

bool M15Protocol::receiveData(QVariant& data)
{
    return emitRecord(this, data, &M15Protocol::spectrumData);
}

QString M15Protocol::getSWVersion()
{
    return readText<16>(M15_Get_SW_Version, connection());
}

bool M15Protocol::getTemperature(float& celsius)
{
    return readTenths(M15_Get_Temperature, connection(), celsius);
}

bool M15Protocol::getParam(M15_params& params)
{
    return readRecord(M15_Get_Param, connection(), params);
}
bool M15Protocol::setParam(const M15_params& params)
{
    return writeRecord(M15_Set_Param, connection(), params);
}
bool M15Protocol::startMeas(int seconds)
{
    return writeI32(M15_Start_Meas, connection(), seconds);
}
bool M15Protocol::stopMeas(bool clear)
{
    return writeI32(M15_Stop_Meas, connection(), clear ? 1 : 0);
}
bool M15Protocol::set12BitMode(bool on)
{
    return writeI32(M15_Set_12Bit_Mode, connection(), on ? 1 : 0);
}
bool M15Protocol::testBuzzer()
{
    return run(M15_Test_Buzzer, connection());
}
bool M15Protocol::testButtons(int& buttons)
{
    return readI32(M15_Test_Buttons, connection(), buttons);
}
bool M15Protocol::getVoltage(int channel, int& millivolts)
{
    return queryU16(M15_Get_Voltage, connection(), channel, millivolts);
}
bool M15Protocol::getCurrent(int channel, int& microamperes)
{
    return queryU16(M15_Get_Current, connection(), channel, microamperes);
}
bool M15Protocol::getAdcOffset(int& offset)
{
    return readU16(M15_Get_ADC_Offset, connection(), offset);
}
bool M15Protocol::setAdcOffset(int offset)
{
    return writeU16(M15_Set_ADC_Offset, connection(), offset);
}
bool M15Protocol::getHv(int& volts)
{
    return readU16(M15_Get_HV, connection(), volts);
}
bool M15Protocol::setHv(int volts)
{
    return writeU16(M15_Set_HV, connection(), volts);
}
bool M15Protocol::setBacklight(int level)
{
    return writeU8(M15_Set_Backlight, connection(), level);
}
bool M15Protocol::setLld(int channel)
{
    return writeU16(M15_Set_LLD, connection(), channel);
}

bool M15Protocol::getVoltages(int (&millivolts)[4])
{
    return readU16s(M15_Get_Voltages, connection(), millivolts, 4);
}

bool M15Protocol::getEnergyCalib(float& a, float& b, float& c)
{
    return readCalibration(M15_Get_Energy_Calib, connection(), a, b, c);
}
bool M15Protocol::setEnergyCalib(float a, float b, float c)
{
    return writeCalibration(M15_Set_Energy_Calib, connection(), a, b, c);
}
