# Compiler settings shared by every target of the project.
add_library(varnel_options INTERFACE)
target_compile_options(varnel_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
  -Wno-missing-field-initializers)
target_include_directories(varnel_options INTERFACE ${PROJECT_SOURCE_DIR})

if(WIN32)
  target_compile_definitions(varnel_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 UNICODE _UNICODE)
  # Everything links the runtime statically so it needs only system DLLs.
  target_link_options(varnel_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

if(VARNEL_SANITIZE_THREAD)
  target_compile_options(varnel_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(varnel_options INTERFACE -fsanitize=thread)
endif()

if(VARNEL_SANITIZE)
  target_compile_options(varnel_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  target_link_options(varnel_options INTERFACE -fsanitize=address,undefined)
endif()

# Rebuilds in other folders (a second checkout, a clean clone) reuse earlier
# compilations when ccache is installed; paths below the parent folder are
# hashed relative to the build folder.
find_program(VARNEL_CCACHE ccache)
if(VARNEL_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER ${VARNEL_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${VARNEL_CCACHE})
endif()
