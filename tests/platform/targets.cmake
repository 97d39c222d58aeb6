# The menu bar tests' own bar, menu and broken bar resources.
if(TARGET platform_tests)
  target_sources(platform_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/platform/mobile_shell_test.rc)
endif()
# A hive of the test's own, behind the provisioning test that no document deletes one.
if(TARGET platform_tests)
  target_sources(platform_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/registry/registry_test_support.cpp)
endif()
