// The toolkit catalog texts the module logs (Host::catalogNote), by name.
// A catalog text is known by its identifier; its words and arguments are in
// src/zul/messages/messages.txt ("catalog" lines), as for numbered messages
// (message_ids.hpp).
#pragma once

#include <cstdint>

namespace zulfact::catalog {

// ---- text lists (the join of host/messages.cpp) ----
inline constexpr uint32_t kTextListTooLarge = 0x83BFC033;     // (gigabytes, limit)
inline constexpr uint32_t kTextListNoMemoryGB = 0x83BFC034;   // (gigabytes)
inline constexpr uint32_t kTextListNoMemoryMB = 0x83BFC035;   // (megabytes)
inline constexpr uint32_t kTextListNoMemoryKB = 0x83BFC036;   // (kilobytes)
inline constexpr uint32_t kTextListNoMemory = 0x83BFC037;     // (bytes)
inline constexpr uint32_t kTextListPieces = 0x83BFC038;       // (pieces, pieces, name)
inline constexpr uint32_t kNoTextList = 0x83BFC039;

// ---- in-database processing ----
inline constexpr uint32_t kIndbUsed = 0x83BFC00A;
inline constexpr uint32_t kIndbNotUsed = 0x83BFC00B;          // (reason)
inline constexpr uint32_t kIndbOffForStatement = 0x83BFC06F;  // (statement)
inline constexpr uint32_t kIndbRowsWritten = 0x83BFC16E;      // (rows, table)
inline constexpr uint32_t kIndbRowsWrittenOverGroups = 0x83BFC16F;  // (rows, table)
inline constexpr uint32_t kIndbNoConversion = 0x83BFC168;     // (length)
inline constexpr uint32_t kIndbNotPrepared = 0x83BFC169;      // (length)
inline constexpr uint32_t kIndbNoColumns = 0x83BFC16A;
inline constexpr uint32_t kIndbScoringFailed = 0x83BFC16B;
inline constexpr uint32_t kIndbStatementWas = 0x83BFC16C;
inline constexpr uint32_t kIndbNoMemoryForTypes = 0x83BFC16D;
inline constexpr uint32_t kIndbNoRowWritten = 0x83BFC170;

}  // namespace zulfact::catalog
