# Manual pages, the package's documents, and the Debian package made by
# CPack (cpack -G DEB in the build folder, or tools/make-deb.sh).

# Manual pages are installed compressed, as Debian wants them: gzip -9 -n,
# so that the same page always gives the same bytes.
find_program(QUARVEX_GZIP gzip REQUIRED)
set(_gz_dir ${CMAKE_CURRENT_BINARY_DIR}/gz)
set(_gz_files)
foreach(_source docs/man/quarvex.1 docs/man/quarvex-convert.1 docs/debian/changelog)
  get_filename_component(_name ${_source} NAME)
  add_custom_command(OUTPUT ${_gz_dir}/${_name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_gz_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/${_source} ${_gz_dir}/${_name}
    COMMAND ${QUARVEX_GZIP} -9 -n -f ${_gz_dir}/${_name}
    DEPENDS ${_source}
    VERBATIM)
  list(APPEND _gz_files ${_gz_dir}/${_name}.gz)
endforeach()
add_custom_target(quarvex_docs ALL DEPENDS ${_gz_files})
install(FILES ${_gz_dir}/quarvex.1.gz ${_gz_dir}/quarvex-convert.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES docs/debian/copyright ${_gz_dir}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The changelog's newest entry names the version the package is made of.
file(STRINGS docs/debian/changelog _newest LIMIT_COUNT 1)
if(NOT _newest MATCHES "^quarvex \\(${PROJECT_VERSION}\\) ")
  message(WARNING "docs/debian/changelog has no entry for version ${PROJECT_VERSION} at its top")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quarvex developers <quarvex@quarvex.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert KML and KMZ files into ESRI shapefile layers")
set(CPACK_PACKAGE_DESCRIPTION
  "Quarvex reads a KML file or KMZ archive and writes the points, paths and\n"
  "polygon rings of its placemarks as ESRI shapefile layers, then draws them\n"
  "on a map. The command-line program quarvex-convert runs the same\n"
  "conversion without windows, saves the map as a PNG picture, and exports\n"
  "complete shapefile sets (.shp, .shx, .dbf, .cpg, .prj) for GIS programs,\n"
  "in WGS 84 or projected into a UTM zone.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OBJCOPY ${CMAKE_OBJCOPY})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/cmake/StripNotes.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The metric twins of the designed fonts, which the windows are laid out for.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation2)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
include(CPack)
