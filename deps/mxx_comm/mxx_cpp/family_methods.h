// Protocol methods made from the command tables. A table row that names a
// method (the <FAMILY>_METHOD rows of mNN_commands.def, the M30_METHOD rows of
// m30_shared.def) gives the method's name, its kind and its parameters' names:
//
//   M15_METHOD(Set_HV, 1014, 2, 0, 1000, IN, setHv, SET_U16, (volts))
//
// makes `bool setHv(int volts)`, which sends `volts` as the request's u16 and
// is true when the command succeeded. The kind fixes the parameters' types
// and the marshalling (family_support.h); sizes are the table's. Records are
// named by their suffix: (params, params) is `M15_params& params`.
//
//   RUN ()                                 bool m()
//   GET_RECORD / SET_RECORD (record, name) bool m(R& name) / m(const R& name)
//   GET_ENTRY / SET_ENTRY (record, index, name)
//                                          bool m(int index, R& name) / const R&
//   GET_I32, GET_U16, GET_F32, GET_TENTHS, GET_FLAG (name)
//                                          bool m(int& name), ..., float&, bool&
//   SET_I32, SET_U16, SET_U8, SET_F32, SET_FLAG (name)
//                                          bool m(int name), ..., float, bool
//   GET_U16S (name)                        bool m(int (&name)[N]), N by the answer
//   GET_U32_PAIR / SET_U32_PAIR (first, second)
//                                          bool m(int& first, int& second) / int
//   QUERY_U16 / QUERY_I32 (in, out)        bool m(int in, int& out)
//   GET_CALIBRATION / SET_CALIBRATION (constant, linear, quadratic)
//                                          bool m(float& ...) / float: three f32,
//                                          keV = constant + linear·ch + quadratic·ch²
//   GET_TEXT ()                            QString m(), empty without an answer
//   SET_TEXT (name)                        bool m(const QString& name)
//   GET_REVISION / SET_REVISION (name)     bool m(M17Protocol::Revision& name) / const&
//   GET_STATUS (status)                    bool m(int& status): the answer's status byte
//   GET_RECORD_STATUS / SET_RECORD_STATUS (record, name, status)
//   GET_RECORD_OPTIONAL (record, name)     bool m(R* name); null takes the answer anyway
//   QUERY_RECORD_OPTIONAL (record, in, name)
//                                          bool m(int in, R* name)
//   QUERY_TEXT_RECORD_OPTIONAL (record, in, name)
//                                          bool m(const QString& in, R* name)
//   SET_RECORD_POINTER (record, name)      bool m(const R* name); null sends nothing
//   GET_ID_LIST (list, name)               bool m(QVector<uint>& name)
//   WRITE_NAMED_FILE (name, data), READ_NAMED_FILE (name, data, limit)
//                                          M20's and M21's files (family_support.h)
//
// Every exchange runs under the object's exchangeGuard(). The definitions
// need family_support.h.
#pragma once

#include <mxx_command.h>

#include <QByteArray>
#include <QString>
#include <QVector>

namespace mxx_family {

// The most of a named file that READ_NAMED_FILE reads unless told.
constexpr int kNamedFileLimit = 16 * 1024 * 1024;

} // namespace mxx_family

