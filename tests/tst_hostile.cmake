# Hostile inputs: their generator as a fixture, the frame path under valgrind, and
# the fuzzer's regression inputs replayed through the fuzz target.

set(ZELTORA_HOSTILE_MEDIA_DIR ${CMAKE_BINARY_DIR}/hostile-media)
add_test(NAME hostile_setup
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/hostile/make-hostile.sh ${ZELTORA_HOSTILE_MEDIA_DIR})
set_tests_properties(hostile_setup PROPERTIES FIXTURES_SETUP hostile TIMEOUT 600 LABELS "setup")

target_compile_definitions(tst_hostile PRIVATE ZELTORA_HOSTILE_MEDIA_DIR="${ZELTORA_HOSTILE_MEDIA_DIR}")
set_tests_properties(tst_hostile PROPERTIES FIXTURES_REQUIRED "media;hostile" LABELS "hostile")

# Every pixel of every frame at odd sizes written, nothing outside the buffer.
add_executable(framepath ${CMAKE_CURRENT_SOURCE_DIR}/valgrind/framepath.cpp)
target_link_libraries(framepath PRIVATE zeltora_core)
target_compile_definitions(framepath PRIVATE ZELTORA_TEST_MEDIA_DIR="${ZELTORA_TEST_MEDIA_DIR}")
find_program(VALGRIND_EXECUTABLE valgrind)
if(ZELTORA_SANITIZE OR NOT VALGRIND_EXECUTABLE)
  # valgrind cannot run sanitized programs; the checks still run natively.
  add_test(NAME framepath COMMAND framepath)
  set_tests_properties(framepath PROPERTIES FIXTURES_REQUIRED media TIMEOUT 300 LABELS "hostile")
else()
  # FFmpeg loads libhwy (through libjxl), whose start-up executes RDTSCP; valgrind
  # refuses it on virtual CPUs that do not announce the instruction. A stand-in that
  # only satisfies the linker takes its place for this run.
  add_library(hwy_standin SHARED ${CMAKE_CURRENT_SOURCE_DIR}/valgrind/hwy-stub/hwystub.cpp)
  set_target_properties(hwy_standin PROPERTIES OUTPUT_NAME hwy SOVERSION 1
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/hwy-standin)
  target_link_options(hwy_standin PRIVATE
    -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/valgrind/hwy-stub/hwystub.map)
  add_dependencies(framepath hwy_standin)
  add_test(NAME valgrind_framepath
           COMMAND ${VALGRIND_EXECUTABLE} --tool=memcheck --error-exitcode=1 --track-origins=yes
                   --leak-check=full --errors-for-leak-kinds=definite --quiet
                   $<TARGET_FILE:framepath>)
  set_tests_properties(valgrind_framepath PROPERTIES FIXTURES_REQUIRED media TIMEOUT 600 LABELS "valgrind"
    ENVIRONMENT "LD_LIBRARY_PATH=${CMAKE_CURRENT_BINARY_DIR}/hwy-standin")
endif()

# Inputs the fuzzer once found faulty, and the hostile set, through the fuzz target.
add_executable(fuzz_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_media.cpp
                           ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/replay.cpp)
target_link_libraries(fuzz_replay PRIVATE zeltora_core)
add_test(NAME fuzz_regressions
         COMMAND fuzz_replay ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/regressions ${ZELTORA_HOSTILE_MEDIA_DIR})
set_tests_properties(fuzz_regressions PROPERTIES FIXTURES_REQUIRED hostile TIMEOUT 300 LABELS "hostile")
