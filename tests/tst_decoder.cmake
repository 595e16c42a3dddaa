# The local-files-only check listens for connections the decoder must never make.
find_package(Qt6 REQUIRED COMPONENTS Network)
target_link_libraries(tst_decoder PRIVATE Qt6::Network)
set_tests_properties(tst_decoder PROPERTIES LABELS "decoder")
