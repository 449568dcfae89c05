#include "chat/message_list.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win/codepage.h"

namespace {

// The document's fixed pieces, written out once here so that a change to any
// fragment in the renderer shows up.
const std::string kStart =
    "<style type='text/css'><!--body {\tmargin-left: 0px; margin-top: 0px; margin-right: 0px; "
    "margin-bottom: 0px;}--></style><div align='center'><table width='98%'  border='0' "
    "cellspacing='0' cellpadding='0'>";
const std::string kEnd = "</table></div>";
const std::string kSays = "\xCB\xB5\xA3\xBA";                   // 说：
const std::string kSystem = "\xCF\xB5\xCD\xB3\xCF\xFB\xCF\xA2";  // 系统消息
const std::string kCustomer = "\xBF\xCD\xBB\xA7";                // 客户

std::string NamedHeader(const std::string& name, const std::string& time) {
  return "<tr><td align='left'><font color='#990000'>" + name + " " + kSays +
         "</font>&nbsp;&nbsp;<font color='#6666FF'>(" + time + ")</font></td></tr>";
}

std::string SystemHeader(const std::string& time) {
  return "<tr><td align='left'><font color='#990000'>" + kSystem +
         "</font>&nbsp;&nbsp;<font color='#6666FF'>(" + time + ")</font></td></tr>";
}

std::string BodyRow(const std::string& inner) {
  return "<tr><td align='right'><table width='97%' border='0' cellpadding='0' "
         "cellspacing='0'><tr><td>" +
         inner + "</td></tr></table></td></tr>";
}

class MessageListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetAnsiCodePage(CP_GBK)); }

  std::string Render(HeaderKind kind, const std::string& sender, const std::string& content,
                     const std::string& attachment = "") {
    MessageListDocument document;
    document.AppendMessage(kind, sender, "T", content, attachment);
    return std::move(document).Finish();
  }
};

TEST_F(MessageListTest, EmptyDocumentIsTheFrame) {
  EXPECT_EQ(MessageListDocument().Finish(), kStart + kEnd);
}

TEST_F(MessageListTest, OperatorMessageWithFace) {
  EXPECT_EQ(Render(HeaderKind::kOperator, "Op1", "Hi :#3#"),
            kStart + NamedHeader("Op1", "T") +
                BodyRow("Hi <img src='images/face/3.gif' border=0>") + kEnd);
}

TEST_F(MessageListTest, HeaderKinds) {
  EXPECT_EQ(Render(HeaderKind::kSystem, "ignored", ""), kStart + SystemHeader("T") + kEnd);
  EXPECT_EQ(Render(HeaderKind::kVisitor, "Tom", ""), kStart + NamedHeader("Tom", "T") + kEnd);
  // An unknown operator: the font tag runs straight into the blank.
  EXPECT_EQ(Render(HeaderKind::kOperator, "", ""), kStart + NamedHeader("", "T") + kEnd);
}

TEST_F(MessageListTest, ChoiceOfHeaderKind) {
  struct Row {
    MessageView view;
    const char* label;
    bool system;
    HeaderKind expected;
  };
  const Row rows[] = {
      {MessageView::kOperator, "ABC", false, HeaderKind::kVisitor},
      {MessageView::kOperator, "ABC", true, HeaderKind::kVisitor},
      {MessageView::kOperator, "", true, HeaderKind::kSystem},
      {MessageView::kOperator, "", false, HeaderKind::kOperator},
      {MessageView::kVisitor, "ABC", false, HeaderKind::kOperator},
      {MessageView::kVisitor, "ABC", true, HeaderKind::kSystem},
      {MessageView::kVisitor, "", true, HeaderKind::kSystem},
      {MessageView::kVisitor, "", false, HeaderKind::kOperator},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ChooseHeaderKind(row.view, row.label, row.system), row.expected)
        << static_cast<int>(row.view) << " '" << row.label << "' " << row.system;
  }
}

