// Command functions made from a family's command table.
//
// Each table (m17_commands.def, m30_commands.def, ...) gives one line per
// command: name, code, request bytes, response bytes, time-out and form. The
// form names the pointers a function takes between the connection id and the
// wait flag: IN the request of `request` bytes, OUT a response buffer with room
// for `response` bytes (no answer data is asked for when it is null), STATUS
// the answer's status byte. VARYING_IN takes a request of `size` bytes, at
// most `request`; IN_VARYING_OUT reports the answer's size, at most
// `response`. CUSTOM functions are written by hand beside the table. Every
// function is one exchange of MXX_send_cmd, except the rows that are files of
// the M23 data-buffer transfer (m23_comm.h), which have a path.
//
// A family's header expands its table (mxx_command_table.inc) into constant
// rows, so the sizes of its records and requests are the table's, and into
// inline functions. A row may also name the protocol object's method for the
// command (<FAMILY>_METHOD rows); that column is the Qt layer's.
#ifndef ORVISK_MXX_COMMAND_H
#define ORVISK_MXX_COMMAND_H

#include "mxx_comm.h"

struct MXX_command
{
    const char* name;
    uint16_t code;
    int request;  // bytes
    int response; // bytes; the largest answer where it varies
    int timeout_ms;
    int form;         // MXX_form bits
    const char* path; // a file of the M23 transfer; nullptr for a plain command
};

enum MXX_form {
    MXX_FORM_NONE = 0,
    MXX_FORM_IN = 1,
    MXX_FORM_OUT = 2,
    MXX_FORM_IN_OUT = 3,
    MXX_FORM_STATUS = 4,
    MXX_FORM_IN_STATUS = 5,
    MXX_FORM_OUT_STATUS = 6,
    MXX_FORM_IN_OUT_STATUS = 7,
    MXX_FORM_CUSTOM = 8,
    MXX_FORM_VARYING_IN = MXX_FORM_IN | 16,
    MXX_FORM_IN_VARYING_OUT = MXX_FORM_IN_OUT | 32
};

// One exchange of `cmd`: cmd.request bytes from `in`, the answer's payload into
// `out` (cmd.response bytes of room), its status byte into `status`.
int MXX_command_send(int conn, const MXX_command& cmd, const void* in, void* out, uint32_t* status,
                     int wait);
// The same for a command whose request varies: `size` bytes, at most
// cmd.request (-1, nothing sent, beyond); the answer's size goes to `out_size`.
int MXX_command_send_sized(int conn, const MXX_command& cmd, const void* in, int size, void* out,
                           uint32_t* out_size, int wait);

// The parameters each form adds, and what it passes on.
#define MXX_ARGS_NONE
#define MXX_ARGS_IN const void *request,
#define MXX_ARGS_OUT void *response,
#define MXX_ARGS_IN_OUT const void *request, void *response,
#define MXX_ARGS_STATUS uint32_t *status,
#define MXX_ARGS_IN_STATUS const void *request, uint32_t *status,
#define MXX_ARGS_OUT_STATUS void *response, uint32_t *status,
#define MXX_ARGS_IN_OUT_STATUS const void *request, void *response, uint32_t *status,
#define MXX_ARGS_VARYING_IN const void *request, int size,
#define MXX_ARGS_IN_VARYING_OUT const void *request, void *response, uint32_t *response_size,
#define MXX_PASS_NONE nullptr, nullptr, nullptr
#define MXX_PASS_IN request, nullptr, nullptr
#define MXX_PASS_OUT nullptr, response, nullptr
#define MXX_PASS_IN_OUT request, response, nullptr
#define MXX_PASS_STATUS nullptr, nullptr, status
#define MXX_PASS_IN_STATUS request, nullptr, status
#define MXX_PASS_OUT_STATUS nullptr, response, status
#define MXX_PASS_IN_OUT_STATUS request, response, status

// The sizes a family's command table gives a command, as constants.
#define MXX_REQUEST_SIZE(family, command) (family##_commands[family##_row_##command].request)
#define MXX_RESPONSE_SIZE(family, command) (family##_commands[family##_row_##command].response)

// A record passed through as the instrument lays it out; only its size is
// ours to know, and the fields the host reads are named where it reads them.
// Where a command carries the record, the size is the table's.
#define MXX_RECORD(family, name, size)                                                             \
    struct family##_##name                                                                         \
    {                                                                                              \
        uint8_t bytes[size] = {};                                                                  \
    };
#define MXX_REQUEST_RECORD(family, name, command)                                                  \
    MXX_RECORD(family, name, MXX_REQUEST_SIZE(family, command))
#define MXX_RESPONSE_RECORD(family, name, command)                                                 \
    MXX_RECORD(family, name, MXX_RESPONSE_SIZE(family, command))

// A table column of 0 and 1 (which families share a row) selects text.
#define MXX_WHEN_0(...)
#define MXX_WHEN_1(...) __VA_ARGS__

// A parenthesised list's items, and a macro applied to such a list: table
// columns that hold several names pass them on.
#define MXX_UNPAREN(...) __VA_ARGS__
#define MXX_APPLY(macro, arguments) macro arguments

// Defines `fn` for a table row, inline in the family's header; CUSTOM rows
// expand to nothing, their functions are written by hand.
#define MXX_DEFINE_COMMAND(fn, row, form) MXX_DEFINE_##form(fn, row)

#define MXX_SIGNATURE(fn, form) int fn(int conn, MXX_ARGS_##form int wait)
#define MXX_BODY(fn, row, form)                                                                    \
    inline MXX_SIGNATURE(fn, form)                                                                 \
    {                                                                                              \
        return MXX_command_send(conn, row, MXX_PASS_##form, wait);                                 \
    }

#define MXX_DEFINE_NONE(fn, row) MXX_BODY(fn, row, NONE)
#define MXX_DEFINE_IN(fn, row) MXX_BODY(fn, row, IN)
#define MXX_DEFINE_OUT(fn, row) MXX_BODY(fn, row, OUT)
#define MXX_DEFINE_IN_OUT(fn, row) MXX_BODY(fn, row, IN_OUT)
#define MXX_DEFINE_STATUS(fn, row) MXX_BODY(fn, row, STATUS)
#define MXX_DEFINE_IN_STATUS(fn, row) MXX_BODY(fn, row, IN_STATUS)
#define MXX_DEFINE_OUT_STATUS(fn, row) MXX_BODY(fn, row, OUT_STATUS)
#define MXX_DEFINE_IN_OUT_STATUS(fn, row) MXX_BODY(fn, row, IN_OUT_STATUS)
#define MXX_DEFINE_VARYING_IN(fn, row)                                                             \
    inline MXX_SIGNATURE(fn, VARYING_IN)                                                           \
    {                                                                                              \
        return MXX_command_send_sized(conn, row, request, size, nullptr, nullptr, wait);           \
    }
#define MXX_DEFINE_IN_VARYING_OUT(fn, row)                                                         \
    inline MXX_SIGNATURE(fn, IN_VARYING_OUT)                                                       \
    {                                                                                              \
        return MXX_command_send_sized(conn, row, request, (row).request, response, response_size,  \
                                      wait);                                                       \
    }
#define MXX_DEFINE_CUSTOM(fn, row)

#endif