// The declaration and the definition of one method; `qualifier` is const
// for M17's.
#define MXX_METHOD_DECLARATION(qualifier, family, method, command, kind, parameters)               \
    MXX_RESULT_##kind method(                                                                      \
        MXX_APPLY(MXX_PARAMETERS_##kind, (MXX_DECLARED, family, command, MXX_UNPAREN parameters))) \
        qualifier;
#define MXX_METHOD_DEFINITION(owner, qualifier, family, method, command, kind, parameters)         \
    MXX_RESULT_##kind owner::method(MXX_APPLY(                                                     \
        MXX_PARAMETERS_##kind, (MXX_DEFINED, family, command, MXX_UNPAREN parameters))) qualifier  \
    {                                                                                              \
        const auto exchange = exchangeGuard();                                                     \
        return MXX_APPLY(MXX_MARSHAL_##kind, (family, command, MXX_UNPAREN parameters));           \
    }
// A default argument is given where the method is declared.
#define MXX_DECLARED(...) __VA_ARGS__
#define MXX_DEFINED(...)

// Aliases for a table's row macros while MXX_METHODS_FAMILY names the family
// (and MXX_METHODS_OWNER the class, for the definitions), as in
//   #define M15_COMMAND MXX_NO_METHOD
//   #define M15_METHOD MXX_DECLARE_COMMAND_METHOD
#define MXX_NO_METHOD(...)
#define MXX_DECLARE_COMMAND_METHOD(name, code, request, response, timeout, form, method, kind,     \
                                   parameters)                                                     \
    MXX_METHOD_DECLARATION(, MXX_METHODS_FAMILY, method, name, kind, parameters)
#define MXX_DEFINE_COMMAND_METHOD(name, code, request, response, timeout, form, method, kind,      \
                                  parameters)                                                      \
    MXX_METHOD_DEFINITION(MXX_METHODS_OWNER, , MXX_METHODS_FAMILY, method, name, kind, parameters)
#define MXX_DECLARE_CONST_COMMAND_METHOD(name, code, request, response, timeout, form, method,     \
                                         kind, parameters)                                         \
    MXX_METHOD_DECLARATION(const, MXX_METHODS_FAMILY, method, name, kind, parameters)
#define MXX_DEFINE_CONST_COMMAND_METHOD(name, code, request, response, timeout, form, method,      \
                                        kind, parameters)                                          \
    MXX_METHOD_DEFINITION(MXX_METHODS_OWNER, const, MXX_METHODS_FAMILY, method, name, kind,        \
                          parameters)
#define MXX_DECLARE_FILE_METHOD(name, path, size, timeout, form, method, kind, parameters)         \
    MXX_METHOD_DECLARATION(, MXX_METHODS_FAMILY, method, name, kind, parameters)
#define MXX_DEFINE_FILE_METHOD(name, path, size, timeout, form, method, kind, parameters)          \
    MXX_METHOD_DEFINITION(MXX_METHODS_OWNER, , MXX_METHODS_FAMILY, method, name, kind, parameters)

#define MXX_COMMAND_FUNCTION(family, command) family##_##command
#define MXX_IN(family, command) MXX_REQUEST_SIZE(family, command)
#define MXX_OUT(family, command) MXX_RESPONSE_SIZE(family, command)

#define MXX_RESULT_RUN bool
#define MXX_PARAMETERS_RUN(D, family, command, none)
#define MXX_MARSHAL_RUN(family, command, none)                                                     \
    mxx_family::run(MXX_COMMAND_FUNCTION(family, command), connection())

#define MXX_RESULT_GET_RECORD bool
#define MXX_PARAMETERS_GET_RECORD(D, family, command, record, name) family##_##record& name
#define MXX_MARSHAL_GET_RECORD(family, command, record, name)                                      \
    mxx_family::readRecord(MXX_COMMAND_FUNCTION(family, command), connection(), name)

#define MXX_RESULT_SET_RECORD bool
#define MXX_PARAMETERS_SET_RECORD(D, family, command, record, name) const family##_##record& name
#define MXX_MARSHAL_SET_RECORD(family, command, record, name)                                      \
    mxx_family::writeRecord(MXX_COMMAND_FUNCTION(family, command), connection(), name)

#define MXX_RESULT_GET_ENTRY bool
#define MXX_PARAMETERS_GET_ENTRY(D, family, command, record, index, name)                          \
    int index, family##_##record &name
#define MXX_MARSHAL_GET_ENTRY(family, command, record, index, name)                                \
    mxx_family::readEntry(MXX_COMMAND_FUNCTION(family, command), connection(), index, name)

#define MXX_RESULT_SET_ENTRY bool
#define MXX_PARAMETERS_SET_ENTRY(D, family, command, record, index, name)                          \
    int index, const family##_##record &name
