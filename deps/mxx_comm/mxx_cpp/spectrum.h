// Spectrum: one gamma spectrum from an instrument, with the timing and
// counting values that came with it. Handed around as std::shared_ptr.
#pragma once

#include <QMetaType>
#include <QObject>
#include <QVector>

#include <cstddef>
#include <cstdint>
#include <memory>

// Dead time in percent; a clock time of 0 never divides by zero.
float deadTime(unsigned int live, unsigned int clock);

class Spectrum : public QObject
{
    Q_OBJECT
public:
    using DataType = QVector<int>;

private:
    Q_PROPERTY(uint clock_time READ clockTime WRITE setClockTime)
    Q_PROPERTY(DataType data READ data WRITE setData)
    Q_PROPERTY(uint live_time READ liveTime WRITE setLiveTime)
    Q_PROPERTY(uint sequence_num READ sequenceNumber WRITE setSequenceNumber)
    Q_PROPERTY(uint total_count READ totalCount WRITE setTotalCount)
    Q_PROPERTY(float fwhm_cs137 READ fwhmCs137 WRITE setFwhmCs137)
    Q_PROPERTY(float dead_time READ deadTime)
    Q_PROPERTY(int sum READ sum)
    Q_PROPERTY(size_t size READ size)

public:
    static constexpr int kSumNotComputed = 2147483647;
    static constexpr unsigned int kNoType = 4294967295u;

    explicit Spectrum(unsigned long size);
    Spectrum(const QVector<int>& data, unsigned int live, unsigned int clock, unsigned int total,
             unsigned int sequence, float fwhm);
    Spectrum(const Spectrum& other);
    Spectrum& operator=(const Spectrum& other);
    ~Spectrum() override;

    // Adds the other's times, counts and channels, rebinning when the channel
    // counts differ.
    virtual Spectrum& operator+=(const Spectrum& other);

    uint64_t clockTime() const { return m_clock; }
    void setClockTime(unsigned int v) { m_clock = v; }
    const DataType& data() const { return m_data; }
    void setData(const QVector<int>& data);
    uint64_t liveTime() const { return m_live; }
    void setLiveTime(unsigned int v) { m_live = v; }
    uint64_t sequenceNumber() const { return m_sequence; }
    void setSequenceNumber(unsigned int v) { m_sequence = v; }
    uint64_t totalCount() const { return m_total; }
    void setTotalCount(unsigned int v) { m_total = v; }
    float fwhmCs137() const { return m_fwhm; }
    void setFwhmCs137(float v) { m_fwhm = v; }
    float deadTime() const;
    int sum();
    size_t size() const { return static_cast<size_t>(m_data.size()); }
    void clear();

    unsigned int type() const { return m_type; }
    void setType(unsigned int v) { m_type = v; }
    uint64_t accTotalCnt() const { return m_accTotal; }
    void setAccTotalCnt(unsigned int v) { m_accTotal = v; }
    float dose() const { return m_dose; }
    void setDose(float v) { m_dose = v; }
    int neutronsTotal() const { return m_neutrons; }
    void setNeutronsTotal(int v) { m_neutrons = v; }
    int geigerTotal() const { return m_geiger; }
    void setGeigerTotal(int v) { m_geiger = v; }
    float dr_summ() const { return m_doseRateSum; }
    void setDRSum(float v) { m_doseRateSum = v; }
    int channels() const { return m_channels; }
    void setChannels(int v) { m_channels = v; }
    int csCalibStatus() const { return m_csStatus; }
    void setCsCalibStatus(int v) { m_csStatus = v; }
    int csCalibResult() const { return m_csResult; }
    void setCsCalibResult(int v) { m_csResult = v; }
    int actSample() const { return m_actSample; }
    void setActSample(int v) { m_actSample = v; }
    int totalSample() const { return m_totalSample; }
    void setTotalSample(int v) { m_totalSample = v; }
    int finished() const { return m_finished; }
    void setFinished(int v) { m_finished = v; }

private:
    void copyFrom(const Spectrum& other);

    uint64_t m_live = 0;
    uint64_t m_clock = 0;
    uint64_t m_total = 0;
    uint64_t m_sequence = 0;
    float m_fwhm = 0;
    int m_sum = 0;
    DataType m_data;
    unsigned int m_type = 0;
    uint64_t m_accTotal = 0;
    int m_neutrons = 0;
    int m_geiger = 0;
    float m_dose = 0;
    float m_doseRateSum = 0;
    int m_channels = 1024;
    int m_csStatus = 0;
    int m_csResult = 0;
    int m_actSample = 0;
    int m_totalSample = 0;
    int m_finished = 0;
};

Q_DECLARE_METATYPE(std::shared_ptr<Spectrum>)
