# The about box's version is checked against the system's own reader of version resources.
if(TARGET ui_tests)
  target_link_libraries(ui_tests PRIVATE version)
endif()
