#include "m36_protocol.h"

#include "family_support.h"

using mxx_marshal::textAt;

MXX_DEFINE_EVENTS(M36)

bool M36Protocol::getEthernetList(QList<QStringList>& interfaces)
{
    uint8_t list[M36_ETHERNET_LIST_SIZE];
    if (M36_get_ethernet_list(connection(), list, 1) != 0)
        return false;
    const uint32_t count = std::min<uint32_t>(MXX_get_u32(list), M36_ETHERNET_ENTRIES);
    QList<QStringList> out;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = list + 4 + M36_ETHERNET_ENTRY_SIZE * i;
        out.append({textAt(e, 32), textAt(e + 32, 40), textAt(e + 72, 40), textAt(e + 112, 20)});
    }
    interfaces = out;
    return true;
}

bool M36Protocol::uploadEfficiencyLut(const QVector<QPair<float, float>>& points)
{
    if (points.size() > M36_EFFICIENCY_POINTS)
        return false;
    std::array<uint8_t, M36_EFFICIENCY_LUT_SIZE> table{};
    MXX_put_u32(table.data(), static_cast<uint32_t>(points.size()));
    for (int i = 0; i < points.size(); ++i) {
        MXX_put_f32(table.data() + 4 + 8 * i, points[i].first);
        MXX_put_f32(table.data() + 8 + 8 * i, points[i].second);
    }
    return M36_upload_efficiency_lut(connection(), table.data(), 1) == 0;
}
