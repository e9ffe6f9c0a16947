# The Windows build (see cmake/toolchain-mingw-w64.cmake).

# Resource scripts (manifests, and the dialogs' icons and bitmaps).
enable_language(RC)

# Header-only libraries reach the cross compiler through a folder of their own:
# -I/usr/include would bring the host's C library headers in.
set(ORVEL_WINDOWS_INCLUDE ${CMAKE_BINARY_DIR}/windows-include)
file(MAKE_DIRECTORY ${ORVEL_WINDOWS_INCLUDE})
foreach(dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run tools/install-deps.sh windows")
  endif()
  if(NOT EXISTS ${ORVEL_WINDOWS_INCLUDE}/${dir})
    file(CREATE_LINK /usr/include/${dir} ${ORVEL_WINDOWS_INCLUDE}/${dir} SYMBOLIC)
  endif()
endforeach()

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${ORVEL_WINDOWS_INCLUDE})
# CLI11 without std::filesystem, which needs Windows functions newer than 2000.
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${ORVEL_WINDOWS_INCLUDE}
  INTERFACE_COMPILE_DEFINITIONS CLI11_HAS_FILESYSTEM=0)

# The headers declare nothing newer than Windows 2000; anything newer is
# looked up at run time (GetProcAddress).
add_compile_definitions(_WIN32_WINNT=0x0500 WINVER=0x0500)
