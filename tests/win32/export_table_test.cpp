// The DLLs' PE export and import directories, read from the loaded images:
// the exports are exactly the header's functions under their plain names,
// and nothing but system DLLs is needed beside ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

#include "win32/win32_dll.h"

namespace rk350::win32 {
namespace {

template <typename T>
const T* At(HMODULE module, DWORD rva) {
  return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module) + rva);
}

const IMAGE_DATA_DIRECTORY& Directory(HMODULE module, int index) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
  const auto* nt = At<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
  return nt->OptionalHeader.DataDirectory[index];
}

std::set<std::string> ExportedNames(HMODULE module) {
  std::set<std::string> names;
  const auto& dir = Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
  if (dir.VirtualAddress == 0) return names;
  const auto* exports = At<IMAGE_EXPORT_DIRECTORY>(module, dir.VirtualAddress);
  const auto* nameRvas = At<DWORD>(module, exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(At<char>(module, nameRvas[i]));
  return names;
}

std::set<std::string> ImportedDlls(HMODULE module) {
  std::set<std::string> dlls;
  const auto& dir = Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
  if (dir.VirtualAddress == 0) return dlls;
  for (const auto* d = At<IMAGE_IMPORT_DESCRIPTOR>(module, dir.VirtualAddress); d->Name != 0; ++d) {
    std::string name = At<char>(module, d->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    dlls.insert(name);
  }
  return dlls;
}

class Win32DllImage : public ::testing::TestWithParam<DllUnderTest> {};

// Expected: rk350.h and the documented extension calls of rk350_ext.h, and
// for the virtual-card flavour the card's control calls of rk350_sim.h.
TEST_P(Win32DllImage, ExportsExactlyTheHeaderFunctionsUndecorated) {
  LoadedDll dll(GetParam().fileName);
  ASSERT_TRUE(dll.Loaded());
  std::set<std::string> expected;
  for (const auto& e : exports::kExports) {
    if (std::string(e.header) != "rk350_sim.h" || GetParam().virtualCard) expected.insert(e.name);
  }
  const std::set<std::string> actual = ExportedNames(dll.Module());
  for (const auto& name : expected) EXPECT_TRUE(actual.count(name)) << "missing export " << name;
  for (const auto& name : actual) {
    EXPECT_TRUE(expected.count(name)) << "export not in the headers: " << name;
    EXPECT_EQ(name.find('@'), std::string::npos) << "decorated export " << name;
  }
  EXPECT_GE(actual.size(), 110u);  // the whole interface, not a stray subset
}

TEST_P(Win32DllImage, ImportsOnlySystemDlls) {
  LoadedDll dll(GetParam().fileName);
  ASSERT_TRUE(dll.Loaded());
  const std::set<std::string> system = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll"};
  const std::set<std::string> imports = ImportedDlls(dll.Module());
  EXPECT_FALSE(imports.empty());
  for (const auto& name : imports) EXPECT_TRUE(system.count(name)) << "needs " << name;
}

std::string DllName(const ::testing::TestParamInfo<DllUnderTest>& info) {
  return info.param.virtualCard ? "Virtual" : "Hardware";
}

INSTANTIATE_TEST_SUITE_P(BothFlavours, Win32DllImage, ::testing::ValuesIn(kDlls), DllName);

}  // namespace
}  // namespace rk350::win32
