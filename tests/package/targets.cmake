# The packages of make dist beyond the zip (tests/end_to_end/targets.cmake has the zip's test).
# The editor extension: its grammar on annotated sample scripts, its own checks, and the .vsix.
add_test(NAME editor COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/package/check_editor.py ${CMAKE_SOURCE_DIR})
set_tests_properties(editor PROPERTIES TIMEOUT 300)
# The MSI under Wine's msiexec in a prefix of its own; skipped (77) where wixl is missing.
add_test(NAME msi COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/package/check_msi.py ${CMAKE_SOURCE_DIR}
         ${CMAKE_BINARY_DIR})
set_tests_properties(msi PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
