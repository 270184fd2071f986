// The suite's sample control, as the packages carry it: its version
// resource, its class, and what its registration entry points write.
#include <gtest/gtest.h>
#include <ole2.h>

#include <string>

#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace {

const CLSID kClsid = {0x5C2B7E41, 0x9A3D, 0x4F6B, {0x8E, 0x21, 0x7D, 0x4C, 0x0A, 0x9B, 0x1E, 0x36}};
const char kClass[] = "CLSID\\{5C2B7E41-9A3D-4F6B-8E21-7D4C0A9B1E36}";
const char kStdole[] = "TypeLib\\{00020430-0000-0000-C000-000000000046}";
const char kTypeLib[] = "TypeLib\\{2D6B9C31-7E85-4A0F-B3C2-9F1E4D7A6B58}\\1.0";

std::string ControlPath(const char* version) {
  return kittest::WindowsPathOf(std::string(KITLOADER_BUILD_DIR "/suite/ombrixctl-") + version + "/ombrixctl.dll");
}

const IID kIid = {0x8E3F5B12, 0x4C7A, 0x4D19, {0x9B, 0x2E, 0x61, 0xA0, 0xC3, 0xD4, 0xE5, 0xF7}};

TEST(OmbrixControl, EachVersionReportsItselfAndRegistersForTheMachineOrTheUser) {
  for (const char* version : {"1.0.0.1", "2.0.0.1"}) {
    SCOPED_TRACE(version);
    const std::string path = ControlPath(version);
    EXPECT_EQ(kittest::FileVersionOf(path), version);

    // The type library imports stdole2, which the system registers: the
    // sandbox gets a copy of that registration.
    kit::UniqueKey stdole;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, kStdole, 0, KEY_READ, stdole.put()), ERROR_SUCCESS);
    kittest::RegistrySandbox sandbox;
    kit::UniqueKey copy;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kStdole, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, copy.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCopyTreeA(stdole.get(), nullptr, copy.get()), ERROR_SUCCESS);
    kit::UniqueModule module(LoadLibraryA(path.c_str()));
    ASSERT_TRUE(module);
    auto entry = [&](const char* name) {
      return reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
          reinterpret_cast<void*>(GetProcAddress(module.get(), name)));
    };
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module.get(), "DllGetClassObject")));
    ASSERT_TRUE(getClassObject && entry("DllRegisterServer") && entry("DllRegisterServerUser") &&
                entry("DllUnregisterServer"));

    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IUnknown* control = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIid, reinterpret_cast<void**>(&control)), S_OK);
    control->Release();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&control)), E_NOINTERFACE);

    ASSERT_EQ(entry("DllRegisterServer")(), S_OK);
    EXPECT_TRUE(kittest::RegValueExists(HKEY_CLASSES_ROOT, std::string(kClass) + "\\InprocServer32", ""));
    EXPECT_TRUE(kittest::RegKeyExists(HKEY_CLASSES_ROOT, kTypeLib));
    EXPECT_FALSE(kittest::RegKeyExists(HKEY_CURRENT_USER, std::string("Software\\Classes\\") + kClass));

    ASSERT_EQ(entry("DllRegisterServerUser")(), S_OK);
    EXPECT_TRUE(kittest::RegValueExists(HKEY_CURRENT_USER,
                                        std::string("Software\\Classes\\") + kClass + "\\InprocServer32", ""));

    ASSERT_EQ(entry("DllUnregisterServer")(), S_OK);
    EXPECT_FALSE(kittest::RegKeyExists(HKEY_CLASSES_ROOT, kClass));
    EXPECT_FALSE(kittest::RegKeyExists(HKEY_CURRENT_USER, std::string("Software\\Classes\\") + kClass));
  }
}

}  // namespace
