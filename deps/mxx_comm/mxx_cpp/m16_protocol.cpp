#include "m16_protocol.h"

#include "family_support.h"

using namespace mxx_events;
using namespace mxx_family;

namespace {

constexpr int kM16 = 2;
constexpr int kUsbTestSize = 64;

namespace detail {

int M16SpectrumEvent(int, char*, MXX_frame* frame, void* user)
{
    if (auto spectrum = probeSpectrum(frame))
        post(user, kM16, spectrum);
    return 0;
}

constexpr MXX_event_handler M16GmNeutEvent = recordEvent<kM16, M16_gm_neut_total>;

} // namespace detail

const Hook kHooks[] = {
    {2020, detail::M16SpectrumEvent},
    {2031, detail::M16GmNeutEvent},
};

} // namespace

M16Protocol::M16Protocol()
{
    qRegisterMetaType<std::shared_ptr<Spectrum>>("std::shared_ptr<Spectrum>");
    qRegisterMetaType<std::shared_ptr<M16_gm_neut_total>>("std::shared_ptr<M16_gm_neut_total>");
}

void M16Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    hookAll(connection, kHooks);
}

bool M16Protocol::receiveData(QVariant& data)
{
    return emitRecord(this, data, &M16Protocol::spectrumData) ||
           emitRecord(this, data, &M16Protocol::gmNeutData);
}

QString M16Protocol::getSWVersion()
{
    return readText<16>(M16_Get_SW_Version, connection());
}

bool M16Protocol::usbTest()
{
    uint8_t pattern[kUsbTestSize], echo[kUsbTestSize] = {};
    for (int i = 0; i < kUsbTestSize; ++i) // every bit in both states, no two bytes alike
        pattern[i] = static_cast<uint8_t>(i * 37 + 0x5a);
    return M16_USB_Test(connection(), pattern, echo, 1) == 0 &&
           std::memcmp(pattern, echo, kUsbTestSize) == 0;
}

bool M16Protocol::getTemperature(float& celsius)
{
    return readTenths(M16_Get_Temperature, connection(), celsius);
}

bool M16Protocol::getVoltages(int (&millivolts)[3])
{
    return readU16s(M16_Get_Voltages, connection(), millivolts, 3);
}

bool M16Protocol::getParam(M16_params& params)
{
    return readRecord(M16_Get_Param, connection(), params);
}
bool M16Protocol::setParam(const M16_params& params)
{
    return writeRecord(M16_Set_Param, connection(), params);
}
bool M16Protocol::getAdc0(int& value)
{
    return readU16(M16_Get_ADC0, connection(), value);
}
bool M16Protocol::getOffset(int& offset)
{
    return readU16(M16_Get_Offset, connection(), offset);
}
bool M16Protocol::setOffset(int offset)
{
    return writeU16(M16_Set_Offset, connection(), offset);
}
bool M16Protocol::getGain(int& gain)
{
    return readU16(M16_Get_Gain, connection(), gain);
}
bool M16Protocol::setGain(int gain)
{
    return writeU16(M16_Set_Gain, connection(), gain);
}
bool M16Protocol::getHv(int& volts)
{
    return readU16(M16_Get_HV, connection(), volts);
}
bool M16Protocol::setHv(int volts)
{
    return writeU16(M16_Set_HV, connection(), volts);
}
bool M16Protocol::getDiscriminator(int& channel)
{
    return readU16(M16_Get_Discriminator, connection(), channel);
}
bool M16Protocol::setDiscriminator(int channel)
{
    return writeU16(M16_Set_Discriminator, connection(), channel);
}

int M16Protocol::lutChecksum(const QVector<int>& table)
{
    uint16_t sum = 0;
    for (int entry : table)
        sum = static_cast<uint16_t>(sum + entry);
    return sum;
}

bool M16Protocol::writeLut(int slot, const QVector<int>& table)
{
    if (slot < 0 || slot > UINT16_MAX || table.size() != M16_LUT_ENTRIES)
        return false;
    uint8_t request[2 + 2 * M16_LUT_ENTRIES];
    MXX_put_u16(request, static_cast<uint16_t>(slot));
    for (int i = 0; i < M16_LUT_ENTRIES; ++i) {
        if (table[i] < 0 || table[i] > UINT16_MAX)
            return false;
        MXX_put_u16(request + 2 + 2 * i, static_cast<uint16_t>(table[i]));
    }
    uint8_t answer[2] = {};
    return M16_Write_LUT(connection(), request, answer, 1) == 0 &&
           MXX_get_u16(answer) == lutChecksum(table);
}

bool M16Protocol::getLutChecksum(int& checksum)
{
    return readU16(M16_Get_LUT_Checksum, connection(), checksum);
}
bool M16Protocol::makeLinearLut()
{
    return run(M16_Make_Linear_LUT, connection());
}
bool M16Protocol::makeSquareLut()
{
    return run(M16_Make_Square_LUT, connection());
}
bool M16Protocol::loadLut(int slot)
{
    return writeI32(M16_Load_LUT, connection(), slot);
}

bool M16Protocol::get16BitMode(bool& on)
{
    int mode = 0;
    if (!readI32(M16_Get_16Bit_Mode, connection(), mode))
        return false;
    on = mode != 0;
    return true;
}

bool M16Protocol::set16BitMode(bool on)
{
    return writeI32(M16_Set_16Bit_Mode, connection(), on ? 1 : 0);
}
bool M16Protocol::getCalib(M16_calib& calib)
{
    return readRecord(M16_Get_Calib, connection(), calib);
}
bool M16Protocol::setCalib(const M16_calib& calib)
{
    return writeRecord(M16_Set_Calib, connection(), calib);
}
bool M16Protocol::startScan(int seconds)
{
    return writeI32(M16_Start_Scan, connection(), seconds);
}
bool M16Protocol::stopScan()
{
    return run(M16_Stop_Scan, connection());
}
bool M16Protocol::getEnergyCalib(float& a, float& b, float& c)
{
    return readCalibration(M16_Get_Energy_Calib, connection(), a, b, c);
}
bool M16Protocol::setEnergyCalib(float a, float b, float c)
{
    return writeCalibration(M16_Set_Energy_Calib, connection(), a, b, c);
}
