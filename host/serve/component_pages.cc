#include "host/serve/component_pages.h"

#include <optional>

#include "host/component_call.h"
#include "host/serve/json_answer.h"
#include "platform/com/ascii.h"
#include "platform/win/codepage.h"

namespace zelto::serve {
namespace {

constexpr ComponentPage kPages[] = {
    {"/visitor/GetClientMsg.asp", "GetClientMsg", PageCaller::kVisitor, PageArgument::kNone, false,
     false, PageEffect::kPoll, PageAccess::kReads},
    {"/visitor/DoClientMsg.asp", "DoClientMsg", PageCaller::kVisitor, PageArgument::kNone, false,
     false, PageEffect::kStores, PageAccess::kActs},
    {"/operator/GetUserMsg.asp", "GetUserMsg", PageCaller::kOperator, PageArgument::kOperatorId,
     false, false, PageEffect::kPoll, PageAccess::kReads},
    {"/operator/DoUserMsg.asp", "DoUserMsg", PageCaller::kOperator, PageArgument::kOperatorId, true,
     false, PageEffect::kStores, PageAccess::kActs},
    {"/operator/InvitUser.asp", "InvitUser", PageCaller::kOperator, PageArgument::kNone, true,
     false, PageEffect::kStores, PageAccess::kBrings},
    {"/operator/TranstoUser.asp", "TranstoUser", PageCaller::kOperator, PageArgument::kOperatorId,
     true, false, PageEffect::kStores, PageAccess::kBrings},
    {"/operator/GetClientList.asp", "GetClientList", PageCaller::kOperator,
     PageArgument::kOperatorId, false, false},
    {"/operator/GetMonitorList.asp", "GetMonitorList", PageCaller::kOperator,
     PageArgument::kOperatorId, false, false},
    {"/operator/CheckDomain.asp", "CheckDomain", PageCaller::kOperator, PageArgument::kDomains,
     true, true},
};

std::optional<std::u16string> Argument(const ComponentPage& page, std::string_view query,
                                       PageCharset charset, LONG operator_id) {
  switch (page.argument) {
    case PageArgument::kNone:
      return std::nullopt;
    case PageArgument::kOperatorId:
      return Utf8ToWide(std::to_string(operator_id));
    case PageArgument::kDomains: {
      const NamedValues values = ParseQueryString(query, charset);
      const std::u16string* domains = FindValue(values, u"domains");
      return domains ? *domains : std::u16string();
    }
  }
  return std::nullopt;
}

// The method's result as a number; 0 when it has none.
LONG ResultNumber(const VariantValue& result) {
  VARIANT number;
  VariantInit(&number);
  LONG value = 0;
  if (SUCCEEDED(VariantChangeType(&number, &result.get(), 0, VT_I4))) value = number.lVal;
  VariantClear(&number);
  return value;
}

}  // namespace

const ComponentPage* FindComponentPage(std::string_view path) {
  for (const ComponentPage& page : kPages) {
    if (EqualsIgnoreCase(path, page.path)) return &page;
  }
  return nullptr;
}

PageOutput RunComponentPage(const ComponentPage& page, std::string_view query,
                            const std::string& remote_address,
                            const std::shared_ptr<SessionValues>& session, LONG operator_id,
                            PageCharset charset) {
  InMemoryPage::Builder builder;
  builder.QueryString(query, charset).ServerVariable("REMOTE_ADDR", remote_address);
  builder.Session(session);
  const InMemoryPage request = builder.Build();

  const ComponentCall call =
      CallComponent(request, page.method, Argument(page, query, charset, operator_id));
  PageOutput output;
  output.hr = call.hr;
  output.error = call.error;
  if (page.json_result) {
    output.body = JsonAnswer(boost::json::object{{"result", ResultNumber(call.result)}});
    output.content_type = "application/json";
  } else {
    output.body = EncodePageBody(request.body(), charset);
    output.content_type =
        charset == PageCharset::kUtf8 ? "text/html; charset=utf-8" : "text/html; charset=gbk";
  }
  return output;
}

}  // namespace zelto::serve
