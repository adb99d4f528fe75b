#pragma once
// Message boxes of the core (start-up and data-tree faults) go through a sink
// that the window program turns into real message boxes. Without a sink the
// message goes to standard error.
#include <functional>
#include <string>

namespace marbloom {

using MessageSink = std::function<void(const std::string& text, const std::string& caption)>;

void SetMessageSink(MessageSink sink);
void ShowMessage(const std::string& text, const std::string& caption = std::string());

}  // namespace marbloom
