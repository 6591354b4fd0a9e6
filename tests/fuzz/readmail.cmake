# fuzz_readmail: ReadMail over arbitrary bytes, saving attachments into a scratch folder.
# For coverage inside the transport library configure the whole build with
#   CC=clang CXX=clang++ cmake -DKORIMO_FUZZ=ON -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined
add_executable(fuzz_readmail ${CMAKE_CURRENT_LIST_DIR}/fuzz_readmail.cpp)
target_compile_options(fuzz_readmail PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(fuzz_readmail PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(fuzz_readmail PRIVATE korimo_mail)
