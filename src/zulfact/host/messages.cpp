// Messages and notes on the module side (see messages.hpp).
#include "zulfact/host/messages.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "zulfact/state/catalog_ids.hpp"
#include "zulfact/state/codes.hpp"
#include "zulfact/host/catalog_text.hpp"

namespace zulfact {

using catalog_text::fetchCatalogText;
using catalog_text::prefixLevel;
using catalog_text::withoutPrefix;
using catalog_text::writeCatalogLine;

namespace {

constexpr uint32_t kPoolLongLived = 0x3006;  // zeroed, lives for the step
constexpr uint32_t kPoolPlain = 0x2004;
constexpr uint32_t kPoolJoin = 8196;
constexpr double kLargestRequest = 2147483647.0;

// ---- numbers in log lines ----

std::string number(double x) {
  if (zul_is_missing(x)) return ".";
  char buf[64];
  if (x == std::trunc(x) && std::fabs(x) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", x == 0 ? 0.0 : x);
  } else {
    std::snprintf(buf, sizeof buf, "%.6g", x);
  }
  return buf;
}

// ---- the store ----

struct StoreBlock {
  StoreBlock* next;
  size_t size;  // bytes after the header
  size_t used;
};

struct MessageStore {
  size_t blockSize;
  StoreBlock* blocks;
};

constexpr size_t kDefaultStoreBlock = 4096;

MessageStore* currentStore(Host& host) {
  void** slot = host.stepSlot(ZUL_SLOT_MESSAGES);
  return slot ? static_cast<MessageStore*>(*slot) : nullptr;
}

void freeBlocks(Host& host, MessageStore* store) {
  for (StoreBlock* b = store->blocks; b;) {
    StoreBlock* next = b->next;
    host.release(b);
    b = next;
  }
  store->blocks = nullptr;
}

MessageStore* openStore(Host& host, int64_t size) {
  void** slot = host.stepSlot(ZUL_SLOT_MESSAGES);
  if (!slot) return nullptr;
  if (*slot) return static_cast<MessageStore*>(*slot);
  auto* store = static_cast<MessageStore*>(host.alloc(sizeof(MessageStore), kPoolLongLived));
  if (!store) return nullptr;
  store->blockSize = size > 0 ? static_cast<size_t>(size) : kDefaultStoreBlock;
  store->blocks = nullptr;
  *slot = store;
  return store;
}

char* storeTake(Host& host, MessageStore* store, size_t bytes) {
  StoreBlock* b = store->blocks;
  if (!b || b->size - b->used < bytes) {
    size_t size = std::max(store->blockSize, bytes);
    b = static_cast<StoreBlock*>(host.alloc(static_cast<double>(sizeof(StoreBlock) + size),
                                            kPoolPlain));
    if (!b) return nullptr;
    b->next = store->blocks;
    b->size = size;
    b->used = 0;
    store->blocks = b;
  }
  char* p = reinterpret_cast<char*>(b + 1) + b->used;
  b->used += bytes;
  return p;
}

const char* noText(int* length) {
  if (length) *length = 4;
  return kNoText;
}

// ---- the debug block ----

struct DebugBlock {
  void** serviceVector;
  const zul_toolkit* toolkit;
  double missing;
  char* debugValue;  // upper-cased DEBUG value: inlineValue or a pool block
  int32_t debugLength;
  uint8_t syntax;
  uint8_t semantics;
  char inlineValue[201];
};
static_assert(sizeof(DebugBlock) <= 400, "the start-up work block is 400 bytes");
constexpr size_t kInlineDebug = 200;

}  // namespace

// ---- start-up ----

DebugSwitches startUp(Host& host) {
  DebugSwitches sw;
  auto* block = static_cast<DebugBlock*>(host.alloc(400.0, kPoolLongLived));
  if (block) {
    std::memset(static_cast<void*>(block), 0, 400);
    if (void** slot = host.stepSlot(ZUL_SLOT_DEBUG)) *slot = block;
    block->serviceVector = host.serviceVector();
    block->toolkit = host.toolkit();
    block->missing = zul_missing();
  }
  std::string value;
  if (!host.systemOption("DEBUG", value) || value.empty()) return sw;
  for (char& c : value) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  sw.syntax = value.find("SYN") != std::string::npos;
  sw.semantics = value.find("SEM") != std::string::npos;
  if (block) {
    char* dest = block->inlineValue;
    if (value.size() > kInlineDebug) {
      dest = static_cast<char*>(host.alloc(static_cast<double>(value.size()) + 1, kPoolLongLived));
    }
    if (dest) {
      std::memcpy(dest, value.data(), value.size());
      dest[value.size()] = '\0';
      block->debugValue = dest;
      block->debugLength = static_cast<int32_t>(value.size());
    }
    block->syntax = sw.syntax;
    block->semantics = sw.semantics;
  }
  return sw;
}

DebugSwitches debugSwitches(Host& host) {
  DebugSwitches sw;
  void** slot = host.stepSlot(ZUL_SLOT_DEBUG);
  if (!slot || !*slot) return sw;
  const auto* block = static_cast<const DebugBlock*>(*slot);
  sw.syntax = block->syntax != 0;
  sw.semantics = block->semantics != 0;
  return sw;
}

// ---- memory report ----

std::string formatLiteral(std::string_view format, Args args) {
  std::string out;
  const Arg* next = args.begin();
  auto take = [&]() -> const zul_arg* {
    if (next == args.end()) return nullptr;
    return &(next++)->raw;
  };
  size_t i = 0;
  if (prefixLevel(format) != ZUL_LOG_PLAIN) {
    out.append(format.substr(0, 3));
    i = 3;
  }
  for (; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%' || i + 1 >= format.size()) {
      out += c;
      continue;
    }
    char d = format[++i];
    if (d == '%') {
      out += '%';
      continue;
    }
    if (d != 'i' && d != 'd' && d != 'g' && d != 's') {
      out += '%';
      out += d;
      continue;
    }
    const zul_arg* a = take();
    if (!a) {
      out += '?';
      continue;
    }
    // The directive steers how a number prints; an argument of another
    // kind than the directive expects prints as what it is.
    if (a->kind == ZUL_ARG_TEXT) {
      if (a->v.text)
        out.append(a->v.text, a->length < 0 ? std::strlen(a->v.text)
                                            : static_cast<size_t>(a->length));
    } else if (a->kind == ZUL_ARG_DOUBLE) {
      out += number((d == 'i' || d == 'd') ? std::trunc(a->v.d) : a->v.d);
    } else {
      out += std::to_string(a->v.i);
    }
  }
  return out;
}

