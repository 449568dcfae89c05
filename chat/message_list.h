// The message list document that a poll writes into the chat page's message
// frame: a style block, a table, and per message a header row (sender and
// time), a content row and an attachment row. Every value is HTML-escaped on
// its way in; values without & < > " ' appear exactly as given.
#pragma once

#include <string>
#include <string_view>

#include "text/text_catalog.h"

// Whose page the document is for: the operator's page heads visitors'
// messages with the visitor's name; the visitor's page never does.
enum class MessageView { kOperator, kVisitor };

enum class HeaderKind { kSystem, kOperator, kVisitor };

// Operator view: a message with a visitor label is a visitor's (the system
// flag is not consulted), else system or operator. Visitor view: system or
// operator.
HeaderKind ChooseHeaderKind(MessageView view, std::string_view cst_label, bool is_system);

// The nickname without leading white space; when that is empty, "客户"
// (in `language`) followed by the label.
std::string VisitorDisplayName(std::string_view nickname, std::string_view cst_label,
                               TextLanguage language = TextLanguage::kChinese);

class MessageListDocument {
 public:
  // Starts with the style block and the table; sender lines in `language`.
  explicit MessageListDocument(TextLanguage language = TextLanguage::kChinese);

  // Appends one message's rows. `sender` is the operator's or visitor's name
  // (unused for a system message). The content row is left out when the
  // content is empty after its leading white space; the attachment row when
  // the attachment is empty.
  void AppendMessage(HeaderKind kind, std::string_view sender, std::string_view time,
                     std::string_view content, std::string_view attachment);

  // Closes the table and gives the whole document.
  std::string Finish() &&;

 private:
  void AppendHeaderCell(HeaderKind kind, std::string_view sender, std::string_view time);
  void AppendContentCell(std::string_view content);
  void AppendAttachmentCell(std::string_view attachment);

  TextLanguage language_;
  std::string text_;
};

// `text` without the spaces, tabs, line feeds, vertical tabs, form feeds and
// carriage returns at its start.
std::string_view TrimLeadingWhiteSpace(std::string_view text);
