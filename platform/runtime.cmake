# A run-time service of programs (our host, tests) that the plug-in does not
# use: catching the interrupt key.
if(WIN32)
  add_library(varnel_runtime STATIC windows/interrupt_windows.cpp)
else()
  add_library(varnel_runtime STATIC posix/interrupt_posix.cpp)
endif()
# Built on the platform seam: a program that links only this still finds the
# library loader there.
target_link_libraries(varnel_runtime PUBLIC varnel_platform Threads::Threads PRIVATE varnel_options)
target_include_directories(varnel_runtime PUBLIC ${PROJECT_SOURCE_DIR})
