# Stand-in file-dialog providers for the browse tests, one per entry point; the tests
# copy them next to a copy of Varnolt.exe under the providers' library names.
foreach(variant AYGSHELL RFILESHELL TGETFILE)
  string(TOLOWER ${variant} name)
  add_library(provider_${name} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/end_to_end/standin/provider_standin.cpp)
  set_target_properties(provider_${name} PROPERTIES PREFIX "" OUTPUT_NAME provider_${name})
  target_compile_definitions(provider_${name} PRIVATE PROVIDER_${variant})
  target_compile_options(provider_${name} PRIVATE -Wall -Wextra -Werror)
  target_include_directories(provider_${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(provider_${name} PRIVATE -static)
  if(TARGET end_to_end_tests)
    add_dependencies(end_to_end_tests provider_${name})
  endif()
endforeach()

# The release zip, made and unpacked by check_package.sh, and an example run from it.
add_executable(package_tests ${CMAKE_CURRENT_SOURCE_DIR}/package/package_test.cpp)
target_compile_options(package_tests PRIVATE -Wall -Wextra -Werror)
target_link_options(package_tests PRIVATE ${VARNOLT_LINK})
target_link_libraries(package_tests PRIVATE test_support gtest_main)
add_dependencies(package_tests Varnolt help_file)
add_test(NAME package COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/package/check_package.sh ${CMAKE_SOURCE_DIR}
         ${CMAKE_BINARY_DIR} ${CMAKE_CROSSCOMPILING_EMULATOR})
set_tests_properties(package PROPERTIES TIMEOUT 300)

include(${CMAKE_CURRENT_SOURCE_DIR}/package/targets.cmake)

if(TARGET end_to_end_tests)
  target_compile_definitions(end_to_end_tests PRIVATE EXAMPLES_FOLDER=L"Z:${CMAKE_SOURCE_DIR}/examples")
endif()
