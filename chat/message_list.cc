#include "chat/message_list.h"

#include "chat/markup.h"
#include "text/html_escape.h"

namespace {

constexpr std::string_view kDocumentStart =
    "<style type='text/css'><!--body {\tmargin-left: 0px; margin-top: 0px; margin-right: 0px; "
    "margin-bottom: 0px;}--></style>"
    "<div align='center'><table width='98%'  border='0' cellspacing='0' cellpadding='0'>";
constexpr std::string_view kDocumentEnd = "</table></div>";
constexpr std::string_view kBodyCellStart =
    "<td align='right'><table width='97%' border='0' cellpadding='0' cellspacing='0'><tr><td>";
constexpr std::string_view kBodyCellEnd = "</td></tr></table></td>";
constexpr std::string_view kBareLinkPrefix = "http://";

}  // namespace

std::string_view TrimLeadingWhiteSpace(std::string_view text) {
  size_t start = text.find_first_not_of(" \t\n\v\f\r");
  return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

HeaderKind ChooseHeaderKind(MessageView view, std::string_view cst_label, bool is_system) {
  if (view == MessageView::kOperator && !cst_label.empty()) return HeaderKind::kVisitor;
  return is_system ? HeaderKind::kSystem : HeaderKind::kOperator;
}

std::string VisitorDisplayName(std::string_view nickname, std::string_view cst_label,
                               TextLanguage language) {
  std::string_view trimmed = TrimLeadingWhiteSpace(nickname);
  if (!trimmed.empty()) return std::string(trimmed);
  return CatalogText(language, ComponentText::kCustomerPrefix) + std::string(cst_label);
}

MessageListDocument::MessageListDocument(TextLanguage language)
    : language_(language), text_(kDocumentStart) {}

void MessageListDocument::AppendMessage(HeaderKind kind, std::string_view sender,
                                        std::string_view time, std::string_view content,
                                        std::string_view attachment) {
  text_ += "<tr>";
  AppendHeaderCell(kind, sender, time);
  text_ += "</tr>";
  std::string_view trimmed = TrimLeadingWhiteSpace(content);
  if (!trimmed.empty()) {
    text_ += "<tr>";
    AppendContentCell(trimmed);
    text_ += "</tr>";
  }
  if (!attachment.empty()) {
    text_ += "<tr>";
    AppendAttachmentCell(attachment);
    text_ += "</tr>";
  }
}

std::string MessageListDocument::Finish() && {
  text_ += kDocumentEnd;
  return std::move(text_);
}

void MessageListDocument::AppendHeaderCell(HeaderKind kind, std::string_view sender,
                                           std::string_view time) {
  text_ += "<td align='left'><font color='#990000'>";
  if (kind == HeaderKind::kSystem) {
    text_ += CatalogText(language_, ComponentText::kSystemMessage);
  } else {
    AppendHtmlEscaped(text_, sender);
    text_ += CatalogText(language_, ComponentText::kSaysSuffix);
  }
  text_ += "</font>&nbsp;&nbsp;<font color='#6666FF'>(";
  AppendHtmlEscaped(text_, time);
  text_ += ")</font></td>";
}

void MessageListDocument::AppendContentCell(std::string_view content) {
  std::string escaped = HtmlEscape(DecodeUnicodeEscapes(content));
  text_ += kBodyCellStart;
  if (escaped.starts_with(kBareLinkPrefix)) {
    text_ += "<a href='";
    text_ += escaped;
    text_ += "' target='_blank'>";
    text_ += escaped;
    text_ += "</a>";
  } else {
    text_ += ConvertLinkMarkers(escaped);
  }
  text_ += kBodyCellEnd;
}

void MessageListDocument::AppendAttachmentCell(std::string_view attachment) {
  std::string escaped = HtmlEscape(attachment);
  text_ += kBodyCellStart;
  text_ += "<a href='files\\";
  text_ += escaped;
  text_ += "' target='_blank'>";
  text_ += escaped;
  text_ += "</a>";
  text_ += kBodyCellEnd;
}
