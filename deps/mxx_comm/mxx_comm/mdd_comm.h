// The composite probe and test that a device connection uses when the family
// of the instrument is not known yet.
#ifndef ORVISK_MDD_COMM_H
#define ORVISK_MDD_COMM_H

#include "mxx_comm.h"

// Sends M17's, M15's and M16's queries in turn, two consecutive attempts each.
int MDD_probe(int conn, int attempt);
// Runs the family tests from M48 down to M15; device type 0 when none accepts.
int MDD_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt);

// Spreads `count` probes over the MXX_MAX_PROBE_COUNT attempts of one cycle,
// each taking MXX_MAX_PROBE_COUNT / count consecutive attempts.
int MDD_probe_list(int conn, int attempt, const MXX_probe_fn* probes, int count);

#endif
