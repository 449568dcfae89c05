#include "platform/win/message_box.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/win/codepage.h"

namespace {

std::mutex& SinkMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}

MessageBoxSink& Sink() {
  static auto* sink = new MessageBoxSink;
  return *sink;
}

// One log line per box: CR and LF are written as the two-character escapes.
std::string OneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

int MessageBoxA(void* owner, const char* text, const char* caption, UINT type) {
  // Windows shows "Error" as the caption when none is given.
  const std::string caption_utf8 = caption ? AnsiToUtf8(caption) : std::string("Error");
  const std::string text_utf8 = text ? AnsiToUtf8(text) : std::string();
  MessageBoxSink sink;
  {
    std::lock_guard lock(SinkMutex());
    sink = Sink();
  }
  if (sink) {
    sink(caption_utf8, text_utf8);
  } else {
    const std::string line =
        "[message box] " + OneLine(caption_utf8) + ": " + OneLine(text_utf8) + "\n";
    std::fputs(line.c_str(), stderr);
  }
  return IDOK;
}

void SetMessageBoxSink(MessageBoxSink sink) {
  std::lock_guard lock(SinkMutex());
  Sink() = std::move(sink);
}
