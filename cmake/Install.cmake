# What `cmake --install` puts in place: the programs with their man pages, the
# public libraries with their headers, a CMake package (`find_package(talveco)`,
# targets `talveco::<name>`) and a pkg-config file (`talveco.pc`) beside it,
# and the licence. `cpack -G DEB` in the build directory makes a .deb of it all.
#
# A public library or a program is one line in the list at the end of this
# file; the CMake package, talveco.pc and the .deb follow from that list.
include(CMakePackageConfigHelpers)
find_package(Threads REQUIRED)

set(TALVECO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/talveco)
set(TALVECO_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Installs lib talveco_<name>.a, exported as talveco::<name>. The archive holds
# the objects of every in-tree target named, so that the platform layer the
# libraries share travels inside each of them and is no target of its own
# for a consumer. (Two archives holding the same platform objects link
# together without clashes: the linker takes each object from the first
# archive that resolves one of its symbols.) The interface carries what a
# consumer needs and nothing of the build: the header folder, C++20 and the
# thread library.
function(talveco_public_library name)
  cmake_parse_arguments(ARG "" "" "OBJECTS_OF;HEADERS" ${ARGN})
  set(target talveco_installed_${name})
  add_library(${target} STATIC)
  foreach(part IN LISTS ARG_OBJECTS_OF)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${part}>)
  endforeach()
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name} OUTPUT_NAME talveco_${name}
                                             LINKER_LANGUAGE CXX)
  target_compile_features(${target} INTERFACE cxx_std_20)
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${target} INTERFACE Threads::Threads)
  install(TARGETS ${target} EXPORT talvecoTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)
  # A stripped install (`--strip`, and so the .deb) strips only programs; the
  # archive keeps its symbols and sheds its debugging information.
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:${target}>\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()" COMPONENT library)
  install(FILES ${ARG_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/talveco
          COMPONENT library)
  set_property(GLOBAL APPEND PROPERTY TALVECO_PKGCONFIG_LIBS -ltalveco_${name})
endfunction()

# Compresses a file at build time as Debian's policy asks for man pages and
# changelogs (gzip -9n: no name or time stamp inside, so it is reproducible),
# under a target named <target>.
function(talveco_gzip target source compressed)
  add_custom_command(OUTPUT ${compressed}
                     COMMAND sh -c "gzip -9n -c \"$1\" >\"$2\"" sh ${source} ${compressed}
                     DEPENDS ${source} VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${compressed})
endfunction()

# Installs a program and its compressed man page.
function(talveco_program target)
  cmake_parse_arguments(ARG "" "MAN" "" ${ARGN})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  get_filename_component(page ${ARG_MAN} NAME)
  get_filename_component(section ${ARG_MAN} LAST_EXT)
  string(SUBSTRING ${section} 1 -1 section)
  set(source ${PROJECT_SOURCE_DIR}/${ARG_MAN})
  set(compressed ${PROJECT_BINARY_DIR}/${page}.gz)
  talveco_gzip(${target}_man ${source} ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
          COMPONENT program)
endfunction()

# The pkg-config file finds its prefix from where it lies, so it stays right
# under any install prefix and in the .deb. The libraries are static: their
# own dependencies go in Libs. The headers need C++20, and a plain compiler
# command may default to an older standard.
function(talveco_write_pkgconfig)
  file(RELATIVE_PATH up /${TALVECO_PKGCONFIG_DIR} /)
  string(REGEX REPLACE "/$" "" up ${up})
  get_property(libs GLOBAL PROPERTY TALVECO_PKGCONFIG_LIBS)
  list(JOIN libs " " libs)
  set(pc ${PROJECT_BINARY_DIR}/talveco.pc)
  file(WRITE ${pc} "prefix=\${pcfiledir}/${up}
includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}
libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}

Name: talveco
Description: talveco's ACM audio libraries: ACM streams to 16-bit PCM samples and back
Version: ${PROJECT_VERSION}
Cflags: -std=c++20 -I\${includedir}
Libs: -L\${libdir} ${libs} -pthread
")
  install(FILES ${pc} DESTINATION ${TALVECO_PKGCONFIG_DIR} COMPONENT library)
endfunction()

# talveco-c.pc: the C interface for plain C, `cc x.c $(pkg-config --cflags
# --libs talveco-c)`; the shared library brings its own dependencies.
function(talveco_write_c_pkgconfig)
  file(RELATIVE_PATH up /${TALVECO_PKGCONFIG_DIR} /)
  string(REGEX REPLACE "/$" "" up ${up})
  set(pc ${PROJECT_BINARY_DIR}/talveco-c.pc)
  file(WRITE ${pc} "prefix=\${pcfiledir}/${up}
includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}
libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}

Name: talveco-c
Description: talveco's C interface: ACM audio streams to 16-bit PCM samples and back
Version: ${PROJECT_VERSION}
Cflags: -I\${includedir}
Libs: -L\${libdir} -ltalveco
")
  install(FILES ${pc} DESTINATION ${TALVECO_PKGCONFIG_DIR} COMPONENT library)
endfunction()

function(talveco_write_cmake_package)
  install(EXPORT talvecoTargets NAMESPACE talveco:: DESTINATION ${TALVECO_CMAKE_DIR}
          COMPONENT library)
  configure_package_config_file(cmake/talvecoConfig.cmake.in
                                ${PROJECT_BINARY_DIR}/talvecoConfig.cmake
                                INSTALL_DESTINATION ${TALVECO_CMAKE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/talvecoConfigVersion.cmake
                                   COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/talvecoConfig.cmake
                ${PROJECT_BINARY_DIR}/talvecoConfigVersion.cmake
          DESTINATION ${TALVECO_CMAKE_DIR} COMPONENT library)
endfunction()

# The programs: talveco_program(<target> MAN <page.N>)
talveco_program(talveco MAN doc/talveco.1)
talveco_program(talveco-encode MAN doc/talveco-encode.1)
talveco_program(talveco-decode MAN doc/talveco-decode.1)
# The public libraries, in link order (a library before those it uses):
#   talveco_public_library(<name> OBJECTS_OF <in-tree targets...> HEADERS <files...>)
# installs libtalveco_<name>.a as talveco::<name> with -ltalveco_<name> in talveco.pc.
talveco_public_library(encoder OBJECTS_OF talveco_encode talveco_acm talveco_platform
                       HEADERS include/talveco/encoder.h)
talveco_public_library(decoder OBJECTS_OF talveco_acm talveco_platform
                       HEADERS include/talveco/talveco.h include/talveco/limits.h)

# The C interface: libtalveco.so.1 on its own (the runtime component, a
# package of its own in the .deb), and for building against it the header,
# the libtalveco.so link and talveco-c.pc with the other libraries, exported
# as talveco::c.
install(TARGETS talveco_c EXPORT talvecoTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT library)
install(FILES include/talveco/talveco_c.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/talveco
        COMPONENT library)

talveco_write_cmake_package()
talveco_write_pkgconfig()
talveco_write_c_pkgconfig()
include(cmake/Debian.cmake)
