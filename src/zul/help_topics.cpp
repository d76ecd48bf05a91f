#include "zul/help_topics.hpp"

#include "zul/cli.hpp"

#include <cctype>
#include <iostream>
#include <string_view>

namespace zul {

namespace detail {
// docs/factor-options.md, generated into the build (factor_reference.cpp.in).
extern const std::string_view kFactorReference;
}  // namespace detail

std::optional<std::string> helpTopicText(const std::string& topic) {
  std::string upper;
  for (char c : topic) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "FACTOR") return std::string(detail::kFactorReference);
  return std::nullopt;
}

std::string helpTopicNames() { return "FACTOR"; }

int printHelp(const std::string& topic) {
  if (topic.empty()) {
    std::cout << helpText();
    return 0;
  }
  std::optional<std::string> text = helpTopicText(topic);
  if (!text) {
    std::cerr << "zul: no help on '" << topic << "'; topics: " << helpTopicNames() << "\n";
    return program::kExitStopped;
  }
  std::cout << *text;
  return 0;
}

}  // namespace zul
