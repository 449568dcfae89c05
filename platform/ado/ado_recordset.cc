#include "platform/ado/ado_recordset.h"

#include <atomic>
#include <string>
#include <vector>

#include "platform/ado/field_value.h"
#include "platform/win/codepage.h"

namespace zelto::ado {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

// `lower` is UTF-8 already in lower case; an ASCII `wanted` is compared in
// place, anything else after conversion.
bool EqualsIgnoringCase(std::string_view lower, std::u16string_view wanted) {
  for (char16_t c : wanted) {
    if (c >= 0x80) return lower == LowerAscii(WideToUtf8(wanted));
  }
  if (lower.size() != wanted.size()) return false;
  for (size_t i = 0; i < lower.size(); ++i) {
    if (lower[i] != AsciiLower(static_cast<char>(wanted[i]))) return false;
  }
  return true;
}

class Recordset final : public _Recordset {
 public:
  explicit Recordset(std::shared_ptr<const ResultSet> result) {
    if (result && result->HasResultSet()) {
      for (const ResultColumn& c : result->columns) names_.push_back(LowerAscii(c.name));
      result_ = std::move(result);
    }
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID__Recordset) {
      *ppv = static_cast<_Recordset*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT get_State(LONG* state) override {
    if (!state) return E_POINTER;
    *state = result_ ? adStateOpen : adStateClosed;
    return S_OK;
  }
  HRESULT get_BOF(VARIANT_BOOL* bof) override {
    if (!bof) return E_POINTER;
    if (!result_) return adErrObjectClosed;
    // Rows are only ever read forward, so the cursor is before the first
    // row only when there is none.
    *bof = result_->RowCount() == 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT get_EOF(VARIANT_BOOL* eof) override {
    if (!eof) return E_POINTER;
    if (!result_) return adErrObjectClosed;
    *eof = row_ >= result_->RowCount() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT MoveNext() override {
    if (!result_) return adErrObjectClosed;
    if (row_ >= result_->RowCount()) return adErrNoCurrentRecord;
    ++row_;
    return S_OK;
  }
  HRESULT get_Collect(VARIANT index, VARIANT* value) override {
    if (!value) return E_POINTER;
    if (!result_) return adErrObjectClosed;
    if (row_ >= result_->RowCount()) return adErrNoCurrentRecord;
    size_t column = 0;
    HRESULT hr = FindColumn(index, &column);
    if (FAILED(hr)) return hr;
    VARIANT fresh;
    hr = SqlValueToVariant(result_->At(row_, column), result_->columns[column], &fresh);
    if (FAILED(hr)) return hr;
    VariantClear(value);
    *value = fresh;
    return S_OK;
  }
  HRESULT get_EditMode(LONG* mode) override {
    if (!mode) return E_POINTER;
    if (!result_) return adErrObjectClosed;
    *mode = adEditNone;  // the recordsets are read-only: no edit is ever pending
    return S_OK;
  }
  HRESULT CancelUpdate() override { return result_ ? S_OK : adErrObjectClosed; }
  HRESULT Close() override {
    if (!result_) return adErrObjectClosed;
    result_.reset();
    names_.clear();
    row_ = 0;
    return S_OK;
  }

 private:
  HRESULT FindColumn(const VARIANT& index, size_t* column) const {
    const VARIANT* key = &index;
    if (key->vt == (VT_BYREF | VT_VARIANT) && key->pvarVal) key = key->pvarVal;
    if (key->vt == VT_BSTR) {
      std::u16string_view wanted = BstrView(key->bstrVal);
      for (size_t i = 0; i < names_.size(); ++i) {
        if (EqualsIgnoringCase(names_[i], wanted)) {
          *column = i;
          return S_OK;
        }
      }
      return adErrItemNotFound;
    }
    VARIANT ordinal;
    VariantInit(&ordinal);
    if (FAILED(VariantChangeType(&ordinal, key, 0, VT_I4))) return adErrItemNotFound;
    if (ordinal.lVal < 0 || static_cast<size_t>(ordinal.lVal) >= names_.size()) {
      return adErrItemNotFound;
    }
    *column = static_cast<size_t>(ordinal.lVal);
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  std::shared_ptr<const ResultSet> result_;  // null while closed
  std::vector<std::string> names_;  // UTF-8, ASCII lower-case, for lookup by name
  size_t row_ = 0;
};

}  // namespace

_Recordset* NewRecordset(std::shared_ptr<const ResultSet> result) {
  return new Recordset(std::move(result));
}

}  // namespace zelto::ado
