#include "text/text_catalog.h"

#include <array>

#include "platform/com/ascii.h"
#include "platform/win/codepage.h"

namespace {

struct Entry {
  ComponentText id;
  const char* chinese;
  const char* english;
};

// One row per text; a language is a column. The Chinese column is the
// component's own wording and must never change.
constexpr Entry kEntries[] = {
    {ComponentText::kOwnSenderLine, "我 说：", "Me:"},
    {ComponentText::kSaysSuffix, " 说：", " says:"},
    {ComponentText::kSystemMessage, "系统消息", "System message"},
    {ComponentText::kCustomerPrefix, "客户", "Customer "},
    {ComponentText::kVisitorPrefix, "访客", "Visitor "},
    {ComponentText::kStateChatting, "正在交谈", "Chatting"},
    {ComponentText::kStateNotInvited, "未邀请", "Not invited"},
    {ComponentText::kStateInvited, "已邀请", "Invited"},
    {ComponentText::kStateAccepted, "同意交谈", "Accepted"},
    {ComponentText::kStateRefused, "拒绝交谈", "Declined"},
    {ComponentText::kStateUnknown, "未知状态", "Unknown"},
    {ComponentText::kReturningVisitor, "老访客", "Returning"},
    {ComponentText::kNewVisitor, "新访客", "New"},
    {ComponentText::kHeadTime, "时间", "Time"},
    {ComponentText::kHeadVisitor, "访客", "Visitor"},
    {ComponentText::kHeadRegion, "访客区域", "Region"},
    {ComponentText::kHeadReferrer, "页面来源", "Came from"},
    {ComponentText::kHeadSearchKeywords, "搜索关键字", "Search words"},
    {ComponentText::kHeadLastPage, "最后访问页", "Last page"},
    {ComponentText::kHeadRevisit, "再访", "Visit"},
    {ComponentText::kHeadState, "状态", "Status"},
    {ComponentText::kNoVisitors, "暂时无访客", "No visitors at the moment"},
    {ComponentText::kInvitationSent, "邀请已经成功发送", "The invitation has been sent."},
    {ComponentText::kAlreadyMember, "此客服已经在会话中",
     "This operator is already in the conversation."},
    {ComponentText::kInvitationFailed, "邀请发送失败", "The invitation could not be sent."},
    {ComponentText::kTransferredTo, "已经将会话转接给",
     "The conversation has been transferred to "},
    {ComponentText::kHasTransferredTo, "已经将会话转接给", " has transferred the conversation to "},
    {ComponentText::kTransferFailed, "会话转接失败", "The conversation could not be transferred."},
    {ComponentText::kMonitorId, "会话ID", "No."},
    {ComponentText::kMonitorMembers, "会话人员", "Participants"},
    {ComponentText::kMonitorTime, "会话时间", "Started"},
    {ComponentText::kMonitorActions, "操作", "Actions"},
    {ComponentText::kMonitorView, "[查看会话]", "[View]"},
    {ComponentText::kMonitorEndConfirm, "确定要终止此会话？", "End this conversation?"},
    {ComponentText::kMonitorEnd, "[终止会话]", "[End]"},
    {ComponentText::kNoConversations, "当前没有会话", "No conversations at the moment"},
};

constexpr size_t kCount = static_cast<size_t>(ComponentText::kCount);
static_assert(std::size(kEntries) == kCount, "one catalog row per text");

// The rows in the order of the enumeration, checked once at compile time.
constexpr bool RowsInOrder() {
  for (size_t i = 0; i < kCount; ++i) {
    if (static_cast<size_t>(kEntries[i].id) != i) return false;
  }
  return true;
}
static_assert(RowsInOrder(), "catalog rows follow the order of ComponentText");

}  // namespace

TextLanguage TextLanguageFromTag(std::string_view tag) {
  const std::string primary = LowerAscii(tag.substr(0, tag.find_first_of("-_")));
  return primary == "en" ? TextLanguage::kEnglish : TextLanguage::kChinese;
}

const std::string& CatalogText(TextLanguage language, ComponentText id) {
  const Entry& entry = kEntries[static_cast<size_t>(id)];
  return AnsiText(language == TextLanguage::kEnglish ? entry.english : entry.chinese);
}
