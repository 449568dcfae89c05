#include "platform/inet/internet_settings.h"

#include <mutex>

namespace {

std::mutex settings_mutex;
InternetSettings& CurrentSettings() {
  static InternetSettings settings;
  return settings;
}

}  // namespace

InternetSettings InternetGetSettings() {
  std::lock_guard<std::mutex> lock(settings_mutex);
  return CurrentSettings();
}

void InternetSetSettings(const InternetSettings& settings) {
  std::lock_guard<std::mutex> lock(settings_mutex);
  CurrentSettings() = settings;
}
