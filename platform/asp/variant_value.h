// VariantValue: a VARIANT that owns its payload and frees it when it goes.
// Copies are deep (VariantCopy); moves hand the payload over.
#pragma once

#include "platform/com/variant.h"

class VariantValue {
 public:
  VariantValue() { VariantInit(&value_); }
  // Takes a deep copy of `value`.
  explicit VariantValue(const VARIANT& value) : VariantValue() { VariantCopy(&value_, &value); }
  VariantValue(const VariantValue& other) : VariantValue(other.value_) {}
  VariantValue& operator=(const VariantValue& other) {
    if (this != &other) VariantCopy(&value_, &other.value_);
    return *this;
  }
  VariantValue(VariantValue&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
  VariantValue& operator=(VariantValue&& other) noexcept {
    if (this != &other) {
      VariantClear(&value_);
      value_ = other.value_;
      VariantInit(&other.value_);
    }
    return *this;
  }
  ~VariantValue() { VariantClear(&value_); }

  // Takes over a variant the caller owns; the caller must not clear it.
  static VariantValue Adopt(VARIANT value) {
    VariantValue result;
    result.value_ = value;
    return result;
  }

  const VARIANT& get() const { return value_; }
  // A deep copy into `out`, which must hold no payload of its own.
  HRESULT CopyTo(VARIANT* out) const {
    VariantInit(out);
    return VariantCopy(out, &value_);
  }

 private:
  VARIANT value_;
};
