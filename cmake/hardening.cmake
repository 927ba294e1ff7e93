# Hardening of optimised builds (Release, RelWithDebInfo, MinSizeRel), as Debian's packaging
# checks expect: checked string and memory calls, stack canaries, a read-only relocation table
# resolved at start-up, and position-independent executables. Debug, sanitizer and fuzz builds
# go without: _FORTIFY_SOURCE needs optimisation and the sanitizers bring their own checks.
option(EVG_HARDEN "Harden optimised builds (fortify, stack protector, RELRO, now, PIE)" ON)
if(EVG_HARDEN AND NOT EVG_SANITIZE AND NOT EVG_FUZZ AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  # -U first: some compilers define their own level, and a second definition would warn.
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
  # PIE: -fPIE everywhere rather than CMake's position-independent setting, which compiles the
  # static libraries with -fPIC, whose functions may be interposed and so are not inlined.
  add_compile_options(-fPIE)
  add_link_options(-Wl,-z,relro,-z,now -pie)
endif()
