#include "chat/echo_script.h"

#include "chat/ansi_search.h"
#include "chat/html_escape.h"
#include "platform/win/codepage.h"

namespace {

constexpr std::string_view kCellStart =
    "<td align=right><table width=97% border=0 cellpadding=0 cellspacing=0><tr><td>";
constexpr std::string_view kCellEnd = "</td></tr></table></td>";

// A value shown as element text of the fragment.
std::string Shown(std::string_view value) { return EscapeScriptString(HtmlEscape(value)); }

// A value used as an unquoted attribute value (an address): blanks, control
// bytes and backquotes would end or bend the attribute, so they are
// percent-encoded first. None of them is ever a trailing byte in GBK.
std::string Address(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : value) {
    auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F || c == '`') {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    } else {
      encoded += c;
    }
  }
  return EscapeScriptString(HtmlEscape(encoded));
}

std::string ContentRow(std::string_view text) {
  std::string row = "  <tr>  \t";
  row += kCellStart;
  if (text.starts_with("http://")) {
    row += "<a href=" + Address(text) + " target=_blank>" + Shown(text) + "</a>";
  } else {
    row += Shown(text);
  }
  row += kCellEnd;
  row += "  </tr>";
  return row;
}

std::string AttachmentRow(EchoPoster poster, std::string_view adjunct) {
  std::string row = "  <tr>";
  row += kCellStart;
  row += "<a href=files/" + Address(adjunct) + " target=_blank>" + Shown(adjunct) + "</a>";
  row += kCellEnd;
  row += poster == EchoPoster::kVisitor ? "  </tr>" : "</tr>";
  return row;
}

}  // namespace

std::string BuildEchoScript(EchoPoster poster, std::string_view timestamp, std::string_view text,
                            std::string_view adjunct) {
  std::string script = "window.top.fresh.chatmsglist.AddMsg('";
  script += "<div align=center><table width=98%  border=0 cellspacing=0 cellpadding=0>";
  script += "\t\t<tr>\t\t<td align=left><font color=#990000>";
  script += AnsiText("我 说：");
  script += "</font>&nbsp;&nbsp;<font color=#6666FF>(";
  script += Shown(timestamp);
  script += ")</font></td>\t\t</tr>";
  if (!text.empty()) script += ContentRow(text);
  if (!adjunct.empty()) script += AttachmentRow(poster, adjunct);
  script += "</table></div>";
  script += "');";
  return script;
}

std::string EscapeScriptString(std::string_view text) {
  const bool utf8 = GetACP() == CP_UTF8;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = AnsiCharLength(text, i);
    if (length > 1) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    const char c = text[i];
    if (utf8 && text.substr(i).starts_with("\xE2\x80\xA8")) {
      out += "\\u2028";
      i += 3;
      continue;
    }
    if (utf8 && text.substr(i).starts_with("\xE2\x80\xA9")) {
      out += "\\u2029";
      i += 3;
      continue;
    }
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\'':
        out += "\\'";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '/':
        out += (i > 0 && text[i - 1] == '<') ? "\\/" : "/";
        break;
      default:
        out += c;
    }
    ++i;
  }
  return out;
}