#define MXX_MARSHAL_SET_ENTRY(family, command, record, index, name)                                \
    mxx_family::writeEntry(MXX_COMMAND_FUNCTION(family, command), connection(), index, name)

// One value, at the start of the answer or request.
#define MXX_GET_VALUE(function, family, command, name)                                             \
    mxx_family::function<MXX_OUT(family, command)>(MXX_COMMAND_FUNCTION(family, command),          \
                                                   connection(), name)
#define MXX_SET_VALUE(function, family, command, name)                                             \
    mxx_family::function<MXX_IN(family, command)>(MXX_COMMAND_FUNCTION(family, command),           \
                                                  connection(), name)

#define MXX_RESULT_GET_I32 bool
#define MXX_PARAMETERS_GET_I32(D, family, command, name) int& name
#define MXX_MARSHAL_GET_I32(family, command, name) MXX_GET_VALUE(readWords, family, command, name)
#define MXX_RESULT_SET_I32 bool
#define MXX_PARAMETERS_SET_I32(D, family, command, name) int name
#define MXX_MARSHAL_SET_I32(family, command, name) MXX_SET_VALUE(writeWords, family, command, name)
#define MXX_RESULT_GET_U16 bool
#define MXX_PARAMETERS_GET_U16(D, family, command, name) int& name
#define MXX_MARSHAL_GET_U16(family, command, name) MXX_GET_VALUE(readU16, family, command, name)
#define MXX_RESULT_SET_U16 bool
#define MXX_PARAMETERS_SET_U16(D, family, command, name) int name
#define MXX_MARSHAL_SET_U16(family, command, name) MXX_SET_VALUE(writeU16, family, command, name)
#define MXX_RESULT_SET_U8 bool
#define MXX_PARAMETERS_SET_U8(D, family, command, name) int name
#define MXX_MARSHAL_SET_U8(family, command, name) MXX_SET_VALUE(writeU8, family, command, name)
#define MXX_RESULT_GET_F32 bool
#define MXX_PARAMETERS_GET_F32(D, family, command, name) float& name
#define MXX_MARSHAL_GET_F32(family, command, name) MXX_GET_VALUE(readWords, family, command, name)
#define MXX_RESULT_SET_F32 bool
#define MXX_PARAMETERS_SET_F32(D, family, command, name) float name
#define MXX_MARSHAL_SET_F32(family, command, name) MXX_SET_VALUE(writeWords, family, command, name)
#define MXX_RESULT_GET_TENTHS bool
#define MXX_PARAMETERS_GET_TENTHS(D, family, command, name) float& name
#define MXX_MARSHAL_GET_TENTHS(family, command, name)                                              \
    MXX_GET_VALUE(readTenths, family, command, name)
#define MXX_RESULT_GET_FLAG bool
#define MXX_PARAMETERS_GET_FLAG(D, family, command, name) bool& name
#define MXX_MARSHAL_GET_FLAG(family, command, name) MXX_GET_VALUE(readFlag, family, command, name)
#define MXX_RESULT_SET_FLAG bool
#define MXX_PARAMETERS_SET_FLAG(D, family, command, name) bool name
#define MXX_MARSHAL_SET_FLAG(family, command, name) MXX_SET_VALUE(writeFlag, family, command, name)
#define MXX_RESULT_GET_U16S bool
#define MXX_PARAMETERS_GET_U16S(D, family, command, name) int(&name)[MXX_OUT(family, command) / 2]
#define MXX_MARSHAL_GET_U16S(family, command, name) MXX_GET_VALUE(readU16s, family, command, name)

#define MXX_RESULT_GET_U32_PAIR bool
#define MXX_PARAMETERS_GET_U32_PAIR(D, family, command, first, second) int &first, int &second
#define MXX_MARSHAL_GET_U32_PAIR(family, command, first, second)                                   \
    mxx_family::readWords<MXX_OUT(family, command)>(MXX_COMMAND_FUNCTION(family, command),         \
                                                    connection(), first, second)
