# One target carries the language level, warnings and Qt's strict defines;
# every target of the project links it.
add_library(quellmark_flags INTERFACE)
target_compile_features(quellmark_flags INTERFACE cxx_std_20)
target_compile_options(quellmark_flags INTERFACE -Wall -Wextra -Wpedantic)
if(QM_WERROR)
  target_compile_options(quellmark_flags INTERFACE -Werror)
endif()
target_compile_definitions(quellmark_flags INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_CAST_FROM_BYTEARRAY
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_NO_FOREACH
  QT_USE_QSTRINGBUILDER)
if(QM_SANITIZE)
  target_compile_options(quellmark_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(quellmark_flags INTERFACE -fsanitize=address,undefined)
endif()
if(QM_BUILD_FUZZ)
  target_compile_options(quellmark_flags INTERFACE -fsanitize=fuzzer-no-link,address,undefined)
  target_link_options(quellmark_flags INTERFACE -fsanitize=address,undefined)
endif()

# Adds a static library from the sources of one folder.
function(qm_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC quellmark_flags ${ARG_LINK})
  else()
    # Nothing to compile yet: still a target others can link.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE quellmark_flags ${ARG_LINK})
  endif()
endfunction()
