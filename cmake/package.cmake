# Installation and the Debian package: the program in bin, a menu entry, hicolor icons made
# from the application icon, a manual page and the documents Debian asks for.
# The package is meant to be built with -DCMAKE_INSTALL_PREFIX=/usr (scripts/package): the
# program compares its own folder with that prefix to know it runs installed.

install(TARGETS quellmark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(qm_package_dir ${PROJECT_SOURCE_DIR}/resources/package)
install(FILES ${qm_package_dir}/quellmark.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# Icons: every size of the theme up to the picture's own, scaled by Qt at build time.
set(qm_icon_sizes 16 22 24 32 48 64 128 256)
set(qm_icon_dir ${PROJECT_BINARY_DIR}/icons)
add_executable(scale_icon ${PROJECT_SOURCE_DIR}/scripts/scale_icon.cpp)
target_link_libraries(scale_icon PRIVATE quellmark_flags Qt6::Gui)
set(qm_icon_files)
foreach(size IN LISTS qm_icon_sizes)
  list(APPEND qm_icon_files ${qm_icon_dir}/${size}x${size}/apps/quellmark.png)
endforeach()
add_custom_command(OUTPUT ${qm_icon_files}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:scale_icon>
          ${PROJECT_SOURCE_DIR}/resources/pictures/app_icon.png ${qm_icon_dir} quellmark ${qm_icon_sizes}
  DEPENDS scale_icon ${PROJECT_SOURCE_DIR}/resources/pictures/app_icon.png
  COMMENT "Scaling the application icon")

# Debian wants its documents compressed without a time stamp.
set(qm_doc_dir ${PROJECT_BINARY_DIR}/package-docs)
add_custom_command(OUTPUT ${qm_doc_dir}/changelog.gz ${qm_doc_dir}/quellmark.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${qm_doc_dir}
  COMMAND gzip -9nc ${qm_package_dir}/changelog > ${qm_doc_dir}/changelog.gz
  COMMAND gzip -9nc ${qm_package_dir}/quellmark.1 > ${qm_doc_dir}/quellmark.1.gz
  DEPENDS ${qm_package_dir}/changelog ${qm_package_dir}/quellmark.1)
add_custom_target(package_files ALL DEPENDS ${qm_icon_files} ${qm_doc_dir}/changelog.gz)

install(DIRECTORY ${qm_icon_dir}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${qm_doc_dir}/quellmark.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${qm_package_dir}/copyright ${qm_doc_dir}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quellmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quellmark developers <quellmark@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries do not name (the media back end's plug-ins, a font that has Chinese, Qt's
# Chinese texts for its standard dialogs): the "runtime" lines of the project's package list.
file(STRINGS ${PROJECT_SOURCE_DIR}/scripts/debian-packages qm_runtime_packages REGEX "^runtime ")
list(TRANSFORM qm_runtime_packages REPLACE "^runtime +" "")
list(JOIN qm_runtime_packages ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "file catalogue and search for drives, cards and USB disks
Scans chosen folders of local drives, card readers and USB disks once into a
catalogue, then filters it as the user types a file number, part of a name or
the pinyin initials of a Chinese name. Listed songs, films and pictures are
copied onto a memory card or USB disk with progress, played, or previewed as
pages of thumbnails. The user interface is Chinese.")
include(CPack)