#define MXX_RESULT_SET_U32_PAIR bool
#define MXX_PARAMETERS_SET_U32_PAIR(D, family, command, first, second) int first, int second
#define MXX_MARSHAL_SET_U32_PAIR(family, command, first, second)                                   \
    mxx_family::writeWords<MXX_IN(family, command)>(MXX_COMMAND_FUNCTION(family, command),         \
                                                    connection(), first, second)

#define MXX_RESULT_QUERY_U16 bool
#define MXX_PARAMETERS_QUERY_U16(D, family, command, in, out) int in, int &out
#define MXX_MARSHAL_QUERY_U16(family, command, in, out)                                            \
    mxx_family::queryU16<MXX_IN(family, command), MXX_OUT(family, command)>(                       \
        MXX_COMMAND_FUNCTION(family, command), connection(), in, out)
#define MXX_RESULT_QUERY_I32 bool
#define MXX_PARAMETERS_QUERY_I32(D, family, command, in, out) int in, int &out
#define MXX_MARSHAL_QUERY_I32(family, command, in, out)                                            \
    mxx_family::queryI32<MXX_IN(family, command), MXX_OUT(family, command)>(                       \
        MXX_COMMAND_FUNCTION(family, command), connection(), in, out)

#define MXX_RESULT_GET_CALIBRATION bool
#define MXX_PARAMETERS_GET_CALIBRATION(D, family, command, constant, linear, quadratic)            \
    float &constant, float &linear, float &quadratic
#define MXX_MARSHAL_GET_CALIBRATION(family, command, constant, linear, quadratic)                  \
    mxx_family::readWords<MXX_OUT(family, command)>(MXX_COMMAND_FUNCTION(family, command),         \
                                                    connection(), constant, linear, quadratic)
#define MXX_RESULT_SET_CALIBRATION bool
#define MXX_PARAMETERS_SET_CALIBRATION(D, family, command, constant, linear, quadratic)            \
    float constant, float linear, float quadratic
#define MXX_MARSHAL_SET_CALIBRATION(family, command, constant, linear, quadratic)                  \
    mxx_family::writeWords<MXX_IN(family, command)>(MXX_COMMAND_FUNCTION(family, command),         \
                                                    connection(), constant, linear, quadratic)

#define MXX_RESULT_GET_TEXT QString
#define MXX_PARAMETERS_GET_TEXT(D, family, command, none)
#define MXX_MARSHAL_GET_TEXT(family, command, none)                                                \
    mxx_family::readText<MXX_OUT(family, command)>(MXX_COMMAND_FUNCTION(family, command),          \
                                                   connection())
#define MXX_RESULT_SET_TEXT bool
#define MXX_PARAMETERS_SET_TEXT(D, family, command, name) const QString& name
#define MXX_MARSHAL_SET_TEXT(family, command, name) MXX_SET_VALUE(writeText, family, command, name)

#define MXX_RESULT_GET_REVISION bool
#define MXX_PARAMETERS_GET_REVISION(D, family, command, name) M17Protocol::Revision& name
#define MXX_MARSHAL_GET_REVISION(family, command, name)                                            \
    mxx_family::readBytes(MXX_COMMAND_FUNCTION(family, command), connection(), name.byte)
#define MXX_RESULT_SET_REVISION bool
#define MXX_PARAMETERS_SET_REVISION(D, family, command, name) const M17Protocol::Revision& name
#define MXX_MARSHAL_SET_REVISION(family, command, name)                                            \
    mxx_family::writeBytes(MXX_COMMAND_FUNCTION(family, command), connection(), name.byte)

#define MXX_RESULT_GET_STATUS bool
#define MXX_PARAMETERS_GET_STATUS(D, family, command, status) int& status
#define MXX_MARSHAL_GET_STATUS(family, command, status)                                            \
    mxx_family::readStatus(MXX_COMMAND_FUNCTION(family, command), connection(), status)
