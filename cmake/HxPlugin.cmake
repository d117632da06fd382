# Plugin libraries built like users' plugins: ELF shared objects on Linux,
# PE DLLs whose exports a GBK .def names on Windows (the Chinese export names
# as E-language plugins carry them). On Linux the sources give their exports
# assembler names instead.
#   hx_plugin(NAME SOURCES s... [DEFINES d...] [INCLUDES dir...] [EXPORTS "export=internal/argbytes"...])
# A plugin is written next to the current binary directory as NAME.so/.dll.
function(hx_plugin name)
  cmake_parse_arguments(P "" "" "SOURCES;DEFINES;INCLUDES;EXPORTS" ${ARGN})
  add_library(${name} MODULE ${P_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/sdk ${P_INCLUDES})
  target_compile_definitions(${name} PRIVATE ${P_DEFINES})
  set_target_properties(${name} PROPERTIES PREFIX "" C_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(WIN32)
    # Chinese names are written in UTF-8 here and converted to GBK.
    set(_lines "EXPORTS\n")
    foreach(e ${P_EXPORTS})
      string(REGEX MATCH "^([^=]+)=([^/]+)/([0-9]+|cdecl)$" _m "${e}")
      set(_export ${CMAKE_MATCH_1})
      set(_internal ${CMAKE_MATCH_2})
      if(CMAKE_MATCH_3 STREQUAL "cdecl")
        string(APPEND _lines "  \"${_export}\"=${_internal}\n")
        continue()
      endif()
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(_internal "${_internal}@${CMAKE_MATCH_3}")
      endif()
      string(APPEND _lines "  \"${_export}\"=${_internal}\n")
    endforeach()
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.def.utf8 "${_lines}")
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}.def
      COMMAND iconv -f UTF-8 -t GBK ${CMAKE_CURRENT_BINARY_DIR}/${name}.def.utf8 > ${CMAKE_CURRENT_BINARY_DIR}/${name}.def
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${name}.def.utf8 VERBATIM)
    target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}.def)
    target_link_options(${name} PRIVATE -static-libgcc $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},4>:-Wl,--kill-at>)
  endif()
endfunction()
