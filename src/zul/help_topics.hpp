// zul/help_topics.hpp -- the texts of `zul --help TOPIC`.
#pragma once

#include <optional>
#include <string>

namespace zul {

// The text of `zul --help TOPIC` (the topic in any case); nothing for an
// unknown topic. FACTOR is the option reference, docs/factor-options.md
// embedded at build time.
std::optional<std::string> helpTopicText(const std::string& topic);

// The topics, for the message about an unknown one ("FACTOR").
std::string helpTopicNames();

// Writes `zul --help` (topic "") or `zul --help TOPIC` to standard output
// and returns the exit status: 0, or 2 with a message for an unknown topic.
int printHelp(const std::string& topic);

}  // namespace zul
