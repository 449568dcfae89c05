// InternetGetConnectedState: whether any network interface is up.
#include <ifaddrs.h>
#include <net/if.h>

#include "platform/inet/internet_settings.h"
#include "platform/inet/wininet.h"

namespace {

bool AnyInterfaceUp() {
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return false;
  bool up = false;
  for (ifaddrs* it = interfaces; it && !up; it = it->ifa_next) {
    up = (it->ifa_flags & IFF_UP) && (it->ifa_flags & IFF_RUNNING);
  }
  freeifaddrs(interfaces);
  return up;
}

}  // namespace

BOOL InternetGetConnectedState(DWORD* flags, DWORD reserved) {
  bool connected = !InternetGetSettings().offline && AnyInterfaceUp();
  if (flags) *flags = connected ? INTERNET_CONNECTION_LAN : INTERNET_CONNECTION_OFFLINE;
  return connected ? TRUE : FALSE;
}
