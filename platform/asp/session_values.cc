#include "platform/asp/session_values.h"

#include "platform/asp/query_string.h"
#include "platform/win/codepage.h"

void SessionValues::Set(std::u16string_view key, const VARIANT& value) {
  VariantValue copy(value);  // copied outside the lock
  std::lock_guard lock(mutex_);
  for (auto& [name, stored] : values_) {
    if (KeysEqual(name, key)) {
      stored = std::move(copy);
      return;
    }
  }
  values_.emplace_back(std::u16string(key), std::move(copy));
}

void SessionValues::SetText(std::string_view key, std::string_view value) {
  VARIANT v = MakeVariantBstr(Utf8ToWide(value));
  Set(Utf8ToWide(key), v);
  VariantClear(&v);
}

void SessionValues::SetLong(std::string_view key, LONG value) {
  Set(Utf8ToWide(key), MakeVariantI4(value));
}

void SessionValues::Remove(std::u16string_view key) {
  std::lock_guard lock(mutex_);
  std::erase_if(values_, [&](const auto& entry) { return KeysEqual(entry.first, key); });
}

HRESULT SessionValues::Get(std::u16string_view key, VARIANT* out) const {
  if (!out) return E_POINTER;
  VariantInit(out);
  std::lock_guard lock(mutex_);
  for (const auto& [name, stored] : values_)
    if (KeysEqual(name, key)) return stored.CopyTo(out);
  return S_OK;
}

size_t SessionValues::size() const {
  std::lock_guard lock(mutex_);
  return values_.size();
}
