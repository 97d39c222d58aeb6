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
