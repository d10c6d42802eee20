#pragma once

#include "core/ILogger.h"
#include "core/VString.h"
#include "values/StBagKey.h"
#include "values/VScalar.h"
#include "values/VUUID.h"

namespace vela {

// The attribute names of log records, each with the native type it is read and written as and the value class
// it is stored in. Writers leave "level" out of info records; a record without it is an info record.
namespace ILoggerBagKeys {

extern const StBagKeyNoDefault<VString, VString> message;
// Default 4 (info).
extern const StBagKeyWithDefault<EMessageLevel, VLong> level;
extern const StBagKeyNoDefault<VString, VString> source;
extern const StBagKeyNoDefault<VString, VString> task_name;
extern const StBagKeyNoDefault<VString, VString> file_name;
extern const StBagKeyNoDefault<VString, VString> stack_crawl;
extern const StBagKeyNoDefault<int32, VLong> line_number;
extern const StBagKeyNoDefault<uint32, VLong> component_signature;
extern const StBagKeyNoDefault<int32, VLong> elapsed_milliseconds;
extern const StBagKeyNoDefault<int32, VLong> count_bytes_sent;
extern const StBagKeyNoDefault<int32, VLong> count_bytes_received;
extern const StBagKeyNoDefault<VUUID, VUUID> base_context_uuid;
extern const StBagKeyNoDefault<uint64, VLong8> error_code;
extern const StBagKeyNoDefault<int32, VLong> count_bytes_asked;
extern const StBagKeyNoDefault<int64, VLong8> socket;
extern const StBagKeyNoDefault<bool, VBoolean> is_blocking;
extern const StBagKeyNoDefault<bool, VBoolean> is_ssl;
extern const StBagKeyNoDefault<bool, VBoolean> is_select_io;
// Raw bytes in the record vocabulary; no stored value class carries them, so it is never read or written.
extern const StBagKeyNoDefault<const char*, const char*> payload;
extern const StBagKeyNoDefault<int32, VLong> ms_timeout;
extern const StBagKeyNoDefault<int32, VLong> ms_spent;
extern const StBagKeyNoDefault<int32, VLong> dump_offset;
extern const StBagKeyNoDefault<VString, VString> dump_buffer;
extern const StBagKeyNoDefault<VString, VString> local_addr;
extern const StBagKeyNoDefault<VString, VString> peer_addr;
extern const StBagKeyNoDefault<int32, VLong> local_port;
extern const StBagKeyNoDefault<int32, VLong> peer_port;
extern const StBagKeyNoDefault<int32, VLong> task_id;
extern const StBagKeyNoDefault<bool, VBoolean> exchange_id;
extern const StBagKeyNoDefault<int64, VLong8> debug_context;
extern const StBagKeyNoDefault<VString, VString> jobId;
extern const StBagKeyNoDefault<int32, VLong> jobState;
extern const StBagKeyNoDefault<VString, VString> pipe;
extern const StBagKeyNoDefault<VString, VString> user_id;
extern const StBagKeyNoDefault<VString, VString> stream_id;
extern const StBagKeyNoDefault<VString, VString> system_username;
extern const StBagKeyNoDefault<VString, VString> hostname;

} // namespace ILoggerBagKeys

} // namespace vela
