// SessionValues: the values of one user's session, by key (ASCII case does
// not matter), each any VARIANT. Shared: a host keeps one per session and
// hands it to every page of that session; pages of one session may run on
// several threads at once, so every member locks.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/asp/variant_value.h"

class SessionValues {
 public:
  SessionValues() = default;
  SessionValues(const SessionValues&) = delete;
  SessionValues& operator=(const SessionValues&) = delete;

  // Stores a deep copy, replacing any value under the same key.
  void Set(std::u16string_view key, const VARIANT& value);
  // Conveniences: UTF-8 key and text value; a 32-bit integer value.
  void SetText(std::string_view key, std::string_view value);
  void SetLong(std::string_view key, LONG value);
  void Remove(std::u16string_view key);

  // A deep copy of the value into `out`; VT_EMPTY when the key is missing.
  HRESULT Get(std::u16string_view key, VARIANT* out) const;
  size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<std::u16string, VariantValue>> values_;
};
