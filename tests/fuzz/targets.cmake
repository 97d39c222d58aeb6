# The fuzz harness. vfuzz.exe is both the 'make fuzz' driver and the worker it starts;
# its worker runs the product's code built a second time with run-time checks that turn
# out-of-bounds indexing, undefined arithmetic and stack smashing into crashes.
set(FUZZ_HARDENING -fsanitize=undefined -fsanitize-undefined-trap-on-error -fstack-protector-strong
    -D_FORTIFY_SOURCE=2)

add_library(varnolt_core_hardened STATIC ${VARNOLT_SOURCES})
target_include_directories(varnolt_core_hardened PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(varnolt_core_hardened PRIVATE -Wall -Wextra -Werror -O1 ${FUZZ_HARDENING})
target_link_libraries(varnolt_core_hardened PUBLIC ${VARNOLT_WINDOWS_LIBRARIES} ssp)

# Generators and the watchdog, shared by vfuzz.exe and fuzz_tests.exe.
add_library(fuzz_campaign STATIC ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/harness/generate.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/harness/campaign.cpp)
target_include_directories(fuzz_campaign PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(fuzz_campaign PRIVATE -Wall -Wextra -Werror)
target_link_libraries(fuzz_campaign PUBLIC ${ZLIB_STATIC} advapi32)

add_executable(vfuzz ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/harness/vfuzz.cpp ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/harness/worker.cpp
               ${CMAKE_SOURCE_DIR}/resources/varnolt.rc)
target_compile_options(vfuzz PRIVATE -Wall -Wextra -Werror -municode)
target_link_options(vfuzz PRIVATE -municode ${VARNOLT_LINK})
target_link_libraries(vfuzz PRIVATE fuzz_campaign varnolt_core_hardened test_snapshot)

if(TARGET fuzz_tests)
  target_link_libraries(fuzz_tests PRIVATE fuzz_campaign)
  target_compile_definitions(fuzz_tests PRIVATE FUZZ_CORPUS_FOLDER=L"Z:${CMAKE_SOURCE_DIR}/tests/corpus")
  add_dependencies(fuzz_tests vfuzz)
endif()
