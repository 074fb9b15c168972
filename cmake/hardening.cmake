# Debian's hardening flags, as dpkg-buildflags gives them with bindnow added,
# on every target that links talmir880_options. The package is made from the
# normal build, so that build is the hardened one. Sanitizer and fuzz builds
# stay without: FORTIFY's checked copies hide overflows from ASan.
if(TALMIR_SANITIZE OR TALMIR_BUILD_FUZZ)
  set(talmir880_fortified 0)
  return()
endif()

# A Windows executable's equivalents: address-space randomisation, also
# above 4 GiB, and data that cannot run. MinGW-w64's FORTIFY and stack
# protector need its libssp, which the static test programs do without.
if(WIN32)
  target_link_options(talmir880_options INTERFACE
    LINKER:--dynamicbase LINKER:--high-entropy-va LINKER:--nxcompat)
  target_compile_options(talmir880_options INTERFACE -Wformat -Werror=format-security)
  set(talmir880_fortified 0)
  return()
endif()

# FORTIFY needs optimisation (glibc warns without it), so not in Debug; the
# packaging tests ask for it where this says so.
set(talmir880_fortified $<NOT:$<CONFIG:Debug>>)
# -U first: some toolchains define it already, and a second value warns.
target_compile_options(talmir880_options INTERFACE
  $<${talmir880_fortified}:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2>
  -fstack-protector-strong -Wformat -Werror=format-security)
target_link_options(talmir880_options INTERFACE LINKER:-z,relro,-z,now)

# Position-independent executables: -fPIE on every target that links the
# options, -pie where CMake links an executable.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set_property(TARGET talmir880_options PROPERTY INTERFACE_POSITION_INDEPENDENT_CODE ON)