int memoryReport(Host& host, uint32_t id, Args args, std::string_view literalFormat) {
  const zul_toolkit* tk = host.toolkit();
  if (!tk || !tk->catalogLog) return kCodeEngine;
  int rc = 0;
  if (id != 0) {
    std::string text;
    rc = tk->catalogFetch ? fetchCatalogText(host, tk, id, args, text) : kCodeEngine;
    if (rc == 0) rc = writeCatalogLine(tk, ZUL_LOG_ERROR, withoutPrefix(text));
  } else if (!literalFormat.empty()) {
    std::string text = formatLiteral(literalFormat, args);
    rc = writeCatalogLine(tk, prefixLevel(text), withoutPrefix(text));
  }
  double units = host.availableMemory();
  std::string line = units >= 0 && !zul_is_missing(units)
                         ? formatLiteral("%3zAt least %g bytes of memory are available.",
                                         {units * 1000.0})
                         : std::string("%3zCannot determine how much memory is available.");
  int rc2 = writeCatalogLine(tk, prefixLevel(line), withoutPrefix(line));
  return std::max(rc, rc2);
}

// ---- message-text store ----

const char* zmsgsav(Host& host, int mode, int number, char* destination, int maxLength,
                    int* length) {
  if (length) *length = 0;
  if (mode == kStoreClose || mode == kStoreRelease) {
    if (MessageStore* store = currentStore(host)) {
      freeBlocks(host, store);
      if (mode == kStoreClose) {
        host.release(store);
        if (void** slot = host.stepSlot(ZUL_SLOT_MESSAGES)) *slot = nullptr;
      }
    }
    return "";
  }
  if (mode == kStoreOpen) {
    if (!openStore(host, number)) {
      host.statusReport(-1);
      return noText(length);
    }
    return "";
  }

  const int group = mode;
  int status = 0;
  std::string text = host.messageText(group, number, &status);
  if (status < 0) text = kNoText;
  const int textLength = static_cast<int>(text.size());
  if (maxLength < 0 || (destination && maxLength == 0)) {
    // The destination's size is unknown: copying the text's own length
    // into it could run past its end.
    host.logLine(ZUL_LOG_PLAIN, formatLiteral("error in message file: group=%i message=%i "
                                              "length=%i; %s",
                                              {group, number, textLength, text}));
    host.logLine(ZUL_LOG_PLAIN, "a destination needs a maximum length above 0.");
    return noText(length);
  }
  int limit = maxLength == 0 ? textLength : maxLength;
  if (textLength > limit) {
    host.logLine(ZUL_LOG_PLAIN,
                 formatLiteral("error in message file: group=%i message=%i length=%i; %s",
                               {group, number, textLength, text}));
    host.logLine(ZUL_LOG_PLAIN, formatLiteral("message length exceeds maximum allowed length of %i.",
                                              {limit}));
    text.resize(static_cast<size_t>(limit));
  }
  const size_t n = text.size();
  char* dest = destination;
  if (!dest) {
    MessageStore* store = currentStore(host);
    if (!store) store = openStore(host, 0);
    dest = store ? storeTake(host, store, static_cast<size_t>(limit) + 1) : nullptr;
    if (!dest) {
      std::string line = formatLiteral(
          "%1zOut of memory in zmsgsav for group=%i message=%i msglen=%i len=%i.",
          {group, number, textLength, limit});
      host.logLine(prefixLevel(line), withoutPrefix(line));
      host.statusReport(-1);
      return noText(length);
    }
  }
  std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
  if (length) *length = static_cast<int>(n);
  return dest;
}

