# The Windows build of the suite: a few POSIX calls of the tests get their
# Windows form (compat.h and the headers beside it), and the test program
# finds FFmpeg's functions behind fault injection through psapi. The tests
# link the library's objects, not the DLL: the header is read as the
# library's own (no dllimport).
target_sources(flatav_test_support PRIVATE ${CMAKE_CURRENT_LIST_DIR}/compat.cpp)
foreach(target flatav_test_support flatav_tests)
  target_include_directories(${target} BEFORE PRIVATE ${CMAKE_CURRENT_LIST_DIR}/include)
  target_compile_options(${target} PRIVATE -include ${CMAKE_CURRENT_LIST_DIR}/compat.h)
  target_compile_definitions(${target} PRIVATE FLATAV_BUILDING)
endforeach()
target_link_libraries(flatav_tests PRIVATE psapi)
