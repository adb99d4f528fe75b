#include "base/message_sink.h"

#include <cstdio>
#include <mutex>

namespace marbloom {
namespace {

std::mutex g_mutex;
MessageSink g_sink;

}  // namespace

void SetMessageSink(MessageSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_sink = std::move(sink);
}

void ShowMessage(const std::string& text, const std::string& caption) {
  MessageSink sink;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    sink = g_sink;
  }
  if (sink) {
    sink(text, caption);
    return;
  }
  std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace marbloom
