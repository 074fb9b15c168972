#include "support/owner_only.hpp"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on
#else
#include <sys/stat.h>
#endif

namespace talmir880::testing {

#ifdef _WIN32
namespace {

std::wstring owner_sid(const std::wstring& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return {};
  }
  wchar_t* text = nullptr;
  std::wstring out;
  if (::ConvertSidToStringSidW(owner, &text)) {
    out = text;
    ::LocalFree(text);
  }
  ::LocalFree(descriptor);
  return out;
}

// `extra`: more aces in SDDL, after the system's and the owner's.
bool set_access(const std::string& narrow_path, const std::wstring& extra) {
  const std::wstring path(narrow_path.begin(), narrow_path.end());
  const std::wstring sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;" + owner_sid(path) + L")" + extra;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return false;
  }
  // SetFileSecurity, not SetNamedSecurityInfo: Wine keeps only the former
  // (as the file's mode).
  const bool ok = ::SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
  ::LocalFree(descriptor);
  return ok;
}

}  // namespace

bool make_owner_only(const std::string& path) { return set_access(path, L""); }
bool let_everyone_read(const std::string& path) { return set_access(path, L"(A;;FR;;;WD)"); }
#else
bool make_owner_only(const std::string& path) { return ::chmod(path.c_str(), 0600) == 0; }
bool let_everyone_read(const std::string& path) { return ::chmod(path.c_str(), 0644) == 0; }
#endif

}  // namespace talmir880::testing
