# The library that the CDLL tests load: it lands next to registry_tests.exe.
add_library(cdll_probe SHARED ${CMAKE_CURRENT_SOURCE_DIR}/registry/library/cdll_probe.cpp)
set_target_properties(cdll_probe PROPERTIES PREFIX "")
target_compile_options(cdll_probe PRIVATE -Wall -Wextra -Werror)
target_link_options(cdll_probe PRIVATE -static)
target_link_libraries(cdll_probe PRIVATE user32)
if(TARGET registry_tests)
  add_dependencies(registry_tests cdll_probe)
endif()
