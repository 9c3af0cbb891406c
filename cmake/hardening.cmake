# The program reads mission files that players download from the
# internet, so it is built as a distribution builds its own programs:
# stack protector and stack clash protection, control-flow protection,
# checked string and memory functions, format strings checked, a position
# independent executable with read-only relocations bound at start.
if(WIN32)
  # The guard and its check come from src/stackguard.cpp, not from gcc's
  # libssp, which would bring in another DLL: the link leaves it out.
  add_compile_options(-fstack-protector-strong)
  return()
endif()

include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -fstack-clash-protection
                    -Wformat -Werror=format-security)
# Control-flow protection is a feature of x86 processors; on others the
# compiler refuses the option.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
  add_compile_options(-fcf-protection)
endif()
# The checked functions need the optimizer's object sizes, and would hide
# from a sanitizer the accesses it checks; a compiler that defines the
# macro itself must not make the build fail on a redefinition.
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
add_link_options(-Wl,-z,relro,-z,now)
