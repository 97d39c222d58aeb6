# Stand-ins for the UnRAR library (complete, and one without RARProcessFileW); the tests
# copy one of them into a temporary folder as UnRAR.dll.
foreach(variant full partial)
  add_library(unrar_${variant} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/archive/standin/unrar_standin.cpp)
  set_target_properties(unrar_${variant} PROPERTIES PREFIX "" OUTPUT_NAME unrar_${variant})
  target_compile_options(unrar_${variant} PRIVATE -Wall -Wextra -Werror)
  target_include_directories(unrar_${variant} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(unrar_${variant} PRIVATE -static)
endforeach()
target_compile_definitions(unrar_partial PRIVATE STANDIN_WITHOUT_PROCESS_FILE)

# Tar fixtures made on the build machine with GNU tar and gzip (the tests run under Wine
# and cannot call them).
set(ARCHIVE_FIXTURES ${CMAKE_BINARY_DIR}/archive-fixtures)
add_custom_command(
  OUTPUT ${ARCHIVE_FIXTURES}/gnu.tar ${ARCHIVE_FIXTURES}/gnu.tgz
         ${ARCHIVE_FIXTURES}/default.tar.gz ${ARCHIVE_FIXTURES}/pax.tgz
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/archive/make_fixtures.sh ${ARCHIVE_FIXTURES}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/archive/make_fixtures.sh
  COMMENT "Making tar fixtures with GNU tar and gzip")
# The format comparison: a tree archived by GNU tar in every format and by Python's
# tarfile, with manifests of what GNU tar extracts from each.
set(ARCHIVE_FORMATS ${CMAKE_BINARY_DIR}/archive-formats)
add_custom_command(
  OUTPUT ${ARCHIVE_FORMATS}/python.manifest
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/archive/make_formats.py ${ARCHIVE_FORMATS}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/archive/make_formats.py
  COMMENT "Making tar archives of every format with GNU tar and Python")
add_custom_target(archive_fixtures DEPENDS ${ARCHIVE_FIXTURES}/gnu.tar ${ARCHIVE_FORMATS}/python.manifest)

if(TARGET archive_tests)
  add_dependencies(archive_tests unrar_full unrar_partial archive_fixtures)
endif()
