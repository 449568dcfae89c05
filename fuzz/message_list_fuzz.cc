// The message list document of a poll: whatever the sender's name, time,
// message text and attachment name, the document holds only the chat's own
// markup, no '"', and no link that can run script.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "chat/message_list.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/markup_properties.h"
#include "platform/win/codepage.h"

namespace {

// The tags the document itself is made of, besides the message markup.
constexpr std::string_view kDocumentTags[] = {
    "<style type='text/css'>", "<!--body {", "</style>", "<div align='center'>", "</div>",
    "<table ",  "</table>", "<tr>", "</tr>", "<td align='", "<td>", "</td>", "<font color='#", "</font>",
    "<a href='", "<a target='_blank' href='", "</a>", "<img src='images/face/"};

bool OnlyDocumentMarkup(std::string_view html) {
  if (html.find('"') != std::string_view::npos) return false;
  for (size_t lt = html.find('<'); lt != std::string_view::npos; lt = html.find('<', lt + 1)) {
    bool known = false;
    for (std::string_view tag : kDocumentTags) known = known || html.substr(lt).starts_with(tag);
    if (!known) {
      std::fprintf(stderr, "unexpected markup at %zu: %.40s\n", lt, html.data() + lt);
      return false;
    }
  }
  return true;
}

size_t Count(std::string_view text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zelto::fuzz::FuzzInput input(data, size);
  const uint8_t choice = input.Byte();
  SetAnsiCodePage(choice & 1 ? CP_GBK : CP_UTF8);
  const HeaderKind kind = static_cast<HeaderKind>((choice >> 1) % 3);
  const std::string_view sender = input.Next();
  const std::string_view time = input.Next();
  const std::string_view content = input.Next();
  const std::string_view attachment = input.Next();

  MessageListDocument document;
  document.AppendMessage(kind, sender, time, content, attachment);
  document.AppendMessage(HeaderKind::kOperator, time, sender, attachment, content);
  const std::string html = std::move(document).Finish();
  FUZZ_CHECK(OnlyDocumentMarkup(html), "the document holds markup from a value");
  FUZZ_CHECK(zelto::fuzz::AllLinksSafe(html), "a link in the document can run script");
  FUZZ_CHECK(Count(html, "<tr>") == Count(html, "</tr>"), "rows are not balanced");
  FUZZ_CHECK(Count(html, "<td") == Count(html, "</td>"), "cells are not balanced");
  FUZZ_CHECK(html.ends_with("</table></div>"), "the document is not closed");

  const std::string_view trimmed = TrimLeadingWhiteSpace(content);
  FUZZ_CHECK(content.ends_with(trimmed), "trimming took bytes from the end");
  FUZZ_CHECK(trimmed.empty() || std::string_view(" \t\n\v\f\r").find(trimmed[0]) == std::string_view::npos,
             "trimming left a leading blank");
  return 0;
}