// ---- text lists ----

TextList* textListCreate(Host& host, std::string_view name) {
  auto* list = static_cast<TextList*>(host.alloc(sizeof(TextList), kPoolPlain));
  if (!list) return nullptr;
  *list = TextList{nullptr, nullptr, 0, nullptr};
  if (!name.empty()) {
    auto* copy = static_cast<char*>(host.alloc(static_cast<double>(name.size()) + 1, kPoolPlain));
    if (copy) {
      std::memcpy(copy, name.data(), name.size());
      copy[name.size()] = '\0';
      list->name = copy;
    }
  }
  return list;
}

bool textListAdd(Host& host, TextList* list, std::string_view text, uint32_t layout) {
  if (!list) return false;
  auto* piece = static_cast<TextPiece*>(
      host.alloc(static_cast<double>(sizeof(TextPiece) + text.size() + 1), kPoolPlain));
  if (!piece) return false;
  char* chars = reinterpret_cast<char*>(piece + 1);
  std::memcpy(chars, text.data(), text.size());
  chars[text.size()] = '\0';
  *piece = TextPiece{nullptr, static_cast<int64_t>(text.size()), layout, chars};
  if (list->last) list->last->next = piece;
  else list->first = piece;
  list->last = piece;
  ++list->count;
  return true;
}

void textListFreePieces(Host& host, TextList* list) {
  if (!list) return;
  for (TextPiece* p = list->first; p;) {
    TextPiece* next = p->next;
    host.release(p);
    p = next;
  }
  list->first = list->last = nullptr;
  list->count = 0;
}

void textListRelease(Host& host, TextList* list) {
  if (!list) return;
  textListFreePieces(host, list);
  host.release(const_cast<char*>(list->name));
  host.release(list);
}

int zcatp(Host& host, TextList* list, const zul_pool* pool, char** out, int64_t* outLength,
          uint32_t flags) {
  if (out) *out = nullptr;
  if (outLength) *outLength = 0;

  if (flags & kJoinPrint) {
    host.logText("zcatp");
    if (!list || !list->first) {
      host.logText("No list to print");
    } else {
      int depth = 0;
      for (const TextPiece* p = list->first; p; p = p->next) {
        if (p->layout & kPieceCloseBefore) depth = std::max(0, depth - 1);
        std::string line(static_cast<size_t>(2 * depth), ' ');
        line.append(p->text, static_cast<size_t>(std::max<int64_t>(0, p->length)));
        host.logText(line);
        if (p->layout & (kPieceOpenBefore | kPieceOpenAfter))
          depth += (p->layout & kPieceDoubleIndent) ? 2 : 1;
        if (p->layout & kPieceCloseAfter) depth = std::max(0, depth - 1);
      }
    }
  }

  // The size in double precision, so that a sum beyond 2^63 cannot wrap.
  double size = 1.0;
  if (list)
    for (const TextPiece* p = list->first; p; p = p->next)
      size += static_cast<double>(std::max<int64_t>(0, p->length));

  char* buffer = nullptr;
  if (size < kLargestRequest) {
    if (pool && pool->alloc) buffer = static_cast<char*>(pool->alloc(static_cast<size_t>(size), kPoolJoin));
    else buffer = static_cast<char*>(host.alloc(size, kPoolJoin));
  }

  int rc = 0;
  if (!buffer) {
    constexpr double kGiga = 1073741824.0, kMega = 1048576.0, kKilo = 1024.0;
    if (size > kLargestRequest)
      host.catalogNote(catalog::kTextListTooLarge, {size / kGiga, kLargestRequest});
    else if (size > kGiga) host.catalogNote(catalog::kTextListNoMemoryGB, {size / kGiga});
    else if (size > kMega) host.catalogNote(catalog::kTextListNoMemoryMB, {size / kMega});
    else if (size > kKilo) host.catalogNote(catalog::kTextListNoMemoryKB, {size / kKilo});
    else host.catalogNote(catalog::kTextListNoMemory, {size});
    if (list)
      host.catalogNote(catalog::kTextListPieces,
                       {list->count, list->count, std::string_view(list->name ? list->name : "")});
    else
      host.catalogNote(catalog::kNoTextList);
    rc = kCodeMemory;
  } else {
    char* p = buffer;
    if (list)
      for (const TextPiece* piece = list->first; piece; piece = piece->next) {
        if (piece->length <= 0) continue;
        std::memcpy(p, piece->text, static_cast<size_t>(piece->length));
        p += piece->length;
      }
    *p = '\0';
    if (out) {
      *out = buffer;
    } else if (pool && pool->alloc) {
      if (pool->release) pool->release(buffer, 0, 4);
    } else {
      host.release(buffer);
    }
    if (outLength) *outLength = static_cast<int64_t>(p - buffer);
  }

  if (list) {
    if (flags & kJoinRelease) textListRelease(host, list);
    else if (!(flags & kJoinKeepPieces)) textListFreePieces(host, list);
  }
  return rc;
}

}  // namespace zulfact
