#include "platform/com/type_library.h"

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/ascii.h"
#include "platform/com/dispatch_invoke.h"
#include "platform/com/single_interface_object.h"
#include "platform/win/codepage.h"

namespace {

class TypeLibrary;

// Sets *out to a new BSTR of `text` when out is not null.
HRESULT PutBstr(const std::string& utf8, BSTR* out) {
  if (!out) return S_OK;
  *out = SysAllocStringView(Utf8ToWide(utf8));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// One member as the type info hands it out, with the storage its FUNCDESC
// points into.
struct Member {
  FUNCDESC desc{};
  std::vector<ELEMDESC> params;
  std::deque<TYPEDESC> pointees;  // targets of VT_PTR types; addresses stable
  std::u16string name;
  std::vector<std::u16string> param_names;
  std::string name_utf8;
  std::string helpstring;
};

class TypeInfo final : public ITypeInfo {
 public:
  TypeInfo(TypeLibrary* lib, UINT index, const IdlLibrary& idl, const IdlEntry& entry);

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return QuerySingleInterface<ITypeInfo, IID_ITypeInfo>(this, riid, ppv);
  }
  // Counted by the library: a type info lives as long as its library.
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeAttr(TYPEATTR** attr) override {
    if (!attr) return E_INVALIDARG;
    *attr = &attr_;
    return S_OK;
  }
  HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override {
    if (!desc) return E_INVALIDARG;
    *desc = nullptr;
    if (index >= members_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *desc = &members_[index].desc;
    return S_OK;
  }
  HRESULT GetNames(MEMBERID id, BSTR* names, UINT max_names, UINT* count) override;
  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) override {
    if (!ref) return E_INVALIDARG;
    if (index >= impl_refs_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ref = impl_refs_[index];
    return S_OK;
  }
  HRESULT GetImplTypeFlags(UINT index, INT* flags) override {
    if (!flags) return E_INVALIDARG;
    if (index >= impl_flags_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *flags = impl_flags_[index];
    return S_OK;
  }
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  HRESULT Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excep, UINT* arg_err) override {
    if (!instance) return E_INVALIDARG;
    const Member* member = Find(id);
    if (!member) return DISP_E_MEMBERNOTFOUND;
    return InvokeFunction(instance, member->desc, flags, params, result, arg_err);
  }
  HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* help_context,
                           BSTR* help_file) override;
  HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override;
  HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
  void ReleaseTypeAttr(TYPEATTR*) override {}
  void ReleaseFuncDesc(FUNCDESC*) override {}

 private:
  void AddMember(const IdlMethod& method);
  const Member* Find(MEMBERID id) const {
    for (const Member& m : members_) {
      if (m.desc.memid == id) return &m;
    }
    return nullptr;
  }

  TypeLibrary* lib_;
  UINT index_;
  std::string name_;
  std::string helpstring_;
  TYPEATTR attr_{};
  std::deque<Member> members_;  // FUNCDESCs handed out stay where they are
  std::vector<HREFTYPE> impl_refs_;
  std::vector<INT> impl_flags_;
};

class TypeLibrary final : public SingleInterfaceObject<ITypeLib, IID_ITypeLib> {
 public:
  explicit TypeLibrary(const IdlLibrary& idl) : SingleInterfaceObject(0), idl_(idl) {
    attr_.guid = idl.libid;
    attr_.lcid = idl.lcid;
    attr_.syskind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    attr_.wMajorVerNum = idl.major;
    attr_.wMinorVerNum = idl.minor;
    for (const IdlEntry& entry : idl.entries) {
      infos_.push_back(
          std::make_unique<TypeInfo>(this, static_cast<UINT>(infos_.size()), idl_, entry));
    }
  }


