#include "app/win32/filter_dispatch.h"

#include <array>
#include <new>
#include <string>

#include "app/win32/automation_text.h"

namespace kv::com {
namespace {

constexpr std::array<DispatchMethod, 11> kMethods{{
    {L"GetName", DispatchId::kGetName, VT_EMPTY, VT_BSTR},
    {L"GetType", DispatchId::kGetType, VT_EMPTY, VT_I2},
    {L"GoFirst", DispatchId::kGoFirst, VT_EMPTY, VT_BOOL},
    {L"GoNext", DispatchId::kGoNext, VT_EMPTY, VT_BOOL},
    {L"GetItemStatus", DispatchId::kGetItemStatus, VT_EMPTY, VT_I4},
    {L"GetSubItem", DispatchId::kGetSubItem, VT_I2, VT_BSTR},
    {L"IsSystemFound", DispatchId::kIsSystemFound, VT_EMPTY, VT_BOOL},
    {L"GetItemExStatus", DispatchId::kGetItemExStatus, VT_EMPTY, VT_I4},
    {L"IsEnableSetPath", DispatchId::kIsEnableSetPath, VT_EMPTY, VT_BOOL},
    {L"SetPath", DispatchId::kSetPath, VT_BSTR | VT_BYREF, VT_EMPTY},
    {L"SetParent", DispatchId::kSetParent, VT_I4, VT_EMPTY},
}};

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; }

bool SameNameIgnoringCase(std::wstring_view a, const OLECHAR* b) {
  std::size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == 0 || FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return b[i] == 0;
}

const DispatchMethod* FindMethod(DISPID id) {
  for (const DispatchMethod& method : kMethods) {
    if (static_cast<DISPID>(method.id) == id) return &method;
  }
  return nullptr;
}

// VariantChangeType reports a failed coercion in several ways; a client is told a type mismatch,
// or an overflow when the value did not fit.
HRESULT CoercionError(HRESULT status) {
  return status == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
}

// A VARIANT cleared when the scope ends.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&value_); }
  ~ScopedVariant() { VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &value_; }
  VARIANT release() {
    VARIANT value = value_;
    VariantInit(&value_);
    return value;
  }

 private:
  VARIANT value_;
};

VARIANT_BOOL ToVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

std::span<const DispatchMethod> DispatchMethods() { return kMethods; }

FilterDispatch::FilterDispatch(const GUID& class_id, std::unique_ptr<ImportFilter> filter,
                               ObjectListener* listener)
    : class_id_(class_id), filter_(std::move(filter)), listener_(listener) {}

FilterDispatch::~FilterDispatch() = default;

HRESULT FilterDispatch::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, class_id_)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG FilterDispatch::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG FilterDispatch::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) {
    ObjectListener* listener = listener_;
    // The filter's destructor gives up its server lock before the listener looks at the count.
    delete this;
    if (listener != nullptr) listener->OnObjectDestroyed();
  }
  return static_cast<ULONG>(left);
}

