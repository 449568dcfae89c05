#include "chat/echo_script.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/win/codepage.h"

namespace {

const std::string kHead =
    "window.top.fresh.chatmsglist.AddMsg('<div align=center><table width=98%  border=0 "
    "cellspacing=0 cellpadding=0>\t\t<tr>\t\t<td align=left><font color=#990000>";

std::string Header(const std::string& time) {
  return kHead + AnsiText("我 说：") + "</font>&nbsp;&nbsp;<font color=#6666FF>(" + time +
         ")</font></td>\t\t</tr>";
}

const std::string kCell =
    "<td align=right><table width=97% border=0 cellpadding=0 cellspacing=0><tr><td>";
const std::string kTail = "</table></div>');";

TEST(BuildEchoScriptTest, HostileValuesStayInert) {
  const std::string time = "2024-05-06 07:08:09";
  const std::string script = BuildEchoScript(EchoPoster::kVisitor, time,
                                             "<img src=x onerror=alert(1)>'); evil('\n",
                                             "a b.doc onclick=x");
  EXPECT_EQ(script, Header(time) + "  <tr>  \t" + kCell +
                        "&lt;img src=x onerror=alert(1)&gt;&#39;); evil(&#39;\\n"
                        "</td></tr></table></td>  </tr>"
                        "  <tr>" + kCell +
                        "<a href=files/a%20b.doc%20onclick=x target=_blank>a b.doc onclick=x</a>"
                        "</td></tr></table></td>  </tr>" + kTail);
}

TEST(BuildEchoScriptTest, LinkAddressCannotLeaveItsUnquotedAttribute) {
  const std::string time = "2024-05-06 07:08:09";
  const std::string script =
      BuildEchoScript(EchoPoster::kOperator, time, "http://x.cn/?a=1&b=2 onmouseover=f()", "");
  EXPECT_EQ(script, Header(time) + "  <tr>  \t" + kCell +
                        "<a href=http://x.cn/?a=1&amp;b=2%20onmouseover=f() target=_blank>"
                        "http://x.cn/?a=1&amp;b=2 onmouseover=f()</a>"
                        "</td></tr></table></td>  </tr>" + kTail);
}

}  // namespace
