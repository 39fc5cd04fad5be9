# Run-time services of programs (our host, tests): loading shared libraries
# and catching the interrupt key. The plug-in itself does not use them.
if(WIN32)
  add_library(varnel_runtime STATIC windows/library_windows.cpp windows/interrupt_windows.cpp)
else()
  find_package(Threads REQUIRED)
  add_library(varnel_runtime STATIC posix/library_posix.cpp posix/interrupt_posix.cpp)
  target_link_libraries(varnel_runtime PUBLIC ${CMAKE_DL_LIBS} Threads::Threads)
endif()
target_link_libraries(varnel_runtime PRIVATE varnel_options)
target_include_directories(varnel_runtime PUBLIC ${PROJECT_SOURCE_DIR})
