# A stand-in bundle whose style sheet exists but is empty, registered by the test
# in place of the real one to drive the loader's empty-sheet branch.
qt_add_binary_resources(tst_resources_empty_sheet
  ${CMAKE_CURRENT_SOURCE_DIR}/empty-sheet/empty-sheet.qrc
  DESTINATION ${CMAKE_CURRENT_BINARY_DIR}/empty-sheet.rcc)
add_dependencies(tst_resources tst_resources_empty_sheet)
target_compile_definitions(tst_resources PRIVATE
  EMPTY_SHEET_RCC="${CMAKE_CURRENT_BINARY_DIR}/empty-sheet.rcc")
set_tests_properties(tst_resources PROPERTIES LABELS "resources")
