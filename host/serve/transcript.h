// A conversation's transcript as a file to read or keep: plain text (one
// line per message: time, sender, text) or a small HTML document with every
// value escaped. Senders' names fall back to "Visitor <label>" and system
// lines are marked, in the page's language ("en" or "zh").
#pragma once

#include <string>
#include <vector>

#include "host/serve/chat_history.h"

namespace zelto::serve {

struct TranscriptHeading {
  LONG cid = 0;
  std::string language;  // "en" or "zh"
};

std::string TranscriptText(const TranscriptHeading& heading,
                           const std::vector<TranscriptLine>& lines);
std::string TranscriptHtml(const TranscriptHeading& heading,
                           const std::vector<TranscriptLine>& lines);

}  // namespace zelto::serve
