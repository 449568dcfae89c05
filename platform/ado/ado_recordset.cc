#include "platform/ado/ado_recordset.h"

#include <algorithm>
#include <string>

#include "platform/ado/field_reader.h"
#include "platform/ado/field_value.h"
#include "platform/com/ascii.h"
#include "platform/com/single_interface_object.h"
#include "platform/win/codepage.h"

const IID IID_IFieldReader = {
    0x0AB029CE, 0xF348, 0x4832, {0x81, 0x8B, 0xDE, 0x42, 0x2F, 0x3A, 0xD3, 0x07}};

namespace zelto::ado {
namespace {

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Counted as a single-interface object; IFieldReader is answered besides.
class Recordset final : public SingleInterfaceObject<_Recordset, IID__Recordset>,
                        public IFieldReader {
 public:
  explicit Recordset(std::shared_ptr<const ResultSet> result) : SingleInterfaceObject(1) {
    if (result && result->HasResultSet()) result_ = std::move(result);
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv && riid == IID_IFieldReader) {
      *ppv = static_cast<IFieldReader*>(this);
      AddRef();
      return S_OK;
    }
    return SingleInterfaceObject::QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return SingleInterfaceObject::AddRef(); }
  ULONG Release() override { return SingleInterfaceObject::Release(); }

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
    HRESULT hr = CheckRow();
    if (FAILED(hr)) return hr;
    size_t column = 0;
    hr = FindColumn(index, &column);
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
    row_ = 0;
    return S_OK;
  }

  HRESULT FindField(std::string_view name, LONG* ordinal) override {
    if (!ordinal) return E_POINTER;
    if (!result_) return adErrObjectClosed;
    size_t column = 0;
    HRESULT hr = IsAscii(name) ? FindByName(name, &column) : FindByName(AnsiToUtf8(name), &column);
    if (SUCCEEDED(hr)) *ordinal = static_cast<LONG>(column);
    return hr;
  }
  HRESULT ReadField(LONG ordinal, VARIANT* value, std::string* ansi) override {
    if (!value || !ansi) return E_POINTER;
    HRESULT hr = CheckRow();
    if (FAILED(hr)) return hr;
    if (ordinal < 0 || static_cast<size_t>(ordinal) >= result_->columns.size()) {
      return adErrItemNotFound;
    }
    VARIANT fresh;
    VariantInit(&fresh);
    std::string_view text;
    std::string scratch;
    hr = SqlValueToVariantOrText(result_->At(row_, ordinal), result_->columns[ordinal], &fresh,
                                 &text, &scratch);
    if (FAILED(hr)) return hr;
    if (fresh.vt == VT_EMPTY) Utf8ToAnsi(text, *ansi);
    VariantClear(value);
    *value = fresh;
    return S_OK;
  }

 private:
  HRESULT CheckRow() const {
    if (!result_) return adErrObjectClosed;
    if (row_ >= result_->RowCount()) return adErrNoCurrentRecord;
    return S_OK;
  }

  HRESULT FindColumn(const VARIANT& index, size_t* column) const {
    const VARIANT* key = &index;
    if (key->vt == (VT_BYREF | VT_VARIANT) && key->pvarVal) key = key->pvarVal;
    if (key->vt == VT_BSTR) {
      return FindByName(WideToUtf8(BstrView(key->bstrVal)), column);
    }
    VARIANT ordinal;
    VariantInit(&ordinal);
    if (FAILED(VariantChangeType(&ordinal, key, 0, VT_I4))) return adErrItemNotFound;
    if (ordinal.lVal < 0 || static_cast<size_t>(ordinal.lVal) >= result_->columns.size()) {
      return adErrItemNotFound;
    }
    *column = static_cast<size_t>(ordinal.lVal);
    return S_OK;
  }

  // `name` is UTF-8; ASCII letters match in either case.
  HRESULT FindByName(std::string_view name, size_t* column) const {
    for (size_t i = 0; i < result_->columns.size(); ++i) {
      if (EqualsIgnoreCase(result_->columns[i].name, name)) {
        *column = i;
        return S_OK;
      }
    }
    return adErrItemNotFound;
  }

  std::shared_ptr<const ResultSet> result_;  // null while closed
  size_t row_ = 0;
};

}  // namespace

_Recordset* NewRecordset(std::shared_ptr<const ResultSet> result) {
  return new Recordset(std::move(result));
}

}  // namespace zelto::ado
