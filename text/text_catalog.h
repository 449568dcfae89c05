// The texts the component writes into its pages (sender lines, the visitor
// list's words and headings, the alerts and system message of invitation and
// transfer, the monitor's words), in each language the component speaks.
//
// The language comes from the page's session value "ZeltoLanguage", a
// language tag such as "en" or "zh-CN" that the site sets from the page
// language. No value, or a language without texts here, gives the Chinese
// texts, the component's own, byte for byte.
#pragma once

#include <string>
#include <string_view>

inline constexpr char kLanguageSessionKey[] = "ZeltoLanguage";

enum class TextLanguage { kChinese, kEnglish };

// The language of a tag: its primary subtag compared without regard to
// ASCII case ("en", "EN-gb" are English); anything else is Chinese.
TextLanguage TextLanguageFromTag(std::string_view tag);

enum class ComponentText {
  kOwnSenderLine,   // "我 说：", the echo's header for one's own message
  kSaysSuffix,      // " 说：", after a sender's name (with its closing markup)
  kSystemMessage,   // "系统消息", the header of a system message
  kCustomerPrefix,  // "客户", before a visitor's label when it has no nickname
  kVisitorPrefix,   // "访客", the same in the console lists
  kStateChatting,   // the visitor list's states ...
  kStateNotInvited,
  kStateInvited,
  kStateAccepted,
  kStateRefused,
  kStateUnknown,
  kReturningVisitor,  // "老访客"
  kNewVisitor,        // "新访客"
  kHeadTime,          // the visitor list's headings ...
  kHeadVisitor,
  kHeadRegion,
  kHeadReferrer,
  kHeadSearchKeywords,
  kHeadLastPage,
  kHeadRevisit,
  kHeadState,
  kNoVisitors,        // "暂时无访客"
  kInvitationSent,    // "邀请已经成功发送"
  kAlreadyMember,     // "此客服已经在会话中"
  kInvitationFailed,  // "邀请发送失败"
  kTransferredTo,     // alert: "已经将会话转接给" + target's name
  kHasTransferredTo,  // system message: own name + "已经将会话转接给" + target's name
  kTransferFailed,    // "会话转接失败"
  kMonitorId,         // the monitor's headings, links and words ...
  kMonitorMembers,
  kMonitorTime,
  kMonitorActions,
  kMonitorView,
  kMonitorEndConfirm,
  kMonitorEnd,
  kNoConversations,
  kCount  // not a text: the number of texts
};

// The text in `language`, in the process's ANSI code page (converted once,
// cached; the reference stays valid). A text that stands before, between or
// after values ("说：" after a name, "已经将会话转接给" between two names) is
// written so that it stands in the same place in every language.
const std::string& CatalogText(TextLanguage language, ComponentText id);
