// IDispatch over a filter, in process: the dispatch IDs and names, argument coercion, result
// types, SetPath's string by reference, the errors a client gets and the interfaces the object
// answers.

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/import_filter.h"
#include "app/win32/filter_dispatch.h"
#include "windows_test_support.h"

namespace kv::com {
namespace {

using wintest::Bstr;
using wintest::ByReference;
using wintest::Call;
using wintest::I2;
using wintest::I4;
using wintest::R8;
using wintest::Text;
using wintest::Variant;

// {79524993-3A10-11D3-983D-0020AFF7BF53}, the Outlook Express 4 class.
constexpr GUID kClassId = {
    0x79524993, 0x3A10, 0x11D3, {0x98, 0x3D, 0x00, 0x20, 0xAF, 0xF7, 0xBF, 0x53}};

// Records what the dispatch layer hands it and answers with recognisable values.
class RecordingFilter final : public ImportFilter {
 public:
  std::string GetName() override { return "Priv\xC3\xA9 \xE2\x82\xAC"; }  // "Privé €"
  bool GoFirst() override { return true; }
  std::int32_t GetItemStatus() override { return 3; }
  std::int32_t GetItemExStatus() override { return 6; }
  AutomationString GetSubItem(std::int16_t code) override {
    last_code = code;
    if (code == 99) return std::nullopt;
    if (code == 13) throw std::runtime_error("a filter fault");
    return "code " + std::to_string(code);
  }
  void SetPath(std::string& path) override {
    last_path = path;
    if (path == "change me") path = "changed";
  }
  void SetParent(std::int32_t window) override { last_parent = window; }

  int last_code = 0;
  std::string last_path;
  std::int32_t last_parent = 0;
};

// (The object's last release, which destroys the filter and lets the server end: server_test,
// whose server must end after it.)

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() {
    auto filter = std::make_unique<RecordingFilter>();
    filter_ = filter.get();
    object_ = new FilterDispatch(kClassId, std::move(filter), nullptr);
  }
  ~DispatchTest() override { object_->Release(); }

  RecordingFilter* filter_ = nullptr;
  FilterDispatch* object_ = nullptr;
};

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 0;
  HRESULT status = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  return SUCCEEDED(status) ? id : DISPID_UNKNOWN;
}