  UINT GetTypeInfoCount() override { return static_cast<UINT>(infos_.size()); }
  HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *info = infos_[index].get();
    (*info)->AddRef();
    return S_OK;
  }
  HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (!kind) return E_INVALIDARG;
    if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = idl_.entries[index].kind;
    return S_OK;
  }
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    for (size_t i = 0; i < infos_.size(); ++i) {
      if (GuidOf(i) == guid) return GetTypeInfo(static_cast<UINT>(i), info);
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetLibAttr(TLIBATTR** attr) override {
    if (!attr) return E_INVALIDARG;
    *attr = &attr_;
    return S_OK;
  }
  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* help_context,
                           BSTR* help_file) override {
    if (index == -1) {
      if (help_context) *help_context = 0;
      if (help_file) *help_file = nullptr;
      HRESULT hr = PutBstr(idl_.name, name);
      return SUCCEEDED(hr) ? PutBstr(idl_.helpstring, doc) : hr;
    }
    if (index < 0 || static_cast<size_t>(index) >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
    return infos_[index]->GetDocumentation(MEMBERID_NIL, name, doc, help_context, help_file);
  }
  void ReleaseTLibAttr(TLIBATTR*) override {}

 private:
  ~TypeLibrary() override = default;

  const GUID& GuidOf(size_t index) const {
    const IdlEntry& e = idl_.entries[index];
    return e.kind == TKIND_COCLASS ? idl_.coclasses[e.index].clsid : idl_.interfaces[e.index].iid;
  }

  IdlLibrary idl_;
  TLIBATTR attr_{};
  std::vector<std::unique_ptr<TypeInfo>> infos_;
};

// The type infos live and die with their library.
ULONG TypeInfo::AddRef() { return lib_->AddRef(); }
ULONG TypeInfo::Release() { return lib_->Release(); }

TypeInfo::TypeInfo(TypeLibrary* lib, UINT index, const IdlLibrary& idl, const IdlEntry& entry)
    : lib_(lib), index_(index) {
  attr_.lcid = idl.lcid;
  attr_.memidConstructor = MEMBERID_NIL;
  attr_.memidDestructor = MEMBERID_NIL;
  attr_.typekind = entry.kind;
  attr_.cbAlignment = alignof(void*);
  attr_.wMajorVerNum = idl.major;
  attr_.wMinorVerNum = idl.minor;
  if (entry.kind == TKIND_COCLASS) {
    const IdlCoclass& c = idl.coclasses[entry.index];
    name_ = c.name;
    helpstring_ = c.helpstring;
    attr_.guid = c.clsid;
    attr_.wTypeFlags = c.flags;
    for (const IdlImplemented& impl : c.interfaces) {
      for (size_t i = 0; i < idl.entries.size(); ++i) {
        const IdlEntry& e = idl.entries[i];
        if (e.kind != TKIND_COCLASS && idl.interfaces[e.index].name == impl.interface) {
          impl_refs_.push_back(static_cast<HREFTYPE>(i));
          impl_flags_.push_back(impl.flags);
        }
      }
    }
    attr_.cImplTypes = static_cast<WORD>(impl_refs_.size());
    return;
  }
  const IdlInterface& iface = idl.interfaces[entry.index];
  name_ = iface.name;
  helpstring_ = iface.helpstring;
  attr_.guid = iface.iid;
  attr_.wTypeFlags = iface.flags;
  attr_.cImplTypes = 1;  // the base interface
  attr_.cbSizeVft = static_cast<WORD>(iface.slots * sizeof(void*));
  for (const IdlMethod& m : iface.methods) AddMember(m);
  attr_.cFuncs = static_cast<WORD>(members_.size());
}

