#include "chat/echo_script.h"

#include "text/script_string.h"
#include "text/url_encode.h"

namespace {

constexpr std::string_view kCellStart =
    "<td align=right><table width=97% border=0 cellpadding=0 cellspacing=0><tr><td>";
constexpr std::string_view kCellEnd = "</td></tr></table></td>";

// A value shown as element text of the fragment.
std::string Shown(std::string_view value) { return EscapeHtmlInScriptString(value); }

// A value used as an unquoted attribute value (an address).
std::string Address(std::string_view value) {
  return EscapeHtmlInScriptString(PercentEncodeAttributeBreaks(value));
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
                            std::string_view adjunct, TextLanguage language) {
  std::string script = "window.top.fresh.chatmsglist.AddMsg('";
  script += "<div align=center><table width=98%  border=0 cellspacing=0 cellpadding=0>";
  script += "\t\t<tr>\t\t<td align=left><font color=#990000>";
  script += CatalogText(language, ComponentText::kOwnSenderLine);
  script += "</font>&nbsp;&nbsp;<font color=#6666FF>(";
  script += Shown(timestamp);
  script += ")</font></td>\t\t</tr>";
  if (!text.empty()) script += ContentRow(text);
  if (!adjunct.empty()) script += AttachmentRow(poster, adjunct);
  script += "</table></div>";
  script += "');";
  return script;
}
