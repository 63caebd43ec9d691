# Included by CMakeLists.txt once morvenit is defined: a program that anyone can rebuild bit for
# bit, and the release target that packs it.
#
# Nothing in morvenit.exe may tell when or where it was built: the linker leaves the header's time
# stamp at zero, and paths under the source and build folders lose those folders' own names (in
# __FILE__ and in debug information, when a build has either).
if(MINGW)
  # The last map that matches wins: the build folder's, where it lies inside the source folder.
  set(prefix_maps -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                  -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
  foreach(target morvenit_core morvenit)
    target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${prefix_maps}>")
  endforeach()
  target_link_options(morvenit PRIVATE -Wl,--no-insert-timestamp)
elseif(MSVC)
  foreach(target morvenit_core morvenit)
    target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:/Brepro>")
  endforeach()
  target_link_options(morvenit PRIVATE /Brepro)
endif()

# The release, from the program just built: `cmake --build --preset windows --target release`
# writes ${PROJECT_BINARY_DIR}/release/ afresh, with morvenit-<version>-setup.exe,
# morvenit-<version>-portable.zip and their SHA256SUMS, every byte fixed by the commit.
find_package(Python3 COMPONENTS Interpreter)
if(MAKENSIS AND Python3_Interpreter_FOUND)
  add_custom_target(release
    COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/make_release.py
      --source ${PROJECT_SOURCE_DIR} --program $<TARGET_FILE:morvenit> --makensis ${MAKENSIS}
      --out ${PROJECT_BINARY_DIR}/release
    COMMENT "Packing the release in ${PROJECT_BINARY_DIR}/release"
    VERBATIM)
  add_dependencies(release morvenit)
endif()
