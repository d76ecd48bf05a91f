// Catalog texts: fetching one with its arguments, its "%1z" / "%2z" / "%3z"
// level prefix, and writing it as a log line. Shared by Host::catalogNote
// and the memory report (host/messages.cpp); internal to this folder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zulfact/state/codes.hpp"
#include "zulfact/host/host.hpp"
#include "zul/abi.h"

namespace zulfact::catalog_text {

// Log level of a "%1z" / "%2z" / "%3z" prefix; ZUL_LOG_PLAIN without one.
inline int prefixLevel(std::string_view text) {
  if (text.size() < 3 || text[0] != '%' || text[2] != 'z') return ZUL_LOG_PLAIN;
  switch (text[1]) {
    case '1': return ZUL_LOG_ERROR;
    case '2': return ZUL_LOG_WARNING;
    case '3': return ZUL_LOG_NOTE;
    default: return ZUL_LOG_PLAIN;
  }
}

inline std::string_view withoutPrefix(std::string_view text) {
  return prefixLevel(text) == ZUL_LOG_PLAIN ? text : text.substr(3);
}

// Fetches the catalog text of id with its arguments: a 100-character
// buffer first, and when the catalog reports a longer text, a temporary
// block of twice its length. Returns 0, or kCodeEngine when nothing usable
// came. tk->catalogFetch must be set.
inline int fetchCatalogText(Host& host, const zul_toolkit* tk, uint32_t id, Args args,
                            std::string& text) {
  constexpr uint32_t kPoolTemporary = 8192;
  std::vector<zul_arg> raw;
  raw.reserve(args.size());
  for (const Arg& a : args) raw.push_back(a.raw);
  const int32_t nArgs = static_cast<int32_t>(raw.size());
  char first[101];
  int32_t n = tk->catalogFetch(id, raw.data(), nArgs, first, sizeof first);
  if (n < 0) {
    if (tk->catalogError) tk->catalogError(3, n);
    return kCodeEngine;
  }
  if (n <= 100) {
    text.assign(first, static_cast<size_t>(n));
    return 0;
  }
  char* block = static_cast<char*>(host.alloc(2.0 * n, kPoolTemporary));
  if (!block) {
    host.statusReport(-1);
    text.assign(first, 100);
    return 0;
  }
  int32_t m = tk->catalogFetch(id, raw.data(), nArgs, block, 2 * n);
  if (m < 0) {
    if (tk->catalogError) tk->catalogError(3, m);
    text.assign(first, 100);
  } else {
    text.assign(block, static_cast<size_t>(std::min(m, 2 * n - 1)));
  }
  host.release(block);
  return 0;
}

// Writes text at level through the catalog log. Returns 0, or kCodeEngine
// when the log refused it. tk->catalogLog must be set.
inline int writeCatalogLine(const zul_toolkit* tk, int level, std::string_view text) {
  int32_t st = tk->catalogLog(level, text.data(), static_cast<int32_t>(text.size()));
  if (st != 0) {
    if (tk->catalogError) tk->catalogError(4, st);
    return kCodeEngine;
  }
  return 0;
}

}  // namespace zulfact::catalog_text
