# What `cmake --install` puts in place: the program and its man page, and the
# decoder library with its one public header and a CMake package, so that
# another project can `find_package(talveco)` and link `talveco::decoder`.
include(CMakePackageConfigHelpers)

install(TARGETS talveco RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES doc/talveco.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
install(TARGETS talveco-encode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES doc/talveco-encode.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)

set_target_properties(talveco_acm PROPERTIES EXPORT_NAME decoder OUTPUT_NAME talveco_decoder)
set_target_properties(talveco_platform PROPERTIES EXPORT_NAME platform
                                                  OUTPUT_NAME talveco_platform)
install(TARGETS talveco_acm talveco_platform talveco_warnings
        EXPORT talvecoTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)
install(FILES include/talveco/talveco.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/talveco COMPONENT library)

# The encoder library beside the decoder, in the same package: talveco::encoder.
set_target_properties(talveco_encode PROPERTIES EXPORT_NAME encoder OUTPUT_NAME talveco_encoder)
install(TARGETS talveco_encode
        EXPORT talvecoTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)
install(FILES include/talveco/encoder.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/talveco COMPONENT library)

set(TALVECO_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/talveco)
install(EXPORT talvecoTargets NAMESPACE talveco:: DESTINATION ${TALVECO_CMAKE_DIR}
        COMPONENT library)
configure_package_config_file(cmake/talvecoConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/talvecoConfig.cmake
                              INSTALL_DESTINATION ${TALVECO_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/talvecoConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/talvecoConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/talvecoConfigVersion.cmake
        DESTINATION ${TALVECO_CMAKE_DIR} COMPONENT library)

# `cpack -G DEB` in the build directory makes a .deb of the program and the
# library.
set(CPACK_PACKAGE_NAME talveco)
set(CPACK_PACKAGE_VENDOR "talveco developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ACM to WAV converter and ACM decoding library")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "talveco developers <talveco@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
# talveco-encode reads its inputs through libsndfile.
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libsndfile1")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_GENERATOR DEB)
include(CPack)
