# A small program that EXEC starts and KILL ends; the tests copy it under unique names.
add_executable(varnolt_sleeper ${CMAKE_CURRENT_SOURCE_DIR}/commands/programs/sleeper.cpp)
target_compile_options(varnolt_sleeper PRIVATE -Wall -Wextra -Werror -municode)
target_link_options(varnolt_sleeper PRIVATE -municode -static)
add_dependencies(commands_tests varnolt_sleeper)
