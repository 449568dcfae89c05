#include "host/serve/transcript.h"

#include "text/html_escape.h"

namespace zelto::serve {
namespace {

struct Words {
  const char* title;     // before the conversation number
  const char* system;    // a system line's sender
  const char* visitor;   // before a visitor's label when it has no name
  const char* operator_; // an operator without a name
  const char* file;      // before an attachment
};

const Words& WordsFor(const std::string& language) {
  static const Words kEnglish{"Conversation ", "System", "Visitor ", "Operator", "File: "};
  static const Words kChinese{"会话 ", "系统消息", "客户", "客服", "文件："};
  return language == "zh" ? kChinese : kEnglish;
}

std::string Sender(const TranscriptLine& line, const Words& words) {
  switch (line.kind) {
    case TranscriptLine::Kind::kSystem: return words.system;
    case TranscriptLine::Kind::kOperator:
      return line.sender.empty() ? words.operator_ : line.sender;
    case TranscriptLine::Kind::kVisitor: {
      const size_t start = line.sender.find_first_not_of(" \t\r\n");
      return start == std::string::npos ? words.visitor + line.label : line.sender.substr(start);
    }
  }
  return "";
}

}  // namespace

std::string TranscriptText(const TranscriptHeading& heading,
                           const std::vector<TranscriptLine>& lines) {
  const Words& words = WordsFor(heading.language);
  std::string out = words.title + std::to_string(heading.cid) + "\n\n";
  for (const TranscriptLine& line : lines) {
    out += "[" + line.time + "] " + Sender(line, words) + ": " + line.text + "\n";
    if (!line.attachment.empty()) out += "    " + std::string(words.file) + line.attachment + "\n";
  }
  return out;
}

std::string TranscriptHtml(const TranscriptHeading& heading,
                           const std::vector<TranscriptLine>& lines) {
  const Words& words = WordsFor(heading.language);
  const std::string title = words.title + std::to_string(heading.cid);
  std::string out = "<!DOCTYPE html>\n<html lang=\"" + HtmlEscape(heading.language) +
                    "\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + HtmlEscape(title) +
                    "</title>\n<style>body{font:14px/1.5 sans-serif;max-width:50em;margin:2em "
                    "auto;padding:0 1em}.m{margin:.6em 0}.h{color:#666;font-size:12px}.t{"
                    "white-space:pre-wrap}.visitor .h{color:#1a6}.system{color:#888}</style>\n"
                    "</head>\n<body>\n<h1>" +
                    HtmlEscape(title) + "</h1>\n";
  for (const TranscriptLine& line : lines) {
    const char* kind = line.kind == TranscriptLine::Kind::kVisitor    ? "visitor"
                       : line.kind == TranscriptLine::Kind::kOperator ? "operator"
                                                                      : "system";
    out += "<div class=\"m " + std::string(kind) + "\"><div class=\"h\">" +
           HtmlEscape(Sender(line, words)) + " " + HtmlEscape(line.time) +
           "</div><div class=\"t\">" + HtmlEscape(line.text) + "</div>";
    if (!line.attachment.empty())
      out += "<div class=\"f\">" + HtmlEscape(words.file) + HtmlEscape(line.attachment) + "</div>";
    out += "</div>\n";
  }
  return out + "</body>\n</html>\n";
}

}  // namespace zelto::serve
