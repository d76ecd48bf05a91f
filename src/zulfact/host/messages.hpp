// Messages and notes on the module side: the start-up debug block, the
// memory report, the message-text store (zmsgsav) and the text-list join
// (zcatp). Numbered messages and catalog notes themselves are
// Host::message and Host::catalogNote (host/host.hpp); the module never
// writes a text of its own except the few log lines named here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zulfact/host/host.hpp"
#include "zul/abi.h"

namespace zulfact {

// ---- start-up ----

// The two switches of the host's DEBUG option. The parser passes them to
// the parse service as flags 2 (syntax) and 1 (semantics).
struct DebugSwitches {
  bool syntax = false;     // DEBUG contains "SYN"
  bool semantics = false;  // DEBUG contains "SEM"
  uint32_t parseFlags() const { return (syntax ? 2u : 0u) | (semantics ? 1u : 0u); }
};

// The first act of the procedure entry: takes the 400-byte work block from the
// host pool (flags 0x3006), records it in the step's debug slot, stores
// the service vector, the toolkit table and the missing value in it, and
// reads DEBUG (upper-cased; up to 200 characters kept in the block, a
// longer value in a pool block of its own). Without a block the switches
// are still read and returned.
DebugSwitches startUp(Host& host);
// The switches recorded by startUp for the current step (both off when
// there is no block).
DebugSwitches debugSwitches(Host& host);

// ---- memory report ----

// A catalog note followed by one line about the memory available: "At
// least N bytes of memory are available." or "Cannot determine how much
// memory is available." (both notes). With an identifier the note is
// logged at level 4 (error) whatever its prefix; with identifier 0 the
// note is literalFormat (printf-like: %i %d %g %s %%, with an optional
// %1z/%2z/%3z prefix giving its level) filled with args. Returns 0, or
// 1012 when the note could not be fetched or written.
int memoryReport(Host& host, uint32_t id, Args args = {}, std::string_view literalFormat = {});

// The printf-like formatting of literal log formats: %i and %d (integer),
// %g (a number in its shortest sensible form), %s (text), %% (percent).
std::string formatLiteral(std::string_view format, Args args);

// ---- message-text store ----

inline constexpr int kStoreClose = 0;     // close the store: all its texts go
inline constexpr int kStoreOpen = -1;     // open a store; number = its block size
inline constexpr int kStoreRelease = -2;  // drop the texts, keep the store open
inline constexpr const char* kNoText = "????";

// zmsgsav(host, mode, number, destination, maxLength, length):
// - mode 0, -1, -2: the store operations above; "" on success, "????"
//   when a store cannot be opened (the host status is reported).
// - mode = a message group: the unformatted text of group/number. A text
//   that cannot be read is "????" (length 4). maxLength 0 means the
//   text's own length; a longer text is reported with two log lines and
//   cut to maxLength. With a destination the text is copied there
//   (destination must hold maxLength + 1 bytes, so maxLength 0 is refused
//   with a destination); without one it is copied into a block of the
//   store (opened on first use), which lives until the store is closed or
//   released. Failure to get the block logs an out-of-memory error and
//   gives "????".
// The result is NUL terminated; *length (when given) receives its length.
const char* zmsgsav(Host& host, int mode, int number = 0, char* destination = nullptr,
                    int maxLength = 0, int* length = nullptr);

// ---- text lists ----

// Layout bits of a piece, for the printed form of a list.
enum PieceLayout : uint32_t {
  kPieceOpenBefore = 1,   // the pieces after this one are indented
  kPieceOpenAfter = 2,    // the same
  kPieceCloseBefore = 4,  // outdent before this piece
  kPieceCloseAfter = 8,   // outdent after this piece
  kPieceDoubleIndent = 16 // open by two levels instead of one
};

struct TextPiece {
  TextPiece* next;
  int64_t length;
  uint32_t layout;  // PieceLayout bits
  const char* text;
};

struct TextList {
  TextPiece* first;
  TextPiece* last;
  int64_t count;
  const char* name;  // optional; may be null
};

// Lists and pieces live in the host pool. textListCreate copies the name;
// textListAdd copies the text (false when the pool is exhausted).
TextList* textListCreate(Host& host, std::string_view name = {});
bool textListAdd(Host& host, TextList* list, std::string_view text, uint32_t layout = 0);
void textListFreePieces(Host& host, TextList* list);
void textListRelease(Host& host, TextList* list);

enum JoinFlags : uint32_t {
  kJoinKeepPieces = 16,  // leave the pieces in the list
  kJoinPrint = 32,       // write the list to the log first
  kJoinRelease = 64,     // release the list (and its pieces) afterwards
};

// zcatp: joins the pieces of list (null: an empty list) into one buffer
// taken from pool (null: the host pool) with flags 8196; *out receives it
// (NUL terminated) and *outLength its length without the NUL. Returns 0,
// or 1016 after the size notes (catalog::kTextListTooLarge ..
// kTextListNoMemory, then kTextListPieces or kNoTextList) when the text
// would reach 2,147,483,647 bytes or its buffer cannot be had (*out is
// then null). Without kJoinKeepPieces the pieces
// are freed and the list left empty, also on failure.
int zcatp(Host& host, TextList* list, const zul_pool* pool, char** out, int64_t* outLength,
          uint32_t flags);

}  // namespace zulfact