void TypeInfo::AddMember(const IdlMethod& method) {
  Member& m = members_.emplace_back();
  m.name_utf8 = method.name;
  m.name = Utf8ToWide(method.name);
  m.helpstring = method.helpstring;
  for (const IdlParam& p : method.params) {
    ELEMDESC e{};
    e.paramdesc.wParamFlags = p.flags;
    if (p.type.by_pointer) {
      TYPEDESC& target = m.pointees.emplace_back();
      target.vt = p.type.vt;
      e.tdesc.vt = VT_PTR;
      e.tdesc.lptdesc = &target;
    } else {
      e.tdesc.vt = p.type.vt;
    }
    if (p.flags & PARAMFLAG_FOPT) ++m.desc.cParamsOpt;
    m.params.push_back(e);
    m.param_names.push_back(Utf8ToWide(p.name));
  }
  m.desc.memid = method.id;
  m.desc.lprgelemdescParam = m.params.empty() ? nullptr : m.params.data();
  m.desc.funckind = FUNC_PUREVIRTUAL;
  m.desc.invkind = INVOKE_FUNC;
  m.desc.callconv = CC_STDCALL;
  m.desc.cParams = static_cast<SHORT>(m.params.size());
  m.desc.oVft = static_cast<SHORT>(method.slot * sizeof(void*));
  m.desc.elemdescFunc.tdesc.vt = VT_HRESULT;
}

HRESULT TypeInfo::GetNames(MEMBERID id, BSTR* names, UINT max_names, UINT* count) {
  if (!names || !count) return E_INVALIDARG;
  *count = 0;
  const Member* m = Find(id);
  if (!m) return TYPE_E_ELEMENTNOTFOUND;
  std::vector<const std::u16string*> all = {&m->name};
  for (const std::u16string& p : m->param_names) all.push_back(&p);
  for (UINT i = 0; i < max_names && i < all.size(); ++i) {
    names[i] = SysAllocStringView(*all[i]);
    if (!names[i]) {
      while (i > 0) SysFreeString(names[--i]);
      return E_OUTOFMEMORY;
    }
    *count = i + 1;
  }
  return S_OK;
}

HRESULT TypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (!names || !ids) return E_INVALIDARG;
  if (count == 0) return S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const Member* found = nullptr;
  if (names[0]) {
    for (const Member& m : members_) {
      if (EqualsIgnoreCase(m.name, names[0])) found = &m;
    }
  }
  if (!found) return DISP_E_UNKNOWNNAME;
  ids[0] = found->desc.memid;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    for (size_t p = 0; names[i] && p < found->param_names.size(); ++p) {
      if (EqualsIgnoreCase(found->param_names[p], names[i])) ids[i] = static_cast<MEMBERID>(p);
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TypeInfo::GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* help_context,
                                   BSTR* help_file) {
  const std::string* n = &name_;
  const std::string* d = &helpstring_;
  if (id != MEMBERID_NIL) {
    const Member* m = Find(id);
    if (!m) return TYPE_E_ELEMENTNOTFOUND;
    n = &m->name_utf8;
    d = &m->helpstring;
  }
  if (help_context) *help_context = 0;
  if (help_file) *help_file = nullptr;
  if (name) *name = nullptr;
  if (doc) *doc = nullptr;
  HRESULT hr = PutBstr(*n, name);
  if (SUCCEEDED(hr)) hr = d->empty() ? S_OK : PutBstr(*d, doc);
  if (FAILED(hr) && name) {
    SysFreeString(*name);
    *name = nullptr;
  }
  return hr;
}

HRESULT TypeInfo::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) {
  if (!info) return E_INVALIDARG;
  *info = nullptr;
  for (HREFTYPE r : impl_refs_) {
    if (r == ref) return lib_->GetTypeInfo(ref, info);
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
  if (!lib) return E_INVALIDARG;
  *lib = lib_;
  lib_->AddRef();
  if (index) *index = index_;
  return S_OK;
}

}  // namespace

HRESULT CreateTypeLib(const IdlLibrary& library, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = new TypeLibrary(library);
  (*lib)->AddRef();
  return S_OK;
}

HRESULT CreateTypeLibFromIdl(std::string_view idl, ITypeLib** lib, std::string* error) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  IdlParseResult parsed = ParseIdl(idl);
  if (!parsed.library) {
    if (error) *error = parsed.error;
    return TYPE_E_INVDATAREAD;
  }
  return CreateTypeLib(*parsed.library, lib);
}