#define MXX_RESULT_GET_RECORD_STATUS bool
#define MXX_PARAMETERS_GET_RECORD_STATUS(D, family, command, record, name, status)                 \
    family##_##record &name, int &status
#define MXX_MARSHAL_GET_RECORD_STATUS(family, command, record, name, status)                       \
    mxx_family::readRecordStatus(MXX_COMMAND_FUNCTION(family, command), connection(), name, status)
#define MXX_RESULT_SET_RECORD_STATUS bool
#define MXX_PARAMETERS_SET_RECORD_STATUS(D, family, command, record, name, status)                 \
    const family##_##record &name, int &status
#define MXX_MARSHAL_SET_RECORD_STATUS(family, command, record, name, status)                       \
    mxx_family::writeRecordStatus(MXX_COMMAND_FUNCTION(family, command), connection(), name, status)

#define MXX_RESULT_GET_RECORD_OPTIONAL bool
#define MXX_PARAMETERS_GET_RECORD_OPTIONAL(D, family, command, record, name) family##_##record* name
#define MXX_MARSHAL_GET_RECORD_OPTIONAL(family, command, record, name)                             \
    mxx_family::readRecordOptional(MXX_COMMAND_FUNCTION(family, command), connection(), name)
#define MXX_RESULT_QUERY_RECORD_OPTIONAL bool
#define MXX_PARAMETERS_QUERY_RECORD_OPTIONAL(D, family, command, record, in, name)                 \
    int in, family##_##record *name
#define MXX_MARSHAL_QUERY_RECORD_OPTIONAL(family, command, record, in, name)                       \
    mxx_family::queryRecordOptional<MXX_IN(family, command)>(                                      \
        MXX_COMMAND_FUNCTION(family, command), connection(), in, name)
#define MXX_RESULT_QUERY_TEXT_RECORD_OPTIONAL bool
#define MXX_PARAMETERS_QUERY_TEXT_RECORD_OPTIONAL(D, family, command, record, in, name)            \
    const QString &in, family##_##record *name
#define MXX_MARSHAL_QUERY_TEXT_RECORD_OPTIONAL(family, command, record, in, name)                  \
    mxx_family::queryTextRecordOptional<MXX_IN(family, command)>(                                  \
        MXX_COMMAND_FUNCTION(family, command), connection(), in, name)
#define MXX_RESULT_SET_RECORD_POINTER bool
#define MXX_PARAMETERS_SET_RECORD_POINTER(D, family, command, record, name)                        \
    const family##_##record* name
#define MXX_MARSHAL_SET_RECORD_POINTER(family, command, record, name)                              \
    mxx_family::writeRecordPointer(MXX_COMMAND_FUNCTION(family, command), connection(), name)

#define MXX_RESULT_GET_ID_LIST bool
#define MXX_PARAMETERS_GET_ID_LIST(D, family, command, list, name) QVector<uint>& name
#define MXX_MARSHAL_GET_ID_LIST(family, command, list, name)                                       \
    mxx_family::readIdList<family##_##list>(MXX_COMMAND_FUNCTION(family, command), connection(),   \
                                            name)

#define MXX_RESULT_WRITE_NAMED_FILE bool
#define MXX_PARAMETERS_WRITE_NAMED_FILE(D, family, command, name, data)                            \
    const QString &name, const QByteArray &data
#define MXX_MARSHAL_WRITE_NAMED_FILE(family, command, name, data)                                  \
    mxx_family::writeNamedFile(MXX_COMMAND_FUNCTION(family, command), connection(), name, data)
#define MXX_RESULT_READ_NAMED_FILE bool
#define MXX_PARAMETERS_READ_NAMED_FILE(D, family, command, name, data, limit)                      \
    const QString &name, QByteArray &data, int limit D(= mxx_family::kNamedFileLimit)
#define MXX_MARSHAL_READ_NAMED_FILE(family, command, name, data, limit)                            \
    mxx_family::readNamedFile(MXX_COMMAND_FUNCTION(family, command), connection(), name, data,     \
                              limit)
