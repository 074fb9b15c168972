// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/private_file.hpp"
#include "platform/text_windows.hpp"

namespace talmir880::platform {
namespace {

// Whom the system itself lets in: the owner, the system account and the
// administrators, as Windows' own ssh accepts for a private key.
bool the_owners_side(PSID sid, PSID owner) {
  return ::EqualSid(sid, owner) || ::IsWellKnownSid(sid, WinLocalSystemSid) ||
         ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

std::string account_name(PSID sid) {
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use;
  if (::LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    return narrow(domain_size > 0 ? std::wstring(domain) + L"\\" + name : std::wstring(name));
  }
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return "an unknown account";
  std::string out = narrow(text);
  ::LocalFree(text);
  return out;
}

// Everyone but the owner's side who may read or change the file.
std::vector<std::string> others_let_in(PACL dacl, PSID owner) {
  constexpr ACCESS_MASK kUse = FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_READ |
                               GENERIC_WRITE | GENERIC_ALL;
  std::vector<std::string> names;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    // An ace only for what is made inside a folder grants nothing here.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
      continue;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = &allowed->SidStart;
    if ((allowed->Mask & kUse) == 0 || the_owners_side(sid, owner)) continue;
    names.push_back(account_name(sid));
  }
  return names;
}

}  // namespace

std::optional<std::string> open_to_others(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring wide = widen(path);
  if (::GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<std::string> others;
  if (dacl == nullptr) {
    others.push_back("everyone: it has no access list");
  } else {
    others = others_let_in(dacl, owner);
  }
  ::LocalFree(descriptor);
  if (others.empty()) return std::nullopt;
  std::string who;
  std::string command = "icacls \"" + path + "\" /inheritance:r";
  for (const std::string& name : others) {
    who += (who.empty() ? "" : ", ") + name;
    if (dacl != nullptr) command += " /remove \"" + name + "\"";
  }
  return path + " is open to others (" + who + "); run " + command + " /grant:r \"%USERNAME%:F\"";
}

namespace {

// The file's owner and the system alone, nothing inherited.
bool owner_only(const std::string& path) {
  const std::wstring wide = widen(path);
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR current = nullptr;
  if (::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &current) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t* sid = nullptr;
  const bool named = ::ConvertSidToStringSidW(owner, &sid);
  ::LocalFree(current);
  if (!named) return false;
  const std::wstring sddl = L"D:P(A;;FA;;;SY)(A;;FA;;;" + std::wstring(sid) + L")";
  ::LocalFree(sid);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
    return false;
  }
  const bool set = ::SetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION, descriptor);
  ::LocalFree(descriptor);
  return set;
}

}  // namespace

bool write_private(const std::string& path, const std::string& text, std::string& why) {
  // Made empty and closed to others before the secret goes in.
  if (!std::ofstream(std::filesystem::path(widen(path)), std::ios::binary | std::ios::trunc) ||
      !owner_only(path)) {
    why = path + ": cannot be made its owner's alone";
    return false;
  }
  std::ofstream out(std::filesystem::path(widen(path)), std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) {
    why = path + ": cannot be written";
    return false;
  }
  return true;
}

}  // namespace talmir880::platform