// (Names in other capitals, and the result types of every method as a script sees them:
// server_suite.vbs, across processes.)
TEST_F(DispatchTest, NamesGiveThePositionsOneToEleven) {
  const wchar_t* names[] = {L"GetName",         L"GetType",    L"GoFirst",       L"GoNext",
                            L"GetItemStatus",   L"GetSubItem", L"IsSystemFound", L"GetItemExStatus",
                            L"IsEnableSetPath", L"SetPath",    L"SetParent"};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(IdOf(object_, names[i]), i + 1) << names[i];
  for (const wchar_t* unknown : {L"GoLast", L"GetNam", L"GetNameX", L"", L"Get Name"}) {
    EXPECT_EQ(IdOf(object_, unknown), DISPID_UNKNOWN) << unknown;
  }
  // A parameter name: the method is found, the name is not, and the call says so.
  LPOLESTR with_parameter[] = {const_cast<LPOLESTR>(L"GetSubItem"), const_cast<LPOLESTR>(L"code")};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(object_->GetIDsOfNames(IID_NULL, with_parameter, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 6);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

// Results a script's checks cannot tell from others: UTF-16 beyond the code page, VARIANT_TRUE
// (-1, not 1) and a null string.
TEST_F(DispatchTest, ResultsCarryTheirAutomationValues) {
  Variant name(Call(object_, 1, {}, DISPATCH_METHOD | DISPATCH_PROPERTYGET).result);
  EXPECT_EQ(Text(*name), L"Priv\u00E9 \u20AC");
  Variant first(Call(object_, 3).result);
  EXPECT_EQ(first->vt, VT_BOOL);
  EXPECT_EQ(first->boolVal, VARIANT_TRUE);
  Variant null_result(Call(object_, 6, {I2(99)}).result);
  EXPECT_EQ(Text(*null_result), L"(null)") << "a null string stays null";
}

TEST_F(DispatchTest, ArgumentsAreCoercedToTheParameterType) {
  short value = 11;
  VARIANT by_reference = wintest::Make(VT_I2 | VT_BYREF, [&](VARIANT& v) { v.piVal = &value; });
  VARIANT inner = I4(11);
  for (VARIANT code : {I4(11), R8(11.0), Bstr(L"11"), by_reference, ByReference(&inner)}) {
    SCOPED_TRACE(code.vt);
    filter_->last_code = 0;
    wintest::InvokeResult call = Call(object_, 6, {code});
    Variant result(call.result);
    EXPECT_EQ(call.status, S_OK);
    EXPECT_EQ(filter_->last_code, 11);
    EXPECT_EQ(Text(*result), L"code 11");
  }
  Call(object_, 11, {Bstr(L"4660")});
  EXPECT_EQ(filter_->last_parent, 4660);

  for (auto [argument, status] :
       {std::pair{Bstr(L"eleven"), DISP_E_TYPEMISMATCH}, std::pair{I4(70000), DISP_E_OVERFLOW}}) {
    wintest::InvokeResult call = Call(object_, 6, {argument});
    EXPECT_EQ(call.status, status);
    EXPECT_EQ(call.argument_error, 0u);
  }
}

TEST_F(DispatchTest, SetPathTakesItsStringByReference) {
  // A string by reference gets the filter's change back, also when no result is asked for.
  BSTR text = SysAllocString(L"change me");
  VARIANT reference = wintest::Make(VT_BSTR | VT_BYREF, [&](VARIANT& v) { v.pbstrVal = &text; });
  DISPPARAMS parameters{&reference, nullptr, 1, 0};
  ASSERT_EQ(
      object_->Invoke(10, IID_NULL, 0, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(std::wstring(text), L"changed");

  // Unchanged strings are left as they were, the same BSTR.
  BSTR kept = SysAllocString(L"!!!NextFolder");
  const BSTR before = kept;
  Call(object_, 10, {wintest::Make(VT_BSTR | VT_BYREF, [&](VARIANT& v) { v.pbstrVal = &kept; })});
  EXPECT_EQ(kept, before);
  EXPECT_EQ(filter_->last_path, "!!!NextFolder");

  // A script passes a variable as a variant by reference; a literal by value.
  VARIANT variable = Bstr(L"change me");
  Call(object_, 10, {ByReference(&variable)});
  EXPECT_EQ(Text(variable), L"changed");
  EXPECT_EQ(Call(object_, 10, {Bstr(L"literal")}).status, S_OK);
  EXPECT_EQ(filter_->last_path, "literal");
  VariantClear(&variable);
  SysFreeString(text);
  SysFreeString(kept);
}

TEST_F(DispatchTest, RefusesWhatTheInterfaceDoesNotHave) {
  EXPECT_EQ(Call(object_, 12).status, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(object_, 0).status, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(object_, 1, {}, DISPATCH_PROPERTYPUT).status, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(object_, 1, {I2(1)}).status, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(object_, 6).status, DISP_E_BADPARAMCOUNT);

  VARIANT code = I2(5);
  DISPID named = 0;
  DISPPARAMS with_name{&code, &named, 1, 1};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(object_->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &with_name, &result, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(object_->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);

  // A fault inside the filter comes back as an automation exception, not a crash.
  EXCEPINFO exception{};
  VARIANT fault = I2(13);
  DISPPARAMS faulting{&fault, nullptr, 1, 0};
  EXPECT_EQ(
      object_->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &faulting, &result, &exception, nullptr),
      DISP_E_EXCEPTION);

  UINT count = 7;
  EXPECT_EQ(object_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  ITypeInfo* info = nullptr;
  EXPECT_TRUE(FAILED(object_->GetTypeInfo(0, 0, &info)));
}

TEST_F(DispatchTest, AnswersItsClassInterfaceAndIDispatchOnly) {
  for (const IID& iid : {IID_IUnknown, IID_IDispatch, kClassId}) {
    void* answer = nullptr;
    ASSERT_EQ(object_->QueryInterface(iid, &answer), S_OK);
    EXPECT_EQ(answer, static_cast<IDispatch*>(object_));
    object_->Release();
  }
  for (const IID& iid : {IID_IPersist, IID_IClassFactory, IID_IEnumVARIANT}) {
    void* answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(object_->QueryInterface(iid, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
  }
  CLSID class_id{};
  EXPECT_EQ(object_->GetClassID(&class_id), S_OK);
  EXPECT_TRUE(IsEqualGUID(class_id, kClassId));
}

}  // namespace
}  // namespace kv::com
