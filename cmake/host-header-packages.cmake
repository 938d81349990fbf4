# Header-only libraries from Debian serve a cross build as they are, but
# their folder is the build machine's /usr/include, which the target
# compiler must not see whole. Each one's headers are staged in a folder of
# their own, and find_package finds a small package file that points there.
# (CLI11 for the simulator's options and the command-line tool,
# nlohmann-json for the command-line tool.)
set(stage ${CMAKE_BINARY_DIR}/host-headers)
foreach(entry IN ITEMS "CLI11|CLI|CLI11::CLI11"
                       "nlohmann_json|nlohmann|nlohmann_json::nlohmann_json")
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 package)
  list(GET fields 1 folder)
  list(GET fields 2 target)
  if(NOT EXISTS /usr/include/${folder})
    continue()
  endif()
  file(MAKE_DIRECTORY ${stage})
  if(NOT EXISTS ${stage}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${stage}/${folder} SYMBOLIC)
  endif()
  set(config ${CMAKE_BINARY_DIR}/host-packages/${package})
  file(WRITE ${config}/${package}Config.cmake
       "if(NOT TARGET ${target})\n"
       "  add_library(${target} INTERFACE IMPORTED)\n"
       "  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${stage})\n"
       "endif()\n")
  set(${package}_DIR ${config} CACHE PATH "Staged for the cross build" FORCE)
endforeach()
