# Installing and packaging: the programs in bin/, the panel file and the bitmaps in
# share/kvor-zodid/, the desktop entry, the icon, the AppStream metainfo and the man page;
# `cpack -G DEB` in the build folder makes a Debian package whose Depends are computed from
# the installed programs.
include(GNUInstallDirs)

set(KVOR_APP_ID example.arvensa.kvorzodid)
set(KVOR_DATA_SUBDIR ${CMAKE_INSTALL_DATADIR}/kvor-zodid)

# The program finds its data relative to its own place, wherever the tree is installed.
file(RELATIVE_PATH KVOR_DATA_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/kvor-zodid)
target_compile_definitions(kvor_platform PRIVATE KVOR_DATA_FROM_BIN="${KVOR_DATA_FROM_BIN}")

install(TARGETS kvor-zodid RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kvor-sensor-sim)
  install(TARGETS kvor-sensor-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${KVOR_DATA_FILES} DESTINATION ${KVOR_DATA_SUBDIR})

# The icon: the SVG as drawn, and PNG sizes rendered from it at build time.
set(KVOR_ICON_SVG ${CMAKE_SOURCE_DIR}/resources/kvor-zodid.svg)
find_package(Qt6 REQUIRED COMPONENTS Svg)
add_executable(iconpng tools/iconpng.cpp)
target_link_libraries(iconpng PRIVATE Qt6::Gui Qt6::Svg)
set_target_properties(iconpng PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
set(KVOR_ICON_PNGS)
foreach(size 16 24 32 48 64 128 256)
  set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/kvor-zodid.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
    COMMAND iconpng ${KVOR_ICON_SVG} ${size} ${png}
    DEPENDS iconpng ${KVOR_ICON_SVG}
    COMMENT "Rendering the ${size} px icon")
  list(APPEND KVOR_ICON_PNGS ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(kvor_icons ALL DEPENDS ${KVOR_ICON_PNGS})
install(FILES ${KVOR_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

install(FILES resources/${KVOR_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/${KVOR_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES resources/kvor-zodid.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package.
set(CPACK_PACKAGE_NAME kvor-zodid)
set(CPACK_PACKAGE_VERSION 3.0b)
set(CPACK_PACKAGE_VENDOR "kvor-zodid developers")
set(CPACK_PACKAGE_CONTACT "kvor-zodid developers <kvor-zodid@arvensa.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Operator and set-up program of the K-VOR-RN laser light-band sensor")
set(CPACK_PACKAGE_INSTALL_DIRECTORY kvor-zodid)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://arvensa.example/kvor-zodid/")
# CPack puts the summary above this and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Talks to one sensor over RS-232: identifies it, reads, edits and writes its \
parameter sets, shows it measuring live and its raw CCD video line, and teaches a setpoint. A simulated sensor \
is built in.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)

# A test installs into a temporary prefix and starts the installed program from elsewhere.
if(KVOR_BUILD_TESTS)
  enable_testing()
  add_test(NAME install_tree
    COMMAND ${CMAKE_SOURCE_DIR}/tests/install/install_test.sh ${CMAKE_BINARY_DIR} ${KVOR_APP_ID})
  set_tests_properties(install_tree PROPERTIES TIMEOUT 180)
endif()
