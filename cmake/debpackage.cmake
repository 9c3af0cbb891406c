# The .deb, part of the Linux packages where Debian's tools are there
# (dpkg-deb from dpkg, dpkg-shlibdeps from dpkg-dev): /usr/bin/orbset, its
# man page and the guide, in the places Debian's tools look for them.
find_program(DPKG dpkg)
find_program(DPKG_DEB dpkg-deb)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT DPKG OR NOT DPKG_DEB OR NOT DPKG_SHLIBDEPS)
  message(WARNING "No dpkg-deb or dpkg-shlibdeps (Debian's dpkg-dev): the packages leave out the .deb")
  return()
endif()
execute_process(COMMAND ${DPKG} --print-architecture OUTPUT_VARIABLE arch
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

set(control ${CMAKE_BINARY_DIR}/dist/deb-control)
file(WRITE ${control} "\
Package: ${PROJECT_NAME}
Version: ${PROJECT_VERSION}
Architecture: ${arch}
Maintainer: The orbset developers <maintainers@users.noreply.c-seed-adc2efbc.example>
Section: utils
Priority: optional
Description: more realistic moon for Thief 2: The Metal Age
 orbset gives each stock mission of Thief 2: The Metal Age a new moon:
 a new texture, size, rotation and colour, written in place into the
 mission file, 328 bytes per file, after a yes for each file. It also
 shows the moons of every mission file without changing them.
 .
 The new moon shows in the game only with ddfix and its Thief2Extensions
 option on.
")

set(deb ${pkgdir}/${PROJECT_NAME}_${PROJECT_VERSION}_${arch}.deb)
set(doc usr/share/doc/${PROJECT_NAME})
add_custom_command(OUTPUT ${deb}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/debpack.py
          ${deb} ${epoch} ${control} ${CMAKE_BINARY_DIR}/dist/deb
          usr/bin/orbset=${stripped}:755
          usr/share/man/man1/orbset.1.gz=${CMAKE_SOURCE_DIR}/doc/orbset.1:644
          ${doc}/player-guide.txt=${CMAKE_SOURCE_DIR}/doc/player-guide.txt:644
          ${doc}/copyright=${CMAKE_SOURCE_DIR}/LICENSE:644
  DEPENDS ${stripped} ${sources} ${control}
          ${CMAKE_SOURCE_DIR}/tools/pack.py ${CMAKE_SOURCE_DIR}/tools/debpack.py
  VERBATIM)
list(APPEND packages ${deb})
