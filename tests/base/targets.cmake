# The registry writer's tests use the registry tests' own key, hive and change recorder.
if(TARGET base_tests)
  target_sources(base_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/registry/registry_test_support.cpp)
endif()
