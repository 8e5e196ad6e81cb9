#include "m28_protocol.h"

#include "family_support.h"

#include <algorithm>

namespace {

using namespace mxx_marshal;

// Three i32 fields, as the date and time commands carry them.
using Triple = std::array<uint8_t, MXX_RESPONSE_SIZE(M28, get_date)>;
static_assert(MXX_REQUEST_SIZE(M28, set_date) == 12 && MXX_RESPONSE_SIZE(M28, get_date) == 12 &&
                  MXX_REQUEST_SIZE(M28, set_time) == 12 && MXX_RESPONSE_SIZE(M28, get_time) == 12,
              "three i32");

Triple triple(int first, int second, int third)
{
    Triple fields;
    MXX_put_u32(fields.data(), static_cast<uint32_t>(first));
    MXX_put_u32(fields.data() + 4, static_cast<uint32_t>(second));
    MXX_put_u32(fields.data() + 8, static_cast<uint32_t>(third));
    return fields;
}

int fieldOf(const Triple& fields, int index)
{
    return static_cast<int32_t>(MXX_get_u32(fields.data() + 4 * index));
}

} // namespace

MXX_DEFINE_EVENTS(M28)

#define MXX_METHODS_FAMILY M28
#define MXX_METHODS_OWNER M28Protocol
#define M28_COMMAND MXX_NO_METHOD
#define M28_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m28_commands.def>
#undef M28_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M28Protocol::getDate(QDate& date)
{
    Triple answer{};
    if (M28_get_date(connection(), answer.data(), 1) != 0)
        return false;
    const QDate read(fieldOf(answer, 0), fieldOf(answer, 1), fieldOf(answer, 2));
    if (!read.isValid())
        return false;
    date = read;
    return true;
}

bool M28Protocol::setDate(const QDate& date)
{
    return date.isValid() &&
           M28_set_date(connection(), triple(date.year(), date.month(), date.day()).data(), 1) == 0;
}

bool M28Protocol::getTime(QTime& time)
{
    Triple answer{};
    if (M28_get_time(connection(), answer.data(), 1) != 0)
        return false;
    const QTime read(fieldOf(answer, 0), fieldOf(answer, 1), fieldOf(answer, 2));
    if (!read.isValid())
        return false;
    time = read;
    return true;
}

bool M28Protocol::setTime(const QTime& time)
{
    return time.isValid() &&
           M28_set_time(connection(), triple(time.hour(), time.minute(), time.second()).data(),
                        1) == 0;
}

bool M28Protocol::modifyUser(int number, const QString& name, const QString& pin)
{
    uint8_t request[MXX_REQUEST_SIZE(M28, modify_user)];
    static_assert(sizeof request == 4 + 2 * M28_TEXT_FIELD, "number, name and PIN");
    MXX_put_u32(request, static_cast<uint32_t>(number));
    putText(request + 4, M28_TEXT_FIELD, name);
    putText(request + 4 + M28_TEXT_FIELD, M28_TEXT_FIELD, pin);
    return M28_modify_user(connection(), request, 1) == 0;
}

bool M28Protocol::setLoggedUser(int number, const QString& pin)
{
    uint8_t request[MXX_REQUEST_SIZE(M28, set_logged_user)];
    static_assert(sizeof request == 4 + M28_TEXT_FIELD, "number and PIN");
    MXX_put_u32(request, static_cast<uint32_t>(number));
    putText(request + 4, M28_TEXT_FIELD, pin);
    return M28_set_logged_user(connection(), request, 1) == 0;
}

bool M28Protocol::getLoggedUser(int& number, QString& name)
{
    uint8_t answer[MXX_RESPONSE_SIZE(M28, get_logged_user)];
    static_assert(sizeof answer == 4 + M28_TEXT_FIELD, "number and name");
    if (M28_get_logged_user(connection(), answer, 1) != 0)
        return false;
    number = static_cast<int32_t>(MXX_get_u32(answer));
    name = textAt(answer + 4, M28_TEXT_FIELD);
    return true;
}

bool M28Protocol::checkMassStorage(int& state, quint32& totalKiB, quint32& freeKiB)
{
    std::array<uint8_t, MXX_RESPONSE_SIZE(M28, check_mass_storage)> answer{};
    if (M28_check_mass_storage(connection(), answer.data(), 1) != 0)
        return false;
    state = fieldOf(answer, 0);
    totalKiB = MXX_get_u32(answer.data() + 4);
    freeKiB = MXX_get_u32(answer.data() + 8);
    return true;
}

bool M28Protocol::listFiles(const QString& folder, QList<FileEntry>& files)
{
    std::array<uint8_t, M28_FILE_LIST_SIZE> answer{};
    if (M28_list_files(connection(), textRequest<M28_PATH_FIELD>(folder).data(), answer.data(),
                       1) != 0)
        return false;
    const uint32_t count = std::min<uint32_t>(MXX_get_u32(answer.data()), M28_FILE_ENTRIES);
    QList<FileEntry> list;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = answer.data() + 4 + M28_FILE_ENTRY_SIZE * i;
        list.append({textAt(e, M28_FILE_NAME_FIELD), MXX_get_u32(e + M28_FILE_NAME_FIELD),
                     (MXX_get_u32(e + M28_FILE_NAME_FIELD + 4) & 1) != 0});
    }
    files = list;
    return true;
}

bool M28Protocol::exportData(int what, int format, const QString& target)
{
    uint8_t request[MXX_REQUEST_SIZE(M28, export_data)];
    static_assert(sizeof request == 8 + M28_PATH_FIELD, "what, format and target");
    MXX_put_u32(request, static_cast<uint32_t>(what));
    MXX_put_u32(request + 4, static_cast<uint32_t>(format));
    putText(request + 8, M28_PATH_FIELD, target);
    return M28_export_data(connection(), request, 1) == 0;
}

bool M28Protocol::getIdentResults(QList<QStringList>& results)
{
    std::array<uint8_t, M28_IDENT_RESULTS_SIZE> answer{};
    if (M28_get_ident_results(connection(), answer.data(), 1) != 0)
        return false;
    const uint32_t count = std::min<uint32_t>(MXX_get_u32(answer.data()), M28_IDENT_ENTRIES);
    auto found = std::make_shared<QList<QStringList>>();
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = answer.data() + 4 + M28_IDENT_ENTRY_SIZE * i;
        found->append({textAt(e, 16), textAt(e + 16, 16),
                       QString::number(static_cast<double>(MXX_get_f32(e + 32)), 'f', 1)});
    }
    results = *found;
    emit identResultsData(found);
    return true;
}
