// A stand-in for the host program behind the service vector of
// include/zul/abi.h, for the module's unit tests: the module runs inside
// zul, a separate binary, and its tests link none of zul's code. A test
// provides the services it needs by their names in abi.h
// (fake.provide(ZUL_MESSAGE, &message)); every other slot is empty, as a
// host that lacks the service would leave it. Common services that record
// what the module asked for are ready-made (recordMessages,
// recordLogLines). Services are C function pointers without user data, so
// one FakeHost exists at a time (FakeHost::current()).
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "zul/abi.h"

namespace zul_test {

// A numbered message (39/70) as the module issued it; arguments as text
// (numbers written with %g or as integers).
struct Message {
  int group;
  int number;
  std::vector<std::string> args;
  // "group/number", then the arguments after a blank, joined by "|":
  // "180/903 vector index 12".
  std::string text() const;
};

class FakeHost {
 public:
  FakeHost();
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  static FakeHost& current();

  // Puts fn into the slot of service (ZUL_MESSAGE, ZUL_END_STEP, ...);
  // null empties it.
  void provide(int service, zul_fn fn);
  template <class R, class... A>
  void provide(int service, R (*fn)(A...)) {
    provide(service, reinterpret_cast<zul_fn>(fn));
  }
  void setPool(const zul_pool* pool) { vector_[ZUL_SV_POOL] = const_cast<zul_pool*>(pool); }
  void setToolkit(const zul_toolkit* toolkit) {
    vector_[ZUL_SV_TOOLKIT] = const_cast<zul_toolkit*>(toolkit);
  }

  // The service vector, as mcn_main and the module's Host::attach take it.
  void** vector() { return vector_.data(); }
  // Whether the module looked up a service of this group.
  bool groupUsed(int group) const { return used_[static_cast<size_t>(group)] != 0; }

  // Ready-made services.
  void recordMessages();   // 39/70 into messages
  void recordLogLines();   // 39/89 into logLines

  std::vector<Message> messages;
  std::vector<std::pair<int, std::string>> logLines;  // level, text

  // Whether a message group/number was issued.
  bool issued(int group, int number) const;
  // The messages as text (Message::text), in order.
  std::vector<std::string> messageTexts() const;

 private:
  std::map<int, std::vector<zul_fn>> slots_;  // by group
  std::array<const zul_fn*, ZUL_GROUP_COUNT> groups_{};
  std::array<uint8_t, ZUL_GROUP_COUNT> used_{};
  std::array<void*, ZUL_SV_WORDS> vector_{};
};

}  // namespace zul_test
