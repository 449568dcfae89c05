#include "component/zelto_com.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "component/iczeltocom.h"
#include "platform/com/com_ptr.h"
#include "platform/com/load_type_lib.h"
#include "platform/com/typeinfo.h"
#include "platform/win/codepage.h"

namespace {

// The virtual-table slot a pointer to a virtual member function names (in
// the Itanium C++ ABI the pointer holds 1 + the slot's byte offset).
template <typename F>
int SlotOf(F member) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adjust;
  } raw;
  static_assert(sizeof(member) == sizeof(raw));
  std::memcpy(&raw, &member, sizeof raw);
  EXPECT_EQ(raw.ptr & 1, 1u) << "not a virtual function";
  return static_cast<int>((raw.ptr - 1) / sizeof(void*));
}

// The C++ parameter types in type library terms (VT_PTR | pointee for an
// out pointer).
template <typename T>
constexpr VARTYPE VtOf();
template <>
constexpr VARTYPE VtOf<LONG>() {
  return VT_I4;
}
template <>
constexpr VARTYPE VtOf<BSTR>() {
  return VT_BSTR;
}
template <>
constexpr VARTYPE VtOf<IUnknown*>() {
  return VT_UNKNOWN;
}
template <>
constexpr VARTYPE VtOf<LONG*>() {
  return VT_PTR | VT_I4;
}

template <typename... A>
std::vector<VARTYPE> ParamTypes(HRESULT (ICZeltoCom::*)(A...)) {
  return {VtOf<A>()...};
}

struct Method {
  const char* name;
  int slot;
  std::vector<VARTYPE> params;
};

#define ZELTO_METHOD(m) \
  Method { #m, SlotOf(&ICZeltoCom::m), ParamTypes(&ICZeltoCom::m) }

ComPtr<ITypeInfo> ModuleTypeInfo() {
  ComPtr<ITypeLib> lib;
  const std::u16string path = Utf8ToWide(std::string(ZELTO_BIN_DIR) + "/ZeltoCom.so");
  EXPECT_EQ(LoadTypeLib(path.c_str(), lib.Receive()), S_OK) << LastTypeLibError();
  ComPtr<ITypeInfo> info;
  if (lib) EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_ICZeltoCom, info.Receive()), S_OK);
  return info;
}

TEST(ZeltoComInterface, VirtualTableMatchesTheTypeLibrary) {
  const Method methods[] = {
      ZELTO_METHOD(OnStartPage), ZELTO_METHOD(OnEndPage),     ZELTO_METHOD(GetClientMsg),
      ZELTO_METHOD(GetUserMsg),  ZELTO_METHOD(DoClientMsg),   ZELTO_METHOD(DoUserMsg),
      ZELTO_METHOD(InvitUser),   ZELTO_METHOD(TranstoUser),   ZELTO_METHOD(Test),
      ZELTO_METHOD(TestDB),      ZELTO_METHOD(GetClientList), ZELTO_METHOD(GetMonitorList),
      ZELTO_METHOD(CheckDomain),
  };
  const MEMBERID ids[] = {0x60020000, 0x60020001, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(SlotOf(&IDispatch::Invoke), 6);

  ComPtr<ITypeInfo> info = ModuleTypeInfo();
  ASSERT_TRUE(info);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->cbSizeVft, 20 * sizeof(void*));
  EXPECT_EQ(attr->cFuncs, 13);
  EXPECT_EQ(attr->wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);

  for (size_t i = 0; i < std::size(methods); ++i) {
    const Method& m = methods[i];
    EXPECT_EQ(m.slot, static_cast<int>(7 + i)) << m.name;
    std::u16string name = Utf8ToWide(m.name);
    LPOLESTR names[] = {name.data()};
    MEMBERID id = 0;
    ASSERT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK) << m.name;
    EXPECT_EQ(id, ids[i]) << m.name;
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(info->GetFuncDesc(static_cast<UINT>(i), &desc), S_OK);
    EXPECT_EQ(desc->memid, id) << m.name;
    EXPECT_EQ(desc->oVft / static_cast<SHORT>(sizeof(void*)), m.slot) << m.name;
    std::vector<VARTYPE> declared;
    for (SHORT p = 0; p < desc->cParams; ++p) {
      const TYPEDESC& t = desc->lprgelemdescParam[p].tdesc;
      declared.push_back(t.vt == VT_PTR ? VT_PTR | t.lptdesc->vt : t.vt);
    }
    EXPECT_EQ(declared, m.params) << m.name;
  }
}

