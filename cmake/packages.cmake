# What a player downloads, made by the target `packages` in
# build/<preset>/packages: the stripped program with the guide and the
# licence, as a zip for Windows, as a tarball and a .deb for Linux, and
# SHA256SUMS beside them. Two builds of one commit give the same bytes
# (tools/pack.py, tools/debpack.py), with ORBSET_SOURCE_DATE_EPOCH as the
# time of every entry.
set(pkgdir ${CMAKE_BINARY_DIR}/packages)
set(base ${PROJECT_NAME}-${PROJECT_VERSION})
set(pack ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/pack.py)
set(epoch ${ORBSET_SOURCE_DATE_EPOCH})

# The packages hold stripped copies; the tests run the program as built.
# An ELF program also loses the compiler's notes, as Debian strips them.
# strip writes a time into a PE header that has none (the linker leaves
# it out): SOURCE_DATE_EPOCH, else the current time. 0 keeps it empty.
set(stripflags --strip-all)
if(NOT WIN32)
  list(APPEND stripflags --remove-section=.comment --remove-section=.note)
endif()
function(stripped_copy target out)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${CMAKE_STRIP} ${stripflags} -o ${out} $<TARGET_FILE:${target}>
    DEPENDS ${target}
    VERBATIM)
endfunction()
set(stripped ${CMAKE_BINARY_DIR}/dist/orbset${CMAKE_EXECUTABLE_SUFFIX})
stripped_copy(orbset ${stripped})

if(WIN32)
  # Windows players read CR LF text files.
  set(texts "")
  foreach(text doc/player-guide.txt LICENSE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${text})
    file(READ ${text} content)
    string(REPLACE "\n" "\r\n" content "${content}")
    get_filename_component(name ${text} NAME_WE)
    file(WRITE ${CMAKE_BINARY_DIR}/dist/${name}.txt "${content}")
    list(APPEND texts ${base}-win32/${name}.txt=${CMAKE_BINARY_DIR}/dist/${name}.txt:644)
  endforeach()
  set(packages ${pkgdir}/${base}-win32.zip)
  add_custom_command(OUTPUT ${packages}
    COMMAND ${pack} zip ${packages} ${epoch} ${base}-win32/orbset.exe=${stripped}:755 ${texts}
    DEPENDS ${stripped} ${CMAKE_SOURCE_DIR}/tools/pack.py
    VERBATIM)
else()
  set(top ${base}-Linux)
  set(tarball ${pkgdir}/${top}.tar.gz)
  set(doc share/doc/${PROJECT_NAME})
  # The tarball is for every Linux: its program is the static one.
  set(static ${CMAKE_BINARY_DIR}/dist/orbset-static)
  stripped_copy(orbset-static ${static})
  set(sources ${CMAKE_SOURCE_DIR}/doc/orbset.1 ${CMAKE_SOURCE_DIR}/doc/player-guide.txt
              ${CMAKE_SOURCE_DIR}/LICENSE)
  add_custom_command(OUTPUT ${tarball}
    COMMAND ${pack} tar ${tarball} ${epoch}
            ${top}/bin/orbset=${static}:755
            ${top}/share/man/man1/orbset.1=${CMAKE_SOURCE_DIR}/doc/orbset.1:644
            ${top}/${doc}/player-guide.txt=${CMAKE_SOURCE_DIR}/doc/player-guide.txt:644
            ${top}/${doc}/LICENSE=${CMAKE_SOURCE_DIR}/LICENSE:644
    DEPENDS ${static} ${sources} ${CMAKE_SOURCE_DIR}/tools/pack.py
    VERBATIM)
  set(packages ${tarball})
  include(cmake/debpackage.cmake)
endif()

add_custom_command(OUTPUT ${pkgdir}/SHA256SUMS
  COMMAND ${pack} sums ${pkgdir}/SHA256SUMS ${packages}
  DEPENDS ${packages}
  VERBATIM)
add_custom_target(packages DEPENDS ${pkgdir}/SHA256SUMS)
