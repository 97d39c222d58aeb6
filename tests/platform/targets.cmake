# The menu bar tests' own bar, menu and broken bar resources.
if(TARGET platform_tests)
  target_sources(platform_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/platform/mobile_shell_test.rc)
endif()
