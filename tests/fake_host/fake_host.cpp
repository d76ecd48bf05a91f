#include "fake_host.hpp"

#include <cstdio>
#include <stdexcept>

namespace zul_test {
namespace {

FakeHost* g_current = nullptr;

std::string argText(const zul_arg& a) {
  switch (a.kind) {
    case ZUL_ARG_INT:
      return std::to_string(a.v.i);
    case ZUL_ARG_DOUBLE: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%g", a.v.d);
      return buf;
    }
    case ZUL_ARG_TEXT:
      if (!a.v.text) return "";
      return a.length < 0 ? std::string(a.v.text)
                          : std::string(a.v.text, static_cast<size_t>(a.length));
    default:
      return "?";
  }
}

void message(int32_t group, int32_t number, const zul_arg* args, int32_t nArgs) {
  Message m{group, number, {}};
  for (int32_t i = 0; i < nArgs; ++i) m.args.push_back(argText(args[i]));
  FakeHost::current().messages.push_back(std::move(m));
}

void logLine(int32_t level, const char* text, int32_t length) {
  FakeHost::current().logLines.emplace_back(level, std::string(text, static_cast<size_t>(length)));
}

}  // namespace

std::string Message::text() const {
  std::string s = std::to_string(group) + "/" + std::to_string(number);
  for (size_t i = 0; i < args.size(); ++i) s += (i ? "|" : " ") + args[i];
  return s;
}

FakeHost::FakeHost() {
  if (g_current) throw std::logic_error("one FakeHost at a time");
  g_current = this;
  vector_[ZUL_SV_GROUPS] = groups_.data();
  vector_[ZUL_SV_USED] = used_.data();
}

FakeHost::~FakeHost() { g_current = nullptr; }

FakeHost& FakeHost::current() {
  if (!g_current) throw std::logic_error("a service was called with no FakeHost");
  return *g_current;
}

void FakeHost::provide(int service, zul_fn fn) {
  const int group = service / 1000, slot = service % 1000;
  if (group < 0 || group >= ZUL_GROUP_COUNT || slot < 0 || slot >= ZUL_SLOTS_PER_GROUP)
    throw std::out_of_range("no such service: " + std::to_string(service));
  std::vector<zul_fn>& g = slots_[group];
  if (g.empty()) g.assign(ZUL_SLOTS_PER_GROUP, nullptr);
  g[static_cast<size_t>(slot)] = fn;
  groups_[static_cast<size_t>(group)] = g.data();
}

void FakeHost::recordMessages() { provide(ZUL_MESSAGE, &message); }
void FakeHost::recordLogLines() { provide(ZUL_LOG_LINE, &logLine); }

bool FakeHost::issued(int group, int number) const {
  for (const Message& m : messages)
    if (m.group == group && m.number == number) return true;
  return false;
}

std::vector<std::string> FakeHost::messageTexts() const {
  std::vector<std::string> out;
  for (const Message& m : messages) out.push_back(m.text());
  return out;
}

}  // namespace zul_test