TEST(ZeltoComInterface, TypeLibraryCarriesTheModuleIdentities) {
  ComPtr<ITypeInfo> info = ModuleTypeInfo();
  ASSERT_TRUE(info);
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(info->GetContainingTypeLib(lib.Receive(), nullptr), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, LIBID_ZELTOCOMLib);
  EXPECT_EQ(attr->lcid, 0x0409u);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_CZeltoCom, coclass.Receive()), S_OK);
  TYPEATTR* class_attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&class_attr), S_OK);
  EXPECT_EQ(class_attr->wTypeFlags & TYPEFLAG_FCANCREATE, TYPEFLAG_FCANCREATE);
  EXPECT_EQ(lib->GetTypeInfoCount(), 2u);
}

// Objects made directly from the class, with the module's lock count.
class ZeltoComObject : public ::testing::Test {
 protected:
  void SetUp() override {
    object_ = new CZeltoCom(nullptr);
    object_->AddRef();
  }
  void TearDown() override { EXPECT_EQ(object_->Release(), 0u); }
  CZeltoCom* object_;
};

TEST_F(ZeltoComObject, AnswersItsInterfaceMapInOrder) {
  ICZeltoCom* primary = static_cast<ICZeltoCom*>(object_);
  struct Case {
    const IID* iid;
    void* expected;  // null: E_NOINTERFACE
  };
  const Case cases[] = {
      {&IID_ICZeltoCom, primary},
      {&IID_IDispatch, primary},
      {&IID_ISupportErrorInfo, static_cast<ISupportErrorInfo*>(object_)},
      {&IID_IUnknown, primary},
      {&IID_IClassFactory, nullptr},
      {&IID_ITypeInfo, nullptr},
      {&LIBID_ZELTOCOMLib, nullptr},
  };
  for (const Case& c : cases) {
    void* got = reinterpret_cast<void*>(1);
    HRESULT hr = object_->QueryInterface(*c.iid, &got);
    EXPECT_EQ(hr, c.expected ? S_OK : E_NOINTERFACE) << GuidToString(*c.iid);
    EXPECT_EQ(got, c.expected) << GuidToString(*c.iid);
    if (got) static_cast<IUnknown*>(got)->Release();
  }
  // Identity holds from the second interface too.
  ISupportErrorInfo* errors = static_cast<ISupportErrorInfo*>(object_);
  void* unknown = nullptr;
  ASSERT_EQ(errors->QueryInterface(IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, primary);
  EXPECT_EQ(errors->Release(), 1u);  // the QueryInterface's reference
}

TEST_F(ZeltoComObject, SupportsErrorInfoOnlyForItsOwnInterface) {
  EXPECT_EQ(object_->InterfaceSupportsErrorInfo(IID_ICZeltoCom), S_OK);
  EXPECT_EQ(object_->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  EXPECT_EQ(object_->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);
}

TEST_F(ZeltoComObject, TestMethodsNeedNoPage) {
  EXPECT_EQ(object_->Test(), S_OK);
  EXPECT_EQ(object_->TestDB(), S_OK);
  EXPECT_EQ(object_->OnStartPage(nullptr), E_POINTER);
  UINT count = 0;
  EXPECT_EQ(object_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
}

}  // namespace
