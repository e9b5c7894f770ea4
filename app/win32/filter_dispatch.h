#pragma once
// One filter object as a COM client sees it: IDispatch written by hand over an ImportFilter, with
// no type library. The dispatch IDs are the methods' positions (1 to 11, app/import_filter.h);
// names are found without regard to case; arguments are coerced with VariantChangeType; strings
// go out as BSTRs converted from the filter's text. The object answers QueryInterface for
// IUnknown, IDispatch and its class's own dispatch interface, whose IID is the class ID.

#include <memory>
#include <span>
#include <string_view>

#include "app/import_filter.h"
#include "platform/win32/windows_api.h"
// oaidl.h needs windows.h first.
#include <oaidl.h>

namespace kv::com {

// Hears when a filter object has been destroyed, so that the server can end once none is left.
class ObjectListener {
 public:
  virtual ~ObjectListener() = default;
  virtual void OnObjectDestroyed() = 0;
};

// A method of the dispatch interface: its name, dispatch ID, the type its argument (if any) is
// coerced to, and the type of its result (VT_EMPTY for none).
struct DispatchMethod {
  std::wstring_view name;
  DispatchId id;
  VARTYPE argument;  // VT_EMPTY: the method takes no argument
  VARTYPE result;
};
// The eleven methods in dispatch-map order.
std::span<const DispatchMethod> DispatchMethods();

class FilterDispatch final : public IDispatch {
 public:
  // Takes `filter`; `class_id` is the class ID, also the IID of the class's dispatch interface.
  // `listener` (may be null) must outlive the object. The object starts with one reference and
  // deletes itself, and the filter, when the last is released.
  FilterDispatch(const GUID& class_id, std::unique_ptr<ImportFilter> filter,
                 ObjectListener* listener);
  FilterDispatch(const FilterDispatch&) = delete;
  FilterDispatch& operator=(const FilterDispatch&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch. No type information: GetTypeInfoCount is 0 and GetTypeInfo fails.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  // The first name is the method (any case); further names would be parameter names, which the
  // interface does not have: they get DISPID_UNKNOWN and the call DISP_E_UNKNOWNNAME.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  // Method and property-get calls with positional arguments only. Errors: DISP_E_MEMBERNOTFOUND
  // (unknown ID, or a property put), DISP_E_NONAMEDARGS, DISP_E_BADPARAMCOUNT, and
  // DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW with `argument_error` 0 when the argument cannot be
  // coerced. SetPath takes its string by reference and writes it back if the filter changed it.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argument_error) override;

  // Copies the class ID into `class_id`.
  HRESULT GetClassID(CLSID* class_id) const;

 private:
  ~FilterDispatch();
  HRESULT Call(const DispatchMethod& method, VARIANT* argument, VARIANT& result);
  HRESULT SetPath(VARIANT& argument);

  LONG references_ = 1;
  GUID class_id_;
  std::unique_ptr<ImportFilter> filter_;
  ObjectListener* listener_;
};

}  // namespace kv::com
