// Every family's command table against the instrument's command set: the
// number of functions, the code range, the time-outs the family uses, and
// for the sets derived from M30's, that the rows taken over are M30's.
#include <m23_comm.h>
#include <m24_comm.h>
#include <m26_comm.h>
#include <m28_comm.h>
#include <m30_comm.h>
#include <m32_comm.h>
#include <m34_comm.h>
#include <m36_comm.h>

#include <QTest>

#include <cstring>
#include <set>
#include <vector>

namespace {

struct Family
{
    const char* name;
    const MXX_command* rows;
    int count;
    int functions; // of the instrument's command set
    int first, last;
    std::set<int> timeouts;
    bool distinct_codes; // false where several functions share an exchange's code
};

std::set<int> m30Timeouts()
{
    std::set<int> t;
    for (int i = 0; i < M30_command_count; ++i)
        t.insert(M30_commands[i].timeout_ms);
    return t;
}

std::vector<Family> families()
{
    return {
        {"M23", M23_commands, M23_command_count, 6, 8402, 8405, {0, 250, 5500}, false},
        {"M24", M24_commands, M24_command_count, 11, 8401, 8404, {1000, 3000}, false},
        {"M26", M26_commands, M26_command_count, 12, 8402, 8405, {2000}, false},
        {"M28", M28_commands, M28_command_count, 74, 8001, 8490, m30Timeouts(), true},
        {"M32", M32_commands, M32_command_count, 15, 8201, 8521, {1000, 3000}, false},
        {"M34", M34_commands, M34_command_count, 90, 8001, 8610, m30Timeouts(), true},
        {"M36", M36_commands, M36_command_count, 77, 8001, 8560, m30Timeouts(), true},
    };
}

const MXX_command* m30Row(const char* name)
{
    for (int i = 0; i < M30_command_count; ++i)
        if (std::strcmp(M30_commands[i].name, name) == 0)
            return &M30_commands[i];
    return nullptr;
}

} // namespace

class TestFamilyTables : public QObject
{
    Q_OBJECT

private slots:
    void countsRangesAndTimeouts()
    {
        for (const Family& f : families()) {
            const QByteArray what = f.name;
            QVERIFY2(f.count == f.functions, what + ": " + QByteArray::number(f.count));
            std::set<int> codes;
            std::set<std::string> names;
            for (int i = 0; i < f.count; ++i) {
                const MXX_command& c = f.rows[i];
                const QByteArray row = what + " " + c.name;
                QVERIFY2(c.code >= f.first && c.code <= f.last, row);
                QVERIFY2(f.timeouts.count(c.timeout_ms), row);
                QVERIFY2(names.insert(c.name).second, row + ": twice");
                QVERIFY2(!f.distinct_codes || codes.insert(c.code).second, row + ": code taken");
                QVERIFY2(c.request <= MXX_MAX_CMD_PAYLOAD && c.response <= 65522, row);
            }
        }
    }

    void derivedSetsTakeOverM30Rows()
    {
        struct Derived
        {
            const char* name;
            const MXX_command* rows;
            int count;
            std::set<std::string> lacks; // of the M30 set
            bool complete;               // every other M30 row is there
        };
        const Derived derived[] = {
            {"M34",
             M34_commands,
             M34_command_count,
             {"load_gamma_backup_params", "get_expanded_stab_spect", "get_meas_state",
              "set_remote_control", "set_assay_core_depth", "set_core_info",
              "get_virtual_components", "set_virtual_components", "update_cloud_assay_id",
              "download_joblist_from_cloud", "delete_cloud_records"},
             true},
            {"M36",
             M36_commands,
             M36_command_count,
             {"emulate_key", "set_leds", "get_leds", "welcome", "get_gps_power", "set_gps_power",
              "get_inhibition", "set_inhibition", "assign_note", "get_motion_sensor_data",
              "load_gamma_backup_params", "set_assay_core_depth", "set_core_info",
              "get_virtual_components", "set_virtual_components", "update_cloud_assay_id",
              "download_joblist_from_cloud", "delete_cloud_records"},
             true},
            {"M28",
             M28_commands,
             M28_command_count,
             {"get_date_time", "set_date_time", "start_assay_acc_spectrum",
              "start_ident_acc_spectrum", "start_cs_stab_acc_spectrum", "get_calibration_methods",
              "upload_calibration_spectrum", "get_nuclide_library", "set_linearization_spect",
              "set_lookup_table", "set_hv", "write_log", "set_core_info", "get_virtual_components",
              "update_cloud_assay_id"},
             false},
        };
        for (const Derived& d : derived) {
            int shared = 0;
            for (int i = 0; i < d.count; ++i) {
                const MXX_command& c = d.rows[i];
                const MXX_command* m30 = m30Row(c.name);
                if (!m30)
                    continue;
                ++shared;
                const QByteArray row = QByteArray(d.name) + " " + c.name;
                QVERIFY2(!d.lacks.count(c.name), row);
                QVERIFY2(c.code == m30->code && c.request == m30->request &&
                             c.response == m30->response && c.timeout_ms == m30->timeout_ms &&
                             c.form == m30->form,
                         row);
            }
            if (d.complete)
                QCOMPARE(shared, M30_command_count - int(d.lacks.size()));
        }
        // The shared functions are M30's own.
        QVERIFY(&M34_set_leds == &M30_set_leds);
        QVERIFY(&M28_tx_buff_get == &M30_tx_buff_get);
        QVERIFY(&M36_get_status == &M30_get_status);
    }

    void fileRowsNameTheirFiles()
    {
        for (const Family& f : families())
            for (int i = 0; i < f.count; ++i) {
                const MXX_command& c = f.rows[i];
                const bool transfer = c.code == M23_code_file_read ||
                                      c.code == M23_code_file_write ||
                                      c.code == M23_code_data_buff_op;
                if (std::strcmp(f.name, "M26") == 0 || std::strcmp(f.name, "M32") == 0)
                    QVERIFY2(transfer == (c.path != nullptr), c.name);
                if (c.path)
                    QVERIFY2(std::strlen(c.path) <= M23_PATH_FIELD, c.path);
            }
        QCOMPARE(QByteArray(M26_commands[0].path), QByteArray("run/status"));
        QCOMPARE(M26_commands[0].response, M26_STATUS_SIZE);
    }
};

QTEST_GUILESS_MAIN(TestFamilyTables)
#include "test_family_tables.moc"
