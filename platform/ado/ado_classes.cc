// "ADODB.Connection" and "ADODB.Recordset" as classes built into the platform,
// registered when libzplatform.so is loaded so that CoCreateInstance by ProgID
// finds them without any registry entry.
#include <string>

#include "platform/ado/ado.h"
#include "platform/ado/ado_recordset.h"
#include "platform/ado/engine.h"
#include "platform/com/activation.h"
#include "platform/com/single_interface_object.h"

namespace zelto::ado {
_Connection* NewConnection();
}  // namespace zelto::ado

const CLSID CLSID_Connection = {0x00000514, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const CLSID CLSID_Recordset = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const IID IID__Connection = {0x00000550, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
const IID IID__Recordset = {0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

bool SetDatabaseEngine(const char* name) {
  return zelto::ado::SetDatabaseEngine(name ? name : "");
}

namespace zelto::ado {
namespace {

// A class factory that lives as long as the process (statically allocated).
class Factory final : public IClassFactory {
 public:
  using Make = IUnknown* (*)();
  explicit Factory(Make make) : make_(make) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QuerySingleInterface<IClassFactory, IID_IClassFactory>(this, riid, ppv);
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* object = make_();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  Make make_;
};

IUnknown* MakeConnection() { return NewConnection(); }
IUnknown* MakeRecordset() { return NewRecordset(nullptr); }

bool RegisterClasses() {
  static Factory connection(MakeConnection);
  static Factory recordset(MakeRecordset);
  bool ok = SUCCEEDED(CoRegisterBuiltinClass(CLSID_Connection, "ADODB.Connection", &connection));
  return SUCCEEDED(CoRegisterBuiltinClass(CLSID_Recordset, "ADODB.Recordset", &recordset)) && ok;
}

[[maybe_unused]] const bool registered = RegisterClasses();

}  // namespace
}  // namespace zelto::ado
