#include "platform/com/dispatch_invoke.h"

#include <vector>

#include "platform/com/disp_call_func.h"

namespace {

bool IsMissing(const VARIANT* arg) {
  return !arg || (arg->vt == VT_ERROR && arg->scode == DISP_E_PARAMNOTFOUND);
}

bool IsRetval(const ELEMDESC& e) {
  return (e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) && e.tdesc.vt == VT_PTR && e.tdesc.lptdesc;
}

// The arguments of one call and what they own; cleared when it goes.
class CallFrame {
 public:
  explicit CallFrame(size_t count) : values_(count), types_(count), pointers_(count) {
    for (VARIANT& v : values_) VariantInit(&v);
    VariantInit(&retval_);
  }
  ~CallFrame() {
    for (VARIANT& v : values_) VariantClear(&v);
    VariantClear(&retval_);
  }
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

  // A VARIANT parameter receives the caller's VARIANT itself.
  void PassVariant(size_t i, VARIANT* arg) {
    types_[i] = VT_VARIANT;
    pointers_[i] = arg;
  }
  void PassMissing(size_t i) {
    values_[i].vt = VT_ERROR;
    values_[i].scode = DISP_E_PARAMNOTFOUND;
    PassVariant(i, &values_[i]);
  }
  HRESULT PassCoerced(size_t i, VARIANT* arg, VARTYPE vt) {
    HRESULT hr = VariantChangeType(&values_[i], arg, 0, vt);
    if (FAILED(hr)) return hr;
    types_[i] = vt;
    pointers_[i] = &values_[i];
    return S_OK;
  }
  // The out pointer of an [out, retval] parameter points into retval_.
  void PassRetval(size_t i, VARTYPE pointee) {
    retval_.vt = pointee;
    values_[i].vt = VT_BYREF | pointee;
    values_[i].byref =
        pointee == VT_VARIANT ? static_cast<void*>(&retval_) : static_cast<void*>(&retval_.llVal);
    if (pointee == VT_VARIANT) retval_.vt = VT_EMPTY;
    types_[i] = values_[i].vt;
    pointers_[i] = &values_[i];
  }
  // Hands the retval to `result`, which takes ownership.
  void TakeRetval(VARIANT* result) {
    *result = retval_;
    VariantInit(&retval_);
  }

  HRESULT Call(void* instance, const FUNCDESC& func, HRESULT* method_hr) {
    VARIANT ret;
    HRESULT hr =
        DispCallFunc(instance, static_cast<uintptr_t>(func.oVft), func.callconv, VT_HRESULT,
                     static_cast<UINT>(types_.size()), types_.data(), pointers_.data(), &ret);
    *method_hr = ret.scode;
    return hr;
  }

 private:
  std::vector<VARIANT> values_;
  std::vector<VARTYPE> types_;
  std::vector<VARIANTARG*> pointers_;
  VARIANT retval_;
};

}  // namespace

HRESULT InvokeFunction(void* instance, const FUNCDESC& func, WORD flags, DISPPARAMS* params,
                       VARIANT* result, UINT* arg_err) {
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
  if (params->cNamedArgs) return DISP_E_NONAMEDARGS;
  const size_t declared = static_cast<size_t>(func.cParams);
  const bool has_retval = declared > 0 && IsRetval(func.lprgelemdescParam[declared - 1]);
  const size_t inputs = declared - (has_retval ? 1 : 0);
  const size_t required = inputs - static_cast<size_t>(func.cParamsOpt);
  const size_t given = params->cArgs;
  if (given > inputs || given < required) return DISP_E_BADPARAMCOUNT;

  CallFrame frame(declared);
  for (size_t i = 0; i < inputs; ++i) {
    const ELEMDESC& param = func.lprgelemdescParam[i];
    const UINT position = static_cast<UINT>(given - 1 - i);  // rgvarg holds them reversed
    VARIANT* arg = i < given ? &params->rgvarg[position] : nullptr;
    HRESULT hr = S_OK;
    if (IsMissing(arg)) {
      if (param.paramdesc.wParamFlags & PARAMFLAG_FOPT) {
        frame.PassMissing(i);
        continue;
      }
      hr = DISP_E_PARAMNOTOPTIONAL;
    } else if (param.tdesc.vt == VT_VARIANT) {
      frame.PassVariant(i, arg);
    } else {
      hr = frame.PassCoerced(i, arg, param.tdesc.vt);
    }
    if (FAILED(hr)) {
      if (arg_err) *arg_err = i < given ? position : static_cast<UINT>(i);
      return hr;
    }
  }
  if (has_retval) frame.PassRetval(inputs, func.lprgelemdescParam[inputs].tdesc.lptdesc->vt);

  HRESULT method_hr;
  HRESULT hr = frame.Call(instance, func, &method_hr);
  if (FAILED(hr)) return hr;
  if (result) {
    VariantInit(result);
    if (has_retval && SUCCEEDED(method_hr)) frame.TakeRetval(result);
  }
  return method_hr;
}