HRESULT FilterDispatch::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT FilterDispatch::GetTypeInfo(UINT /*index*/, LCID /*locale*/, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT FilterDispatch::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID /*locale*/,
                                      DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  bool found = false;
  if (names[0] != nullptr) {
    for (const DispatchMethod& method : kMethods) {
      if (SameNameIgnoringCase(method.name, names[0])) {
        ids[0] = static_cast<DISPID>(method.id);
        found = true;
        break;
      }
    }
  }
  return found && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT FilterDispatch::Invoke(DISPID member, REFIID iid, LCID /*locale*/, WORD flags,
                               DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                               UINT* argument_error) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  const DispatchMethod* method = FindMethod(member);
  if (method == nullptr || (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (parameters == nullptr) return E_INVALIDARG;
  if (parameters->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  const UINT wanted = method->argument == VT_EMPTY ? 0 : 1;
  if (parameters->cArgs != wanted) return DISP_E_BADPARAMCOUNT;
  if (wanted > 0 && parameters->rgvarg == nullptr) return E_INVALIDARG;

  ScopedVariant value;
  HRESULT status;
  try {
    status = Call(*method, wanted > 0 ? &parameters->rgvarg[0] : nullptr, *value.get());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    // No C++ exception may cross into the caller's process; it becomes an automation exception.
    if (exception != nullptr) {
      *exception = EXCEPINFO{};
      exception->scode = E_UNEXPECTED;
    }
    return DISP_E_EXCEPTION;
  }
  if (status == DISP_E_TYPEMISMATCH || status == DISP_E_OVERFLOW) {
    if (argument_error != nullptr) *argument_error = 0;
  }
  if (FAILED(status)) return status;
  if (result != nullptr) *result = value.release();
  return S_OK;
}

HRESULT FilterDispatch::Call(const DispatchMethod& method, VARIANT* argument, VARIANT& result) {
  ScopedVariant coerced;
  if (method.argument == VT_I2 || method.argument == VT_I4) {
    HRESULT status = VariantChangeType(coerced.get(), argument, 0, method.argument);
    if (FAILED(status)) return CoercionError(status);
  }
  switch (method.id) {
    case DispatchId::kGetName:
      result.vt = VT_BSTR;
      result.bstrVal = ToBstr(filter_->GetName());
      break;
    case DispatchId::kGetType:
      result.vt = VT_I2;
      result.iVal = filter_->GetType();
      break;
    case DispatchId::kGoFirst:
      result.vt = VT_BOOL;
      result.boolVal = ToVariantBool(filter_->GoFirst());
      break;
    case DispatchId::kGoNext:
      result.vt = VT_BOOL;
      result.boolVal = ToVariantBool(filter_->GoNext());
      break;
    case DispatchId::kGetItemStatus:
      result.vt = VT_I4;
      result.lVal = filter_->GetItemStatus();
      break;
    case DispatchId::kGetSubItem:
      result.vt = VT_BSTR;
      result.bstrVal = ToBstr(filter_->GetSubItem(coerced.get()->iVal));
      break;
    case DispatchId::kIsSystemFound:
      result.vt = VT_BOOL;
      result.boolVal = ToVariantBool(filter_->IsSystemFound());
      break;
    case DispatchId::kGetItemExStatus:
      result.vt = VT_I4;
      result.lVal = filter_->GetItemExStatus();
      break;
    case DispatchId::kIsEnableSetPath:
      result.vt = VT_BOOL;
      result.boolVal = ToVariantBool(filter_->IsEnableSetPath());
      break;
    case DispatchId::kSetPath:
      return SetPath(*argument);
    case DispatchId::kSetParent:
      filter_->SetParent(coerced.get()->lVal);
      break;
  }
  return S_OK;
}

HRESULT FilterDispatch::SetPath(VARIANT& argument) {
  // The caller's string, where the filter's changes go back: a BSTR passed by reference, directly
  // or inside a variant passed by reference (as script languages pass a variable).
  BSTR* caller_string = nullptr;
  if (argument.vt == (VT_BSTR | VT_BYREF)) {
    caller_string = argument.pbstrVal;
  } else if (argument.vt == (VT_VARIANT | VT_BYREF) && argument.pvarVal != nullptr &&
             argument.pvarVal->vt == VT_BSTR) {
    caller_string = &argument.pvarVal->bstrVal;
  }
  ScopedVariant text;
  HRESULT status = VariantChangeType(text.get(), &argument, 0, VT_BSTR);
  if (FAILED(status)) return CoercionError(status);
  const std::string given = FromBstr(text.get()->bstrVal);
  std::string path = given;
  filter_->SetPath(path);
  if (caller_string != nullptr && path != given) {
    BSTR changed = ToBstr(path);
    SysFreeString(*caller_string);
    *caller_string = changed;
  }
  return S_OK;
}

HRESULT FilterDispatch::GetClassID(CLSID* class_id) const {
  if (class_id == nullptr) return E_POINTER;
  *class_id = class_id_;
  return S_OK;
}

}  // namespace kv::com
