// Probe and identification test of every instrument family, and the one
// ordered table that identification walks.
#ifndef ORVISK_MXX_FAMILIES_H
#define ORVISK_MXX_FAMILIES_H

#include "mxx_comm.h"
#include "mxx_family_id.h"

struct MXX_family
{
    const char* name;
    int type_id;     // MXX_TYPE_<name>
    int in_mdd_walk; // tried by MDD_test_probe
    MXX_probe_fn probe;
    MXX_test_fn test;
    uint16_t query_code;
    int query_writes;
    uint16_t query_timeout;
    uint16_t answer_code;
    const char* serial_prefix; // nullptr: the payload is not looked at
    int length_field;          // 0: any
    int64_t payload_word;      // -1: any
    int tries_before_test;     // 0: left alone
    int tries_on_accept;       // 0: left alone
};

// In the order MDD_test_probe tries them.
extern const MXX_family MXX_families[];
extern const int MXX_family_count;

// The family with that device type id, or null.
const MXX_family* MXX_family_of(int type_id);

// Each probe writes its family's query without waiting; each test writes its
// type id into *device_type and returns non-zero when the frame is its answer.
int M15_probe(int conn, int attempt);
int M15_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M16_probe(int conn, int attempt);
int M16_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M17_probe(int conn, int attempt);
int M17_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M18_probe(int conn, int attempt);
int M18_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M20_probe(int conn, int attempt);
int M20_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M21_probe(int conn, int attempt);
int M21_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M22_probe(int conn, int attempt);
int M22_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M24_probe(int conn, int attempt);
int M24_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M26_probe(int conn, int attempt);
int M26_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M28_probe(int conn, int attempt);
int M28_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M30_probe(int conn, int attempt);
int M30_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M32_probe(int conn, int attempt);
int M32_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M34_probe(int conn, int attempt);
int M34_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M36_probe(int conn, int attempt);
int M36_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M38_probe(int conn, int attempt);
int M38_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int M48_probe(int conn, int attempt);
int M48_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);
int MVD_probe(int conn, int attempt);
int MVD_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);

#endif
