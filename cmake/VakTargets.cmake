# One static library per source folder, named after the folder.
#   vak_library(NAME [FILES name.cpp...] [EXCLUDE name.cpp...] [DEPS lib...])
# Sources are the folder's *.cpp, or only the FILES named (the small targets
# that keep the graph acyclic), less those EXCLUDEd; headers are included from
# the repository root ("Vak/Bexlorn/String.h").
function(vak_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;FILES;EXCLUDE" ${ARGN})
  if(ARG_FILES)
    list(TRANSFORM ARG_FILES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    file(GLOB sources CONFIGURE_DEPENDS ${ARG_FILES})
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(NOT sources)  # a folder whose first files are still to come
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -Wall -Wextra)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# One GoogleTest binary per library, labelled with the library's name so that
# `ctest -L <library>` runs just its tests. TIMEOUT (seconds) bounds each test,
# for tests that talk to other processes.
#   vak_test(LIBRARY [DEPS lib...] [TIMEOUT seconds])
function(vak_test lib)
  cmake_parse_arguments(ARG "" "TIMEOUT" "DEPS" ${ARGN})
  set(timeout)
  if(ARG_TIMEOUT)
    set(timeout TIMEOUT ${ARG_TIMEOUT})
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  set(target ${lib}_tests)
  add_executable(${target} ${sources})
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_link_libraries(${target} PRIVATE ${lib} ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${lib} ${timeout}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

# A data file's bytes, exactly, as the text a function returns; the source is
# written at build time (cmake/EmbedText.cmake), so the text lives only in data/.
#   vak_embed_text(TARGET FILE data/name.txt FUNCTION Ns::Name HEADER dir/Name.h)
function(vak_embed_text target)
  cmake_parse_arguments(ARG "" "FILE;FUNCTION;HEADER" "" ${ARGN})
  set(input ${PROJECT_SOURCE_DIR}/${ARG_FILE})
  get_filename_component(stem ${ARG_FILE} NAME_WE)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${stem}.cpp)
  set(script ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DFUNCTION=${ARG_FUNCTION} -DHEADER=${ARG_HEADER}
            -P ${script}
    DEPENDS ${input} ${script}
    COMMENT "Embedding ${ARG_FILE}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()