TEST_F(MessageListTest, VisitorDisplayName) {
  EXPECT_EQ(VisitorDisplayName(" \t Tom ", "ABC"), "Tom ");
  EXPECT_EQ(VisitorDisplayName(" \r\n\v\f", "ABC"), kCustomer + "ABC");
  EXPECT_EQ(VisitorDisplayName("", "ABC"), kCustomer + "ABC");
}

TEST_F(MessageListTest, BlankContentGivesOnlyTheHeader) {
  EXPECT_EQ(Render(HeaderKind::kOperator, "Op", " \t\r\n"), kStart + NamedHeader("Op", "T") + kEnd);
}

TEST_F(MessageListTest, ContentCells) {
  struct Row {
    const char* name;
    std::string content;
    std::string inner;
  };
  const Row rows[] = {
      {"leading blanks removed before the link test", "  \thttp://a.com/:#3#",
       "<a href='http://a.com/:#3#' target='_blank'>http://a.com/:#3#</a>"},
      {"a later address is no link", "see http://a.com",
       "see http://a.com"},
      {"escapes decoded before the link test", "%u0068ttp://a",
       "<a href='http://a' target='_blank'>http://a</a>"},
      {"upper-case scheme is no bare link", "HTTP://a", "HTTP://a"},
      {"markers and faces", "#link#http://a#link_mid#A :#1##link_end#",
       "<a target='_blank' href='http://a'>A <img src='images/face/1.gif' border=0></a>"},
      {"trailing white space kept", "x \n", "x \n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Render(HeaderKind::kOperator, "Op", row.content),
              kStart + NamedHeader("Op", "T") + BodyRow(row.inner) + kEnd)
        << row.name;
  }
}

TEST_F(MessageListTest, AttachmentCell) {
  EXPECT_EQ(Render(HeaderKind::kOperator, "Op", "", "a b%u0041:#1#.doc"),
            kStart + NamedHeader("Op", "T") +
                BodyRow("<a href='files\\a b%u0041:#1#.doc' target='_blank'>a b%u0041:#1#.doc</a>") +
                kEnd);
  EXPECT_EQ(Render(HeaderKind::kSystem, "", "x", "f.txt"),
            kStart + SystemHeader("T") + BodyRow("x") +
                BodyRow("<a href='files\\f.txt' target='_blank'>f.txt</a>") + kEnd);
}

TEST_F(MessageListTest, HostileValuesAreInert) {
  MessageListDocument document;
  document.AppendMessage(HeaderKind::kVisitor, "<b>x</b>", "<i>", "<script>alert(1)</script>",
                         "a' onclick='b");
  document.AppendMessage(HeaderKind::kOperator, "Op", "T", "%u003Cimg src=x onerror=y%u003E", "");
  document.AppendMessage(HeaderKind::kOperator, "Op", "T", "http://a' onmouseover='b", "");
  document.AppendMessage(HeaderKind::kOperator, "Op", "T",
                         "#link#javascript:alert(1)#link_mid#click#link_end#", "");
  std::string html = std::move(document).Finish();
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("<b>"), std::string::npos);
  EXPECT_EQ(html.find("<img src=x"), std::string::npos);
  EXPECT_EQ(html.find("' onclick"), std::string::npos);
  EXPECT_EQ(html.find("' onmouseover"), std::string::npos);
  EXPECT_EQ(html.find("href='javascript"), std::string::npos);
  EXPECT_NE(html.find("&lt;b&gt;x&lt;/b&gt; " + kSays), std::string::npos);
  EXPECT_NE(html.find("(&lt;i&gt;)"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(html.find("href='files\\a&#39; onclick=&#39;b'"), std::string::npos);
  EXPECT_NE(html.find("<a href='http://a&#39; onmouseover=&#39;b' target='_blank'>"),
            std::string::npos);
  EXPECT_NE(html.find("&#35;link&#35;javascript:alert(1)&#35;link_mid&#35;click</a>"),
            std::string::npos);
}

}  // namespace
